// The back-up screen driven by taps on a simulated board: a back-up from
// the button through the file-name dialog to "All done." (image checked
// with cmp and sha256sum), a refused medium, an engine error, and a cancel
// in the middle of the copy.
#include <QLabel>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>

#include <unistd.h>
#include <memory>

#include "backup/onboardflashbackupandrestorethread.h"
#include "board/boardhardwareinfo.h"
#include "startup/globals.h"
#include "storage/mmc.h"
#include "support/qt/simboard.h"
#include "ui/backuprestoremodemainwidget.h"
#include "ui/brprogresswidget.h"
#include "ui/myinputdialog.h"

using namespace testsupport;

class BackupScreenTest : public QObject
{
    Q_OBJECT

private slots:
    void init()
    {
        m_sim = std::make_unique<SimBoard>();
        BUFFER_SIZE = 1 << 20;
        m_sim->setKernel("6.1.99-sim");
        m_sim->mount("/dev/mmcblk0p1", "/mnt/sdcard", "exfat", "rw,relatime");
        m_sim->put("proc/partitions", "major minor  #blocks  name\n\n 179 0 7634944 mmcblk0\n");
        m_sim->put("sys/block/mmcblk0/size", "15269888\n");
        m_sim->put("df.out", "Filesystem 1K-blocks Used Available Use% Mounted on\n"
                             "/dev/mmcblk0p1 7634944 10 7000000 1% /mnt/sdcard\n");
        m_sim->setEnv("IMGSMITH_SIM_DF", file("df.out"));
        m_sim->prependPath(IMGSMITH_SIM_TOOLS_DIR);
        // A Linux system on the eMMC: a table and an ext4 root file system.
        makeSparseFile(file("dev/mmcblk2"), 24 << 20);
        run("printf 'label: dos\\nstart=2048\\n' | sfdisk -q " + shq(file("dev/mmcblk2")) + " && mkfs.ext4 -q -F -L rootfs "
            "-E offset=1048576 " + shq(file("dev/mmcblk2")) + " 23552k");
        gOnboardFlashSize = 24 * 1024;
        gCurrentOSInOnboardFlash = "linux";
        m_board.reset(new BoardHardwareInfo);
        m_board->cpuName = "RK3588";
        m_board->boardName = "CV-RK3588";
        gCurrentBoardInfo = m_board.get();
        m_screen.reset(new BackupRestoreModeMainWidget);
        m_screen->resize(800, 480);
        m_screen->show();
        m_screen->resetView();
    }
    void cleanup()
    {
        m_screen.reset();
        m_sim.reset();
    }
    void backUpFromTheButtonToAllDone()
    {
        auto *backup = child<QPushButton>("brBackupButton");
        QVERIFY(backup->isEnabled());
        QTest::mouseClick(backup, Qt::LeftButton);
        auto *dialog = child<MyInputDialog>("backupFileNameDialog");
        QTRY_VERIFY(dialog->isVisible());
        QCOMPARE(dialog->textValue(), QStringLiteral("/mnt/sdcard/cv-rk3588-emmc.raw"));
        dialog->accept();
        QTRY_COMPARE(child<QLabel>("brProgressStatus")->text(), QStringLiteral("All done."));
        QVERIFY(m_screen->isJobDone());
        QCOMPARE(run("cmp " + shq(file("dev/mmcblk2")) + " " + shq(file("mnt/sdcard/cv-rk3588-emmc.raw"))).status, 0);
        QCOMPARE(run("cd " + shq(file("mnt/sdcard")) + " && sha256sum -c --status cv-rk3588-emmc.raw.sha256").status, 0);
        // A Linux back-up gets its script directory; the next name counts up.
        QVERIFY(readFile(file("mnt/sdcard/cv-rk3588-emmc.raw.d/cleanup.sh")).find("ROOTDIR") != std::string::npos);
        QCOMPARE(m_screen->genBackupFileName(1), QStringLiteral("/mnt/sdcard/cv-rk3588-emmc-2.raw"));
        QSignalSpy back(m_screen.get(), &BackupRestoreModeMainWidget::backButtonPressed);
        QTest::mouseClick(child<QPushButton>("brProgressButton"), Qt::LeftButton);
        QCOMPARE(back.count(), 1);
    }
    void cancelInTheMiddleReturnsAndRemovesTheFile()
    {
        QSignalSpy cancelled(m_screen.get(), &BackupRestoreModeMainWidget::cancelButtonClicked);
        BackupRestoreModeMainWidget *screen = m_screen.get();
        auto fired = std::make_shared<bool>(false);
        m_screen->engine()->setProgressObserver([screen, fired](int percent) {
            // The tap on Cancel arrives while the copy runs (the GUI thread
            // takes it before the copy goes on).
            if (percent >= 30 && !*fired) {
                *fired = true;
                QMetaObject::invokeMethod(screen, "cancel", Qt::BlockingQueuedConnection, Q_ARG(bool, false));
            }
        });
        m_screen->startBackupToFile("/mnt/sdcard/x.raw");
        QTRY_COMPARE(cancelled.count(), 1);
        QVERIFY(!m_screen->isWorking());
        QVERIFY(!m_screen->isJobDone());
        QVERIFY(!QFile::exists(QString::fromStdString(file("mnt/sdcard/x.raw"))));
        QVERIFY(child<QWidget>("brSelectorWidget")->isVisible());
    }
    // An engine error is shown and "Finish" returns; a refused medium keeps
    // the button disabled.
    void engineErrorAndRefusedMedia()
    {
        unlink(file("dev/mmcblk2").c_str());
        m_screen->startBackupToFile("/mnt/sdcard/x.raw");
        QTRY_COMPARE(child<QLabel>("brProgressStatus")->text(), QStringLiteral("Fail to open device: /dev/mmcblk2"));
        QCOMPARE(child<QLabel>("brProgressTitle")->text(), QStringLiteral("Error"));
        QTRY_VERIFY(!m_screen->isWorking());
        QVERIFY(!m_screen->isJobDone());
        QSignalSpy back(m_screen.get(), &BackupRestoreModeMainWidget::backButtonPressed);
        QTest::mouseClick(child<QPushButton>("brProgressButton"), Qt::LeftButton);
        QCOMPARE(back.count(), 1);

        m_screen->resetView();
        // The USB drive is chosen but there is none.
        QTest::mouseClick(child<QPushButton>("brUSBDiskButton"), Qt::LeftButton);
        QCOMPARE(child<QLabel>("brStatusLabel")->text(), QStringLiteral("No removable disk were found!"));
        QVERIFY(!child<QPushButton>("brBackupButton")->isEnabled());
        // Back to the card, which has too little free space: the tap is refused.
        writeFile(file("df.out"), "Filesystem 1K-blocks Used Available Use% Mounted on\n"
                                  "/dev/mmcblk0p1 7634944 10 1000 1% /mnt/sdcard\n");
        m_screen->resetView();
        QTest::mouseClick(child<QPushButton>("brTFCardButton"), Qt::LeftButton);
        auto *backup = child<QPushButton>("brBackupButton");
        QVERIFY(backup->isEnabled());
        QTest::mouseClick(backup, Qt::LeftButton);
        QVERIFY(child<QLabel>("brStatusLabel")->text().startsWith("There is not enough free disk space on your TF card"));
        QVERIFY(!backup->isEnabled());
        QVERIFY(!child<MyInputDialog>("backupFileNameDialog")->isVisible());
    }

private:
    std::string file(const std::string &rel) const { return m_sim->file(rel); }
    template <typename T> T *child(const char *name) const
    {
        T *w = m_screen->findChild<T *>(QLatin1String(name));
        if (!w)
            qFatal("no %s", name);
        return w;
    }

    std::unique_ptr<SimBoard> m_sim;
    std::unique_ptr<BoardHardwareInfo> m_board;
    std::unique_ptr<BackupRestoreModeMainWidget> m_screen;
};

QTEST_MAIN(BackupScreenTest)
#include "backupscreen_test.moc"
