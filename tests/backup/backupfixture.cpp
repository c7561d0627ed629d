#include "backupfixture.h"

#include "backup/onboardflashbackupandrestorethread.h"
#include "board/boardhardwareinfo.h"
#include "startup/globals.h"
#include "storage/mmc.h"

using namespace testsupport;

void BackupBoard::SetUp()
{
    // The old board first: it puts back the environment it found.
    m_sim.reset();
    m_sim = std::make_unique<testsupport::SimBoard>();
    BUFFER_SIZE = 4 << 20;
    m_sim->mkdir("mnt/udisk");
    m_sim->setKernel("6.1.99-sim");
    m_sim->mount("/dev/mmcblk0p1", "/mnt/sdcard", "exfat", "rw,relatime");
    m_sim->put("proc/partitions", "major minor  #blocks  name\n\n 179 0 7634944 mmcblk0\n 179 1 7633920 mmcblk0p1\n");
    m_board = std::make_unique<BoardHardwareInfo>();
    m_board->cpuName = "RK3588";
    m_board->boardName = "CV-RK3588";
    gCurrentBoardInfo = m_board.get();
    m_sim->setEnv("IMGSMITH_SIM_TOOLS_LOG", file("tools.log"));
    m_sim->prependPath(IMGSMITH_SIM_TOOLS_DIR);
    m_sim->unsetEnv("IMGSMITH_SIM_DF");
}

void BackupBoard::makeEmmc(int64_t bytes)
{
    makeSparseFile(emmc(), static_cast<uint64_t>(bytes));
    gOnboardFlashSize = bytes / 1024;
}

void BackupBoard::makeUsbDrive(int mib, bool partitioned)
{
    m_sim->blockDevice("sda", uint64_t(mib) << 20, "platform/fc000000.usb/xhci-hcd.0.auto/usb1/1-1/host0/block");
    if (partitioned)
        m_sim->put("proc/partitions",
                   readFile(file("proc/partitions")) + "   8 1 " + std::to_string(mib * 1024 - 1024) + " sda1\n");
}

void BackupBoard::dfSays(const std::string &lines)
{
    m_sim->put("df.out", "Filesystem 1K-blocks Used Available Use% Mounted on\n" + lines);
    m_sim->setEnv("IMGSMITH_SIM_DF", file("df.out"));
}
BackupLog BackupBoard::backUp(const QString &image, int mediaKind,
                          const std::function<void(OnboardFlashBackupAndRestoreThread &)> &setup)
{
    EventRecorder recorder;
    OnboardFlashBackupAndRestoreThread job;
    OnboardFlashBackupAndRestoreThread::currentAction = 1;
    job.setImageFilePath(image);
    job.setMediaKind(mediaKind);
    job.setEventReceiver(&recorder);
    if (setup)
        setup(job);
    testsupport::runThreadToEnd(job, [&] { job.startJob(); }, &recorder);
    EXPECT_EQ(mmc_fd, -1) << "the device is released when the job ends";
    EXPECT_TRUE(job.isFinished());
    expectRecordBeforeFinalEvent(recorder);
    return recorder;   // the events, sliced off the recorder
}
