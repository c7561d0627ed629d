// bootargs_ext of every overlay of a DT table image, in table order: the
// mkdtimg stand-in beside this file checks the table and writes the overlays
// to <dir>/ov.<i>, fdtget reads them. For the tests that build overlay
// images; they define MKDTIMG_DIR as this directory.
#pragma once

#include "support/testsupport.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

inline std::vector<std::string> overlayArgs(const std::string &dir, const std::string &img)
{
    using testsupport::shq;
    const testsupport::CmdResult r =
        testsupport::run("cd " + shq(dir) + " && rm -f ov.* && " + shq(MKDTIMG_DIR "/mkdtimg") + " dump " + shq(img) +
                         " -b ov && i=0 && while [ -f ov.$i ]; do fdtget -t s ov.$i /fragment@0/__overlay__ "
                         "bootargs_ext || exit 1; i=$((i + 1)); done");
    EXPECT_EQ(r.status, 0) << r.err;
    std::vector<std::string> args;
    std::istringstream lines(r.out);
    for (std::string l; std::getline(lines, l);)
        args.push_back(l);
    return args;
}
