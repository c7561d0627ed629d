// The steps after an install: the commands that reach the shell (recorded
// by scripts/sim-tools), the board services called, when autoExit quits.
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QSignalSpy>

#include <gtest/gtest.h>

#include "frontend/postinstallsequence.h"
#include "frontend/postinstallservices.h"
#include "imageset/osconfig.h"
#include "simulatedboard.h"
#include "startup/globals.h"
#include "startup/imgsmithconf.h"

namespace {

struct FakeServices : PostInstallServices
{
    QStringList calls;
    int scriptsResult = 0;
    void reNewCurrentOSInfo() override { calls << "reNewCurrentOSInfo"; }
    void resetRockchipUbootMacAddress() override { calls << "resetRockchipUbootMacAddress"; }
    void resetRK3399MacAddress() override { calls << "resetRK3399MacAddress"; }
    bool isBoardUnableToReadPartition() override { return calls << "isBoardUnableToReadPartition", false; }
    int doScriptsInPath(const QString &dir, const QString &wrapper) override
    {
        calls << "doScriptsInPath " + dir + " " + wrapper;
        return scriptsResult;
    }
};

// Runs the steps for `os` and waits for their end; returns the statuses shown.
QStringList runSteps(PostInstallSequence &seq, const OSConfig &os, bool overlayfsDisabled, bool *failed = nullptr)
{
    QStringList statuses;
    QObject::connect(&seq, &PostInstallSequence::stepText, [&](const QString &s) { statuses << s; });
    QSignalSpy done(&seq, &PostInstallSequence::allStepsDone);
    QSignalSpy fail(&seq, &PostInstallSequence::stepsFailed);
    EXPECT_TRUE(seq.start(os, overlayfsDisabled));
    for (int i = 0; i < 200 && done.isEmpty() && fail.isEmpty(); ++i)
        done.wait(100);
    EXPECT_EQ(done.size() + fail.size(), 1);
    if (failed)
        *failed = !fail.isEmpty();
    return statuses;
}

OSConfig directorySet(const SimulatedBoard &board, const QString &name, const QStringList &files,
                      const QByteArray &envConf = QByteArray())
{
    for (const QString &f : files)
        board.put("mnt/sdcard/" + name + "/" + f, f == "env.conf" ? envConf : QByteArray("x"));
    return OSConfig("/mnt/sdcard/" + name, files);
}

// Rockchip: Android's resize unless the set says not, a repeated start ignored;
// a restore's MAC reset and scripts; autoExit's exit codes, the SD card watcher.
TEST(PostInstall, StepsOnARockchipBoard)
{
    SimulatedBoard board("--sets none");
    ASSERT_TRUE(board.ok());
    // Eight partitions on the eMMC: the last one is grown.
    ASSERT_TRUE(board.sh("for i in 1 2 3 4 5 6 7 8; do echo \" 179 $i 1024 mmcblk2p$i\"; done"
                         " >> \"$ROOT/proc/partitions\""));
    for (bool marker : {true, false}) {
        QStringList files{"idbloader.img", "boot.img", "system.img", "parameter.txt"};
        if (marker)
            files << "NO_RESIZEFS";
        const OSConfig os = directorySet(board, marker ? "android-kept" : "android", files);
        ASSERT_TRUE(os.isValid);
        ASSERT_EQ(os.osType, Android);
        FakeServices services;
        PostInstallSequence seq(&services);
        const QStringList statuses = runSteps(seq, os, false);
        EXPECT_FALSE(seq.start(os, false));
        QCoreApplication::processEvents();
        if (marker) {
            EXPECT_EQ(statuses, QStringList{"ResizeFs has been disabled"});
            EXPECT_TRUE(board.toolCalls().isEmpty());
        } else {
            EXPECT_EQ(statuses, QStringList{"Resizing filesystem ..."});
            EXPECT_EQ(board.toolCalls(), QStringList{"resize2fs /dev/mmcblk2p8 -f"});
        }
        EXPECT_TRUE(services.calls.isEmpty());
    }

    board.put("mnt/sdcard/backup/disk.raw", "x");
    for (int scripts : {0, -2, 1}) {
        const OSConfig os("/mnt/sdcard/backup", QStringLiteral("disk.raw"));
        FakeServices services;
        services.scriptsResult = scripts;
        PostInstallSequence seq(&services);
        bool failed = false;
        const QStringList statuses = runSteps(seq, os, false, &failed);
        EXPECT_EQ(services.calls,
                  (QStringList{"reNewCurrentOSInfo", "resetRockchipUbootMacAddress", "isBoardUnableToReadPartition",
                               "doScriptsInPath /mnt/sdcard/backup/disk.raw.d /tmp/imgsmith-restore-custome-script.sh"}));
        EXPECT_EQ(failed, scripts == 1);
        if (scripts == 1)
            EXPECT_EQ(statuses.last(), "Error: fail to call scripts, please check: /mnt/sdcard/backup/disk.raw.d");
        EXPECT_EQ(board.toolCalls().size(), 1);   // the resize above only
    }

    board.put("usr/bin/sd_monitor", "#!/bin/sh\necho sd_monitor >> \"$IMGSMITH_SIM_TOOLS_LOG\"\n");
    QFile::setPermissions(board.path("usr/bin/sd_monitor"), QFile::ReadOwner | QFile::ExeOwner);
    FakeServices services;
    PostInstallSequence seq(&services);
    QList<int> exits;
    seq.setExitFunction([&](int code) { exits << code; });
    imgsmithConfFileName = QString::fromLatin1(kInstallConfFileName);
    EXPECT_FALSE(seq.quitAfterFailureIfAutoExit());
    ASSERT_TRUE(writeInstallImgSmithConf("/mnt/sdcard/x", true));
    seq.runAllDoneActions();
    EXPECT_TRUE(seq.quitAfterFailureIfAutoExit());
    for (int i = 0; i < 50 && (exits.size() < 2 || board.toolCalls().size() < 2); ++i)
        QSignalSpy(&seq, &QObject::destroyed).wait(100);
    EXPECT_EQ(exits, (QList<int>{0, 1}));
    EXPECT_EQ(board.toolCalls().mid(1), QStringList{"sd_monitor"});
}

// Not Rockchip: fw_setenv on the onboard device, the /opt build first,
// "data=" dropped without the overlay; an S5P4418's kernel 3 build first.
TEST(PostInstall, EnvironmentOnOtherBoardsThroughFwSetenv)
{
    SimulatedBoard board("--board allwinner --sets none");
    ASSERT_TRUE(board.ok());
    const OSConfig os = directorySet(board, "debian", {"boot.img", "rootfs.img", "partmap.txt", "env.conf"},
                                     "# comment\nbootargs=console=ttyS0 data=/dev/mmcblk1p4 rootwait\nbootdelay=1\n");
    ASSERT_TRUE(os.isValid);
    for (bool optTool : {false, true}) {
        if (optTool) {
            board.put("opt/fw_setenv", "#!/bin/sh\necho \"opt-fw_setenv $*\" >> \"$IMGSMITH_SIM_TOOLS_LOG\"\n");
            QFile::setPermissions(board.path("opt/fw_setenv"), QFile::ReadOwner | QFile::ExeOwner | QFile::WriteOwner);
        }
        FakeServices services;
        PostInstallSequence seq(&services);
        EXPECT_EQ(runSteps(seq, os, !optTool), QStringList{"Setting env ..."});
        const QStringList calls = board.toolCalls();
        ASSERT_EQ(calls.size(), optTool ? 2 : 1);
        if (optTool) {
            EXPECT_EQ(calls.last(), "opt-fw_setenv /dev/mmcblk1 -s " + board.path("mnt/sdcard/debian/env.conf"));
        } else {
            EXPECT_TRUE(calls[0].startsWith("fw_setenv /dev/mmcblk1 -s ")) << calls[0].toStdString();
            EXPECT_EQ(testsupport::readFile(board.file("tmp/fw_setenv.script")),
                      "# comment\nbootargs=console=ttyS0 rootwait\nbootdelay=1\n");
            EXPECT_FALSE(QDir(board.path("tmp/mntsdcarddebian")).exists()) << "temporary copy left behind";
        }
    }

    OSConfig s5p;
    s5p.requireBoards = QStringList{"S5P4418"};
    s5p.s5pxx18KernelVersion = 3;
    EXPECT_EQ(PostInstallSequence::getFWSetenvCmd(s5p), board.path("opt/fw_setenv"));
    board.put("opt/s5p4418-4/fw_setenv", "");
    EXPECT_EQ(PostInstallSequence::getFWSetenvCmd(s5p), board.path("opt/fw_setenv"));
    board.put("opt/s5p4418-3/fw_setenv", "");
    EXPECT_EQ(PostInstallSequence::getFWSetenvCmd(s5p), board.path("opt/s5p4418-3/fw_setenv"));
}

} // namespace
