// A simulated board for the back-up tests: IMGSMITH_ROOT below a fresh
// temporary directory, an RK3588 board record as gCurrentBoardInfo (onboard
// eMMC "mmcblk2"), the stand-in tools first on PATH recording into a log,
// and a recorder of the back-up events.
#pragma once

#include <QList>
#include <QObject>
#include <QString>
#include <QThread>

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>

#include "board/boardhardwareinfo.h"
#include "startup/globals.h"
#include "storage/mmc.h"
#include "support/testsupport.h"

class BoardHardwareInfo;
class OnboardFlashBackupAndRestoreThread;

struct BackupEvent
{
    int type = 0;
    int action = 0;
    int percent = 0;
    bool isError = false;
    QString message;
};

struct BackupLog
{
    QList<BackupEvent> events;
    int count(int type) const;
    QString errorText() const;   // the first error message, "" when none
};

class BackupEventRecorder : public QObject, public BackupLog
{
protected:
    bool event(QEvent *e) override;
};

// Starts `job` through `start`, runs an event loop until the thread has
// finished, the way the main controller lives, then delivers what it posted
// to `receiver`.
void runThreadToEnd(QThread &job, const std::function<void()> &start, QObject *receiver);

class BackupBoard : public ::testing::Test
{
protected:
    void SetUp() override;
    void TearDown() override;

    std::string root() const { return m_dir.path(); }
    std::string file(const std::string &rel) const { return m_dir.file(rel); }
    std::string emmc() const { return file("dev/mmcblk2"); }
    // A blank (all-zero, sparse) onboard eMMC of `bytes`; gOnboardFlashSize follows.
    void makeEmmc(int64_t bytes);
    // A USB drive "sda" of `mib` MiB on a USB host in sysfs, listed in
    // /proc/partitions (with its first partition when `partitioned`).
    void makeUsbDrive(int mib, bool partitioned);
    // Adds a line to the board's /proc/mounts.
    void mount(const std::string &dev, const std::string &dir, const std::string &type,
               const std::string &opts);
    // Lines the stand-in tools recorded so far.
    std::string toolLog() const;
    // The df stand-in prints these lines under its header instead of
    // looking at the board.
    void dfSays(const std::string &lines);

    // Runs one back-up of the eMMC into `image` (a system path) to `mediaKind`
    // and delivers its events; `setup` may adjust the thread first.
    BackupLog backUp(const QString &image, int mediaKind = 1,
                               const std::function<void(OnboardFlashBackupAndRestoreThread &)> &setup = nullptr);

    testsupport::TempDir m_dir;
    std::unique_ptr<BoardHardwareInfo> m_board;
};
