// Resolver for every fixed system path of the program.
//
// The whole program can run against a simulated board: when the environment
// variable IMGSMITH_ROOT names a directory, every absolute system path
// ("/proc/cpuinfo", "/dev/mmcblk2", "/mnt/sdcard", "/tmp/...") is taken below
// it. Unset, paths are used as they are. Plain C++ so that the storage layer
// can use it without Qt.
#pragma once

#include <string>

namespace imgsmith {

// The simulation root without a trailing slash, or "" when none is set.
std::string simRoot();

// Maps an absolute system path into the simulation root. Relative paths and
// paths that already lie below the root come back unchanged, so resolving
// twice is harmless.
std::string sysPath(const std::string &path);

// Inverse of sysPath(): the path as the running system would name it (strips
// the simulation root). Used where a path is shown to the user or compared
// with names the kernel reports.
std::string unSysPath(const std::string &path);

// The kernel release ("6.1.0-rpi7"): from $IMGSMITH_ROOT/proc/sys/kernel/osrelease
// when a root is set and that file exists, else from uname(2). Empty on failure.
std::string kernelRelease();

// Re-reads IMGSMITH_ROOT (tests change it between cases).
void resetSimRootCache();

} // namespace imgsmith
