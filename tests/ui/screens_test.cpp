// The main controller and the OS selection screen as widgets, offscreen;
// hot plug through a socketpair. (Console and LCD key routing: tests/e2e and
// the USB LCD controller test.)
#include "simulatedboard.h"

#include "frontend/boardservices.h"
#include "frontend/hotplugmonitor.h"
#include "startup/globals.h"
#include "startup/imgsmithconf.h"
#include "ui/osbutton.h"
#include "ui/runscriptdialog.h"
#include "ui/tdownloaddetailwidget.h"
#include "ui/tmainwidget.h"
#include "ui/tosselectwidget.h"
#include "util/qpaths.h"

#include <QAction>
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QSignalSpy>
#include <QtTest>

#include <sys/socket.h>
#include <unistd.h>

namespace {
// The board with the scan tree (no USB drive), for the whole program.
SimulatedBoard *gBoard = nullptr;

// Answers the next modal message box with `button` and keeps its text.
void answerNextMessageBox(QString *text, QMessageBox::StandardButton button)
{
    QTimer::singleShot(0, [text, button] {
        auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
        if (!box) {
            answerNextMessageBox(text, button);
            return;
        }
        *text = box->text();
        box->done(button);
    });
}
} // namespace

class TMainWidgetTest : public QObject
{
    Q_OBJECT
private slots:
    void init()
    {
        m_main = new TMainWidget;
        m_main->resize(800, 480);
        m_main->show();
        QSignalSpy reloaded(m_main->osSelectWidget(), &TOSSelectWidget::imageFilesReloaded);
        QVERIFY(reloaded.wait(5000));
        QCOMPARE(gMainWidget, m_main);
    }
    void cleanup()
    {
        delete m_main;
        m_main = nullptr;
        QVERIFY(!gMainWidget);
    }
    void scanOffersSetsInOrder()
    {
        // By kind, the board's recommended set first.
        QCOMPARE(m_main->osSelectWidget()->enmuOSIds(),
                 QStringList({"/mnt/sdcard/ubuntu-noble-desktop-arm64", "/mnt/sdcard/a-ubuntu-jammy",
                              "/mnt/sdcard/debian-bookworm", "/mnt/sdcard/debian-bookworm/extra",
                              "/mnt/sdcard/loose-with-map", "/mnt/sdcard/loose/boot.img",
                              "/mnt/sdcard/loose/rootfs.img", "/mnt/sdcard/single/disk.raw"}));
        // The console menu lists them under the same numbers.
        QTRY_VERIFY(m_main->consoleLines().contains(QStringLiteral("# Select an OS to install:")));
        const QStringList lines = m_main->consoleLines();
        const int first = lines.indexOf(QStringLiteral("# Select an OS to install:"));
        QVERIFY(lines.at(first + 1).startsWith(QStringLiteral("  1) ")));
        QVERIFY(lines.at(first + 1).contains(QStringLiteral("/mnt/sdcard/ubuntu-noble-desktop-arm64")));
        QVERIFY(m_main->consoleAcceptedInputs().contains(QStringLiteral("8")));
        QVERIFY(!m_main->consoleAcceptedInputs().contains(QStringLiteral("9")));
    }
    void buttonOpensDetailAndBackReturns()
    {
        auto *button = m_main->findChild<OSButton *>(QStringLiteral("osButton3"));
        QVERIFY(button);
        QSignalSpy selected(m_main->osSelectWidget(), &TOSSelectWidget::osSelected);
        QTest::mouseClick(button, Qt::LeftButton);
        QCOMPARE(selected.count(), 1);
        QCOMPARE(selected.at(0).at(0).value<OSConfig>().imagePath, QStringLiteral("/mnt/sdcard/debian-bookworm"));
        QVERIFY(m_main->downloadDetailWidget()->isVisible());
        QVERIFY(!m_main->osSelectWidget()->isVisible());

        auto *back = m_main->downloadDetailWidget()->findChild<QPushButton *>(QStringLiteral("backButton"));
        QVERIFY(back);
        QTest::mouseClick(back, Qt::LeftButton);
        QVERIFY(m_main->osSelectWidget()->isVisible());
        QVERIFY(!m_main->downloadDetailWidget()->isVisible());
    }
    void dhcpMenuItemWritesEth0AndOffersReboot()
    {
        const QString eth0 = gBoard->root() + QStringLiteral("/etc/network/interfaces.d/eth0");
        QFile::remove(eth0);
        // A board without /etc/network: an error, and no offer to reboot.
        QString asked;
        answerNextMessageBox(&asked, QMessageBox::Ok);
        m_main->userClickSwitchEth0ToDHCPMenuItem();
        QCOMPARE(asked, QStringLiteral("Unable to write network configuration!"));

        QVERIFY(gBoard->sh(QStringLiteral("mkdir -p \"$ROOT/etc/network\"")));
        QFile::remove(eth0);
        answerNextMessageBox(&asked, QMessageBox::No);   // "No": the test machine is not rebooted
        m_main->userClickSwitchEth0ToDHCPMenuItem();
        QVERIFY2(asked.contains(QStringLiteral("reboot")), qPrintable(asked));
        QVERIFY(testsupport::readFile(eth0.toStdString()).find("iface eth0 inet dhcp") != std::string::npos);
    }
    void oneKeyBackupRefusesTooSmallCard()
    {
        // A 1 MiB card cannot hold the eMMC: refused before anything is formatted.
        QVERIFY(gBoard->sh(QStringLiteral("cp \"$ROOT/sys/block/mmcblk1/size\" \"$ROOT/tmp/cardsize\" && "
                                          "echo 2048 > \"$ROOT/sys/block/mmcblk1/size\"")));
        const QStringList before = QDir(gBoard->root() + QStringLiteral("/mnt/sdcard")).entryList();
        QString refusal;
        answerNextMessageBox(&refusal, QMessageBox::Ok);
        m_main->user1KeyBackupMenuItem();
        QVERIFY(gBoard->sh(QStringLiteral("cp \"$ROOT/tmp/cardsize\" \"$ROOT/sys/block/mmcblk1/size\"")));
        QCOMPARE(refusal, BoardServices::tooSmallMessage());
        QVERIFY(!m_main->isJobRunning());
        QCOMPARE(QDir(gBoard->root() + QStringLiteral("/mnt/sdcard")).entryList(), before);
    }

private:
    TMainWidget *m_main = nullptr;
};

class TOSSelectWidgetTest : public QObject
{
    Q_OBJECT
private slots:
    void init()
    {
        QVERIFY(socketpair(AF_UNIX, SOCK_SEQPACKET, 0, m_fds) == 0);
        m_select = new TOSSelectWidget;
        m_select->setHotPlugSocket(m_fds[0]);
        m_select->resize(800, 480);
        m_select->show();
        QSignalSpy reloaded(m_select, &TOSSelectWidget::imageFilesReloaded);
        QVERIFY(reloaded.wait(5000));
    }
    void cleanup()
    {
        delete m_select;
        close(m_fds[1]);
        QFile::remove(sysPath(QStringLiteral("/mnt/sdcard/imgsmith.conf")));
    }
    void hotPlugMountsAndUnmountsTheDrive()
    {
        const int callsBefore = int(gBoard->toolCalls().size());
        QVERIFY(gBoard->sh(QStringLiteral("mkdir -p \"$ROOT/drive/usb-debian\" && "
                                          "printf 'flash=mmc,0:boot:ext4:0x100000,0x1000000:boot.img;\\n' "
                                          "> \"$ROOT/drive/usb-debian/partmap.txt\" && "
                                          "head -c 4096 /dev/zero > \"$ROOT/drive/usb-debian/boot.img\"")));
        QVERIFY(!m_select->enmuOSIds().contains(QStringLiteral("/mnt/udisk/usb-debian")));
        auto *monitor = m_select->findChild<HotPlugMonitor *>();
        QVERIFY(monitor);
        QSignalSpy checks(monitor, &HotPlugMonitor::checkRequested);
        QSignalSpy changed(m_select, &TOSSelectWidget::usbDevicesStateChangedSignal);
        QSignalSpy reloaded(m_select, &TOSSelectWidget::imageFilesReloaded);

        // A hub: several messages in a row, one check.
        QVERIFY(gBoard->sh(QStringLiteral("%1/scripts/sim-usb-drive.sh plug \"$ROOT\" \"$ROOT/drive\" >/dev/null")
                               .arg(QStringLiteral(IMGSMITH_SOURCE_DIR))));
        send(QStringLiteral("add@/devices/platform/fc800000.usb/usb1/1-1"));
        send(QStringLiteral("add@/devices/platform/fc800000.usb/usb1/1-1/1-1:1.0"));
        send(QStringLiteral("add@/devices/platform/fc800000.usb/usb1/1-1/1-1:1.0/host0/target0:0:0/block/sda"));
        QTRY_COMPARE_WITH_TIMEOUT(changed.count(), 1, 5000);
        QCOMPARE(checks.count(), 1);
        QTRY_VERIFY_WITH_TIMEOUT(m_select->enmuOSIds().contains(QStringLiteral("/mnt/udisk/usb-debian")), 10000);
        QVERIFY(m_select->isUDiskPresent());
        // The drive's partition on its mount point (df follows).
        QCOMPARE(gBoard->toolCalls().value(callsBefore), QStringLiteral("mount /dev/sda1 /mnt/udisk"));

        QVERIFY(gBoard->sh(QStringLiteral("%1/scripts/sim-usb-drive.sh unplug \"$ROOT\" >/dev/null")
                               .arg(QStringLiteral(IMGSMITH_SOURCE_DIR))));
        send(QStringLiteral("remove@/devices/platform/fc800000.usb/usb1/1-1"));
        QTRY_COMPARE_WITH_TIMEOUT(changed.count(), 2, 5000);
        QTRY_VERIFY_WITH_TIMEOUT(!m_select->enmuOSIds().contains(QStringLiteral("/mnt/udisk/usb-debian")), 10000);
        QVERIFY(gBoard->toolCalls().mid(callsBefore + 1).contains(QStringLiteral("umount /mnt/udisk")));
        // The sets of the card stay.
        QCOMPARE(m_select->enmuOSIds().size(), 8);
    }
    void automaticInstallOncePerScanWithATarget()
    {
        const QString set = QStringLiteral("/mnt/sdcard/debian-bookworm");
        QVERIFY(setImgSmithConfAutoStart(QStringLiteral("debian-bookworm/")));
        QSignalSpy started(m_select, &TOSSelectWidget::osSelectedFromUSBLCD);
        reload();
        QTRY_COMPARE(started.count(), 1);
        QCOMPARE(started.at(0).at(0).value<OSConfig>().imagePath, set);
        QCOMPARE(m_select->autoInstallPlanner().autoTaskState(), 2);
        const QList<OSButton *> marked = m_select->findChildren<OSButton *>();
        QCOMPARE(std::count_if(marked.begin(), marked.end(), [](OSButton *b) { return b->isAutoFlashing(); }), 1);
        QVERIFY(!started.wait(500));   // once per scan

        // Without the eMMC boot area node there is no target: nothing starts.
        QVERIFY(gBoard->sh(QStringLiteral("mv \"$ROOT/dev/mmcblk2boot0\" \"$ROOT/dev/boot0.away\"")));
        reload();
        QTRY_COMPARE(m_select->autoInstallPlanner().autoTaskState(), 1);
        QCOMPARE(started.count(), 1);
        QVERIFY(gBoard->sh(QStringLiteral("mv \"$ROOT/dev/boot0.away\" \"$ROOT/dev/mmcblk2boot0\"")));
        reload();
        QTRY_COMPARE(started.count(), 2);
    }
    void refreshAndTurnOffStopAutomaticInstalls()
    {
        QVERIFY(setImgSmithConfAutoStart(QStringLiteral("/mnt/sdcard/single/disk.raw")));
        QSignalSpy started(m_select, &TOSSelectWidget::osSelectedFromUSBLCD);
        reload(true);
        QVERIFY(!started.wait(500));
        reload();   // the flag stays for the rest of the run
        QVERIFY(!started.wait(500));
        QCOMPARE(m_select->osButtons().last()->isAutoFlashing(), true);

        // The message box of the menu entry is closed as a user would.
        QTimer::singleShot(0, this, [] {
            QTRY_VERIFY(qobject_cast<QMessageBox *>(QApplication::activeModalWidget()));
            QApplication::activeModalWidget()->close();
        });
        menuAction(QStringLiteral("Turn off auto-flash"))->trigger();
        QCOMPARE(readImgSmithConf(getImgSmithConfFileName()).autoStart, QString());
        QCOMPARE(m_select->osButtons().last()->isAutoFlashing(), false);
    }

    // Every non-empty output line is shown; the exit code tells the status.
    void runScriptDialogShowsOutputAndStatus()
    {
        for (int exitCode : {0, 3}) {
            gBoard->put(QStringLiteral("tmp/job.sh"),
                        "echo 'first   line'\necho\necho second >&2\nexit " + QByteArray::number(exitCode) + "\n");
            RunScriptDialog dialog(QStringLiteral("Executing script"), gBoard->path(QStringLiteral("tmp/job.sh")),
                                   QStringLiteral("/bin/sh"));
            QSignalSpy finished(&dialog, &RunScriptDialog::scriptFinished);
            QCOMPARE(dialog.exitCode(), -1);   // nothing runs before the dialog shows
            dialog.show();
            QVERIFY(finished.wait(10000));
            QCOMPARE(dialog.exitCode(), exitCode);
            QTRY_COMPARE(dialog.outputText(), QStringLiteral("first line\nsecond"));
            QCOMPARE(dialog.statusText(), exitCode ? QStringLiteral("An Error Occurred (RetCode: 3)")
                                                   : QStringLiteral("Operation Successfully Completed"));
            QCOMPARE(dialog.findChild<QPushButton *>(QStringLiteral("runScriptCloseButton"))->text(),
                     exitCode ? QStringLiteral("  Close  ") : QStringLiteral("  Finish  "));
        }
    }

private:
    void reload(bool manual = false)
    {
        QSignalSpy reloaded(m_select, &TOSSelectWidget::imageFilesReloaded);
        if (manual)
            menuAction(QStringLiteral("Refresh"))->trigger();
        else
            m_select->reloadImageFiles();
        QVERIFY(reloaded.wait(5000));
    }
    QAction *menuAction(const QString &text) const
    {
        for (QAction *a : m_select->menu()->actions())
            if (a->text() == text)
                return a;
        return nullptr;
    }
    void send(const QString &line)
    {
        const QByteArray msg = line.toLatin1() + QByteArray("\0ACTION=add\0SUBSYSTEM=usb", 26);
        QCOMPARE(write(m_fds[1], msg.constData(), msg.size()), ssize_t(msg.size()));
    }

    TOSSelectWidget *m_select = nullptr;
    int m_fds[2] = {-1, -1};
};

int main(int argc, char **argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    gBoard = new SimulatedBoard(QStringLiteral("--sets none"));
    if (!gBoard->ok() || !gBoard->addScanTree(false))
        qFatal("cannot build the simulated board");
    QApplication app(argc, argv);
    TMainWidgetTest mainWidget;
    TOSSelectWidgetTest selectWidget;
    return QTest::qExec(&mainWidget, argc, argv) | QTest::qExec(&selectWidget, argc, argv);
}

#include "screens_test.moc"
