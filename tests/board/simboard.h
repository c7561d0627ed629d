// The shared simulated board with the board table built.
#pragma once

#include "board/boardhardwareinfo.h"
#include "support/qt/simboard.h"

using testsupport::DebugCapture;

class SimBoard : public testsupport::SimBoard
{
public:
    // `subdir`: a directory inside the temporary one as the root, to put
    // awkward text into the root path itself.
    explicit SimBoard(const std::string &subdir = std::string()) : testsupport::SimBoard(subdir) { initBoardType(); }
};
