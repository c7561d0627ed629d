#include "backupfixture.h"

#include <QCoreApplication>
#include <QEventLoop>

#include <cstdlib>

#include "backup/onboardflashbackupandrestorefinishthreadevent.h"
#include "backup/onboardflashbackupandrestorethread.h"
#include "backup/onboardflashbackupandrestorethreadevent.h"
#include "board/boardhardwareinfo.h"
#include "startup/globals.h"
#include "storage/mmc.h"
#include "util/paths.h"

using namespace testsupport;

int BackupLog::count(int type) const
{
    int n = 0;
    for (const BackupEvent &e : events)
        n += e.type == type;
    return n;
}

QString BackupLog::errorText() const
{
    for (const BackupEvent &e : events)
        if (e.isError)
            return e.message;
    return QString();
}

bool BackupEventRecorder::event(QEvent *e)
{
    const int type = static_cast<int>(e->type());
    if (type < 1200 || type > 1202)
        return QObject::event(e);
    BackupEvent r;
    r.type = type;
    if (type == 1200) {
        auto *p = static_cast<OnboardFlashBackupAndRestoreThreadEvent *>(e);
        r.action = p->action();
        r.percent = p->percent();
        r.isError = p->isError();
        r.message = p->message();
    }
    events << r;
    return true;
}

void runThreadToEnd(QThread &job, const std::function<void()> &start, QObject *receiver)
{
    QEventLoop loop;
    QObject::connect(&job, &QThread::finished, &loop, &QEventLoop::quit, Qt::QueuedConnection);
    start();
    loop.exec();
    job.wait();
    QCoreApplication::sendPostedEvents(receiver);
}

void BackupBoard::SetUp()
{
    mmc_reset_state_for_test();
    BUFFER_SIZE = 4 << 20;
    resetGlobalsForTest();
    setenv("IMGSMITH_ROOT", root().c_str(), 1);
    imgsmith::resetSimRootCache();
    run("mkdir -p " + shq(file("dev")) + " " + shq(file("tmp")) + " " + shq(file("mnt/sdcard")) + " " +
        shq(file("mnt/udisk")) + " " + shq(file("proc/sys/kernel")));
    writeFile(file("proc/sys/kernel/osrelease"), "6.1.99-sim\n");
    writeFile(file("proc/mounts"), "/dev/mmcblk0p1 /mnt/sdcard exfat rw,relatime 0 0\n");
    writeFile(file("proc/partitions"), "major minor  #blocks  name\n\n 179 0 7634944 mmcblk0\n 179 1 7633920 mmcblk0p1\n");
    m_board.reset(new BoardHardwareInfo);
    m_board->cpuName = "RK3588";
    m_board->boardName = "CV-RK3588";
    gCurrentBoardInfo = m_board.get();
    setenv("IMGSMITH_SIM_TOOLS_LOG", file("tools.log").c_str(), 1);
    static const std::string basePath = getenv("PATH") ? getenv("PATH") : "/usr/bin:/bin";
    setenv("PATH", (std::string(IMGSMITH_SIM_TOOLS_DIR) + ":" + basePath + ":/usr/sbin:/sbin").c_str(), 1);
    unsetenv("IMGSMITH_SIM_DF");
}

void BackupBoard::TearDown()
{
    gCurrentBoardInfo = nullptr;
    unsetenv("IMGSMITH_ROOT");
    unsetenv("IMGSMITH_SIM_TOOLS_LOG");
    unsetenv("IMGSMITH_SIM_DF");
    imgsmith::resetSimRootCache();
    mmc_reset_state_for_test();
    resetGlobalsForTest();
}

void BackupBoard::makeEmmc(int64_t bytes)
{
    makeSparseFile(emmc(), static_cast<uint64_t>(bytes));
    gOnboardFlashSize = bytes / 1024;
}

void BackupBoard::makeUsbDrive(int mib, bool partitioned)
{
    const std::string dev = "sys/devices/platform/fc000000.usb/xhci-hcd.0.auto/usb1/1-1/host0/block/sda";
    run("mkdir -p " + shq(file(dev)) + " " + shq(file("sys/block")) + " " + shq(file("sys/class/block")));
    writeFile(file(dev + "/size"), std::to_string(mib * 2048) + "\n");
    run("ln -sfn ../../" + dev.substr(4) + " " + shq(file("sys/class/block/sda")) + " && ln -sfn ../" +
        dev.substr(4) + " " + shq(file("sys/block/sda")));
    makeSparseFile(file("dev/sda"), static_cast<uint64_t>(mib) << 20);
    std::string parts = readFile(file("proc/partitions")) + "   8 0 " + std::to_string(mib * 1024) + " sda\n";
    if (partitioned)
        parts += "   8 1 " + std::to_string(mib * 1024 - 1024) + " sda1\n";
    writeFile(file("proc/partitions"), parts);
}

void BackupBoard::mount(const std::string &dev, const std::string &dir, const std::string &type,
                        const std::string &opts)
{
    writeFile(file("proc/mounts"), readFile(file("proc/mounts")) + dev + " " + dir + " " + type + " " + opts + " 0 0\n");
}

std::string BackupBoard::toolLog() const
{
    return readFile(file("tools.log"));
}

void BackupBoard::dfSays(const std::string &lines)
{
    writeFile(file("df.out"), "Filesystem 1K-blocks Used Available Use% Mounted on\n" + lines);
    setenv("IMGSMITH_SIM_DF", file("df.out").c_str(), 1);
}

BackupLog BackupBoard::backUp(const QString &image, int mediaKind,
                                        const std::function<void(OnboardFlashBackupAndRestoreThread &)> &setup)
{
    BackupEventRecorder recorder;
    OnboardFlashBackupAndRestoreThread job;
    OnboardFlashBackupAndRestoreThread::currentAction = 1;
    job.setImageFilePath(image);
    job.setMediaKind(mediaKind);
    job.setEventReceiver(&recorder);
    if (setup)
        setup(job);
    runThreadToEnd(job, [&] { job.startJob(); }, &recorder);
    EXPECT_EQ(mmc_fd, -1) << "the device is released when the job ends";
    EXPECT_TRUE(job.isFinished());
    return recorder;   // the events, sliced off the recorder
}
