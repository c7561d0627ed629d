// The main controller and the OS selection screen as widgets, offscreen:
// construction, the scan on show, the screen flow and the menu entries.
// (Console and LCD key routing: tests/e2e and the USB LCD controller test.)
#include "simulatedboard.h"

#include "frontend/boardservices.h"
#include "startup/globals.h"
#include "ui/osbutton.h"
#include "ui/tdownloaddetailwidget.h"
#include "ui/tmainwidget.h"
#include "ui/tosselectwidget.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QMessageBox>
#include <QPushButton>
#include <QSignalSpy>
#include <QtTest>

namespace {
// The board with the scan tree, for the whole program.
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
        // By kind, the board's recommended set first; the USB drive is a copied
        // root file system and offers nothing.
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
        QFile f(eth0);
        QVERIFY(f.open(QIODevice::ReadOnly));
        QVERIFY(f.readAll().contains("iface eth0 inet dhcp"));
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

int main(int argc, char **argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    gBoard = new SimulatedBoard(QStringLiteral("--sets none"));
    if (!gBoard->ok() || !gBoard->addScanTree())
        qFatal("cannot build the simulated board");
    QApplication app(argc, argv);
    TMainWidgetTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "tmainwidget_test.moc"
