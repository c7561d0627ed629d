// A simulated board with the scan tree, shared by the front-end tests: made
// once per test program (make-sim-board.sh --sets none, make-scan-tree.sh).
#pragma once

#include <string>

namespace frontendtest {

// Builds the board on first use, points IMGSMITH_ROOT at it and identifies
// it; returns its root.
const std::string &board();

} // namespace frontendtest
