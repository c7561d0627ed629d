// Running-kernel version test of the board module (internal).
#pragma once

#include "util/util.h"

namespace boardkernel {

// Kernel major.minor is at least the given one; `whenUnreadable` when the
// release cannot be read.
inline bool atLeast(int major, int minor, bool whenUnreadable)
{
    int v[3];
    if (Util::getKernelVersion(v, 3) != 0)
        return whenUnreadable;
    return v[0] > major || (v[0] == major && v[1] >= minor);
}

} // namespace boardkernel
