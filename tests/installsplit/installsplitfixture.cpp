#include "installsplitfixture.h"

#include <QCoreApplication>
#include <QDir>
#include <QEventLoop>

#include <cstdlib>
#include <dirent.h>

#include "board/boardhardwareinfo.h"
#include "install/installevents.h"
#include "install/sdupdatethread.h"
#include "storage/mmc.h"
#include "util/paths.h"

using namespace testsupport;

void SimBoardTest::SetUp()
{
    const CmdResult sim = run(std::string("bash ") + shq(MAKE_SIM_BOARD) +
                              " --sets none --emmc-mib 64 --nvme-mib 64 " + shq(m_root.path()));
    ASSERT_EQ(sim.status, 0) << sim.err;
    mmc_reset_state_for_test();
    BUFFER_SIZE = 256 * 1024;
    setenv("IMGSMITH_ROOT", m_root.path().c_str(), 1);
    imgsmith::resetSimRootCache();
    const char *path = getenv("PATH");
    m_oldPath = path ? path : "";
    setenv("PATH", (std::string(MKDTIMG_DIR) + ":" + m_oldPath).c_str(), 1);
    initBoardType();
    gCurrentBoardInfo = GetBoardType();
    ASSERT_NE(gCurrentBoardInfo, nullptr);
    ASSERT_EQ(gCurrentBoardInfo->cpuName.toUpper(), "RK3588");
}

void SimBoardTest::TearDown()
{
    setenv("PATH", m_oldPath.c_str(), 1);
    mmc_reset_state_for_test();
    resetBoardStateForTest();
    unsetenv("IMGSMITH_ROOT");
    imgsmith::resetSimRootCache();
}

OSConfig SimBoardTest::scanSet(const std::string &name) const
{
    const QString dir = QString::fromStdString(setDir(name));
    return OSConfig(dir, QDir(dir).entryList(QDir::Files, QDir::Name));
}

EventLog SimBoardTest::install(const OSConfig &c, const TargetDevice &boot, const TargetDevice &system,
                               std::function<void(SDUpdateThread &)> setup)
{
    SDUpdateThread job(c, boot, system);
    if (setup)
        setup(job);
    EventRecorder recorder;
    job.setEventReceiver(&recorder);
    QEventLoop loop;
    QObject::connect(&job, &QThread::finished, &loop, &QEventLoop::quit, Qt::QueuedConnection);
    job.start();
    loop.exec();
    job.wait();
    QCoreApplication::sendPostedEvents(&recorder);
    setInstallEventReceiver(nullptr);
    EventLog rec = recorder;
    EXPECT_EQ(mmc_fd, -1) << "the device must be released when the job ends";
    EXPECT_EQ(rec.terminal().size(), 1) << "exactly one terminal event";
    return rec;
}

std::vector<uint8_t> SimBoardTest::putPattern(const std::string &path, size_t size, uint32_t seed) const
{
    std::vector<uint8_t> b = patternBytes(size, seed);
    writeFile(path, std::string(b.begin(), b.end()));
    return b;
}

void SimBoardTest::makeExt4(const std::string &path, int mib, const std::string &label) const
{
    const std::string src = root("src-" + label);
    run("mkdir -p " + shq(src));
    writeFile(src + "/hello.txt", "hello from " + label + "\n");
    const CmdResult r = run("mkfs.ext4 -q -F -L " + label + " -d " + shq(src) + " " + shq(path) + " " +
                            std::to_string(mib) + "M");
    ASSERT_EQ(r.status, 0) << r.err;
}

bool SimBoardTest::holdsAt(const std::string &device, const std::string &file, int64_t offset)
{
    return run("cmp -n $(stat -c %s " + shq(file) + ") -i 0:" + std::to_string(offset) + " " + shq(file) + " " +
               shq(device))
               .status == 0;
}

bool SimBoardTest::zeroAt(const std::string &device, int64_t offset, int64_t length)
{
    return run("cmp -n " + std::to_string(length) + " -i " + std::to_string(offset) + ":0 " + shq(device) +
               " /dev/zero")
               .status == 0;
}

std::vector<std::string> SimBoardTest::entriesStartingWith(const std::string &dir, const std::string &prefix)
{
    std::vector<std::string> out;
    DIR *d = opendir(dir.c_str());
    if (!d)
        return out;
    while (const dirent *e = readdir(d)) {
        const std::string n = e->d_name;
        if (n.compare(0, prefix.size(), prefix) == 0)
            out.push_back(n);
    }
    closedir(d);
    return out;
}
