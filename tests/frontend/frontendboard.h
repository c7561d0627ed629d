// A simulated board with the scan tree, shared by the front-end tests: made
// once per test program and left in place.
#pragma once

#include <string>

namespace frontendtest {

// Builds the board on first use; returns its root.
const std::string &board();

} // namespace frontendtest
