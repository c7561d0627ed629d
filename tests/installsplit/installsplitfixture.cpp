#include "installsplitfixture.h"

#include "board/boardhardwareinfo.h"
#include "install/sdupdatethread.h"
#include "storage/mmc.h"

using namespace testsupport;

void SimBoardTest::SetUp()
{
    ASSERT_EQ(m_root.makeBoard("--sets none --emmc-mib 64 --nvme-mib 64"), "");
    BUFFER_SIZE = 256 * 1024;
    m_root.prependPath(MKDTIMG_DIR);
    ASSERT_NE(m_root.identify(), nullptr);
    ASSERT_EQ(gCurrentBoardInfo->cpuName.toUpper(), "RK3588");
}

EventLog SimBoardTest::install(const OSConfig &c, const TargetDevice &boot, const TargetDevice &system,
                               std::function<void(SDUpdateThread &)> setup)
{
    SDUpdateThread job(c, boot, system);
    if (setup)
        setup(job);
    return runInstall(job);
}

void SimBoardTest::makeExt4(const std::string &path, int mib, const std::string &label)
{
    const CmdResult r = mkfsExt4(path, mib, label, {{"hello.txt", "hello from " + label + "\n"}});
    ASSERT_EQ(r.status, 0) << r.err;
}

std::string SimBoardTest::entriesStartingWith(const std::string &dir, const std::string &prefix)
{
    return run("cd " + shq(dir) + " && ls -d " + shq(prefix) + "* 2>/dev/null").out;
}
