#include "support/simroot.h"
#include "util/log2file.h"
#include "util/paths.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <sstream>
#include <sys/stat.h>
#include <thread>
#include <vector>

using namespace testsupport;

TEST(SimRoot, PathsMapBelowRootOnlyWhenSetAndKernelRelease)
{
    SimRoot g;
    g.unsetEnv("IMGSMITH_ROOT");
    imgsmith::resetSimRootCache();
    EXPECT_EQ(imgsmith::sysPath("/proc/cpuinfo"), "/proc/cpuinfo");

    g.setEnv("IMGSMITH_ROOT", "/sim/board/");
    EXPECT_EQ(imgsmith::simRoot(), "/sim/board");
    EXPECT_EQ(imgsmith::sysPath("/proc/cpuinfo"), "/sim/board/proc/cpuinfo");
    // Resolving twice must not nest the root.
    EXPECT_EQ(imgsmith::sysPath("/sim/board/dev/mmcblk2"), "/sim/board/dev/mmcblk2");
    // A sibling that merely shares the prefix is a different path.
    EXPECT_EQ(imgsmith::sysPath("/sim/boardX/a"), "/sim/board/sim/boardX/a");
    EXPECT_EQ(imgsmith::sysPath("relative/x"), "relative/x");
    EXPECT_EQ(imgsmith::unSysPath("/sim/board/mnt/sdcard/x"), "/mnt/sdcard/x");
    EXPECT_EQ(imgsmith::unSysPath("/elsewhere"), "/elsewhere");

    // The kernel release from the root, else from uname.
    SimRoot d;
    EXPECT_FALSE(imgsmith::kernelRelease().empty());
    d.put("proc/sys/kernel/osrelease", "4.4.179-custom\n");
    EXPECT_EQ(imgsmith::kernelRelease(), "4.4.179-custom");
}

TEST(Log2File, ConcurrentRecordsStayWholeAndUnopenableFileIsIgnored)
{
    SimRoot d;
    mkdir(d.file("tmp").c_str(), 0755);
    const int threads = 4, records = 500;
    std::vector<std::thread> pool;
    for (int t = 0; t < threads; ++t) {
        pool.emplace_back([t] {
            for (int i = 0; i < records; ++i)
                log2file("thread %d record %04d %s\n", t, i, std::string(200, char('a' + t)).c_str());
        });
    }
    for (auto &th : pool)
        th.join();
    std::istringstream in(readFile(d.file("tmp/imgsmith-gui.log")));
    std::string line;
    int count = 0;
    while (std::getline(in, line)) {
        ++count;
        ASSERT_EQ(line.size(), std::string("thread 0 record 0000 ").size() + 200) << line;
        const char c = line[line.size() - 1];
        EXPECT_EQ(line.find_first_not_of(c, line.size() - 200), std::string::npos) << line;
    }
    EXPECT_EQ(count, threads * records);

    // A file that cannot be opened drops the record, creating nothing.
    d.setEnv("IMGSMITH_ROOT", d.path() + "/no-such-dir");
    log2file("dropped %d\n", 1);
    EXPECT_NE(access((d.path() + "/no-such-dir").c_str(), F_OK), 0);
}
