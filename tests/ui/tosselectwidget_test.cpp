// The OS selection screen on its own, offscreen: hot plug through a
// socketpair with the mount stand-ins, and the automatic install.
#include "simulatedboard.h"

#include "frontend/hotplugmonitor.h"
#include "startup/imgsmithconf.h"
#include "ui/osbutton.h"
#include "ui/tosselectwidget.h"
#include "util/qpaths.h"

#include <QAction>
#include <QApplication>
#include <QFile>
#include <QMenu>
#include <QMessageBox>
#include <QSignalSpy>
#include <QtTest>

#include <sys/socket.h>
#include <unistd.h>

// The board with the scan tree (no USB drive), for the whole program.
static SimulatedBoard *gBoard = nullptr;

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
        // The drive's partition on the drive's mount point (df asks for its free
        // space afterwards).
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
    QAction *menuAction(const QString &text) const;
    void send(const QString &line)
    {
        const QByteArray msg = line.toLatin1() + QByteArray("\0ACTION=add\0SUBSYSTEM=usb", 26);
        QCOMPARE(write(m_fds[1], msg.constData(), msg.size()), ssize_t(msg.size()));
    }

    TOSSelectWidget *m_select = nullptr;
    int m_fds[2] = {-1, -1};
};

QAction *TOSSelectWidgetTest::menuAction(const QString &text) const
{
    for (QAction *a : m_select->menu()->actions()) {
        if (a->text() == text)
            return a;
    }
    return nullptr;
}

int main(int argc, char **argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    gBoard = new SimulatedBoard(QStringLiteral("--sets none"));
    if (!gBoard->ok() || !gBoard->addScanTree(false))
        qFatal("cannot build the simulated board");
    QApplication app(argc, argv);
    TOSSelectWidgetTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "tosselectwidget_test.moc"
