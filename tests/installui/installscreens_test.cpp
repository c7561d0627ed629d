// The install screens offscreen on a simulated RK3588 board with eMMC,
// NVMe, a USB drive and a card reader.
#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QLabel>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QSemaphore>
#include <QSignalSpy>
#include <QTextEdit>
#include <QTimer>
#include <QtTest>

#include <functional>
#include <memory>

#include "board/boardhardwareinfo.h"
#include "frontend/installprogress.h"
#include "frontend/postinstallsequence.h"
#include "install/sdupdatefinishthreadevent.h"
#include "install/sdupdatethread.h"
#include "install/sdupdatethreadevent.h"
#include "install/sdupdatethreadspeedevent.h"
#include "simulatedboard.h"
#include "startup/globals.h"
#include "storage/mmc.h"
#include "ui/deviceselectdialog.h"
#include "ui/targetdevicebutton.h"
#include "ui/tdownloaddetailwidget.h"
#include "ui/tpreviewwidget.h"
#include "ui/tprogresswidget.h"

namespace {

// The main controller's event routing; `after` checks each handled event.
class Router : public QObject
{
public:
    TDownloadDetailWidget *detail = nullptr;
    std::function<void(QEvent *)> after;
    int progressEvents = 0, finishEvents = 0, errorEvents = 0;

protected:
    bool event(QEvent *e) override
    {
        switch (int(e->type())) {
        case SDUpdateThreadEvent::SDUPDATE_EVENT_TYPE:
            ++progressEvents;
            errorEvents += static_cast<SDUpdateThreadEvent *>(e)->isError();
            detail->handleProgressEvent(e);
            break;
        case SDUpdateThreadSpeedEvent::SDUPDATE_SPEED_EVENT_TYPE:
            detail->handleSpeedEvent(e);
            break;
        case SDUpdateFinishThreadEvent::SDUPDATE_FINISH_EVENT_TYPE:
            ++finishEvents;
            detail->handleFinishEvent(e);
            break;
        default:
            return QObject::event(e);
        }
        if (after)
            after(e);
        return true;
    }
};

// Acts on the next modal dialog or message box as soon as it is up.
void onModal(std::function<void(QWidget *)> act)
{
    auto *timer = new QTimer;
    QObject::connect(timer, &QTimer::timeout, [timer, act]() {
        if (QWidget *w = QApplication::activeModalWidget()) {
            timer->stop();
            timer->deleteLater();
            act(w);
        }
    });
    timer->start(10);
}

bool deviceFileOpen(const QString &file)
{
    const QString target = QFileInfo(file).canonicalFilePath();
    for (const QFileInfo &fd : QDir(QStringLiteral("/proc/self/fd")).entryInfoList(QDir::System | QDir::NoDotAndDotDot)) {
        if (fd.symLinkTarget() == target)
            return true;
    }
    return false;
}

} // namespace

class InstallScreensTest : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<SimulatedBoard> m_board;
    std::unique_ptr<TDownloadDetailWidget> m_detail;
    Router m_router;
    qint64 m_clockMs = 0;

    OSConfig set(const QString &name)
    {
        const QDir dir(m_board->path("mnt/sdcard/" + name));
        return OSConfig("/mnt/sdcard/" + name, dir.entryList(QDir::Files, QDir::Name));
    }
    template <class T> T *find(const char *name) { return m_detail->findChild<T *>(QString::fromLatin1(name)); }
    QString text(const char *label) { return find<QLabel>(label)->text(); }

private slots:
    void initTestCase()
    {
        m_board = std::make_unique<SimulatedBoard>("--sets linux-mbr4,rk3588-gpt");
        QVERIFY(m_board->ok());
        m_board->addUsbDrive("sda", "SanDisk Ultra Fit", 512);
        m_board->addUsbDrive("sdb", "Multi-Card Reader", 256);
        m_board->put("sys/class/nvme/nvme0/model", "Corvanta NV3 PCIe 4.0 SSD 1TB\n");
        m_board->put("mnt/sdcard/rk3588-gpt/dtbo.img", QByteArray(4096, '\0'));
        gOnboardFlashSize = gCurrentBoardInfo->getOnboardFlashSize();
        BUFFER_SIZE = 1024 * 1024;
        m_detail = std::make_unique<TDownloadDetailWidget>();
        m_detail->resize(800, 480);
        m_detail->setEventReceiver(&m_router);
        m_detail->progressWidget()->setElapsedClock([this]() { return m_clockMs; });
        m_router.detail = m_detail.get();
        m_detail->show();
    }

    void cleanupTestCase()
    {
        m_detail.reset();
        m_board.reset();
    }

    void targetDialogOffersTheBoardsDevicesInOrder()
    {
        const QStringList system{" /dev/mmcblk2 (eMMC) [256 MB]", " SanDisk Ultra Fit (USB) [512 MB]",
                                 " Multi-Card Reader (SD) [256 MB]", " Corvanta NV3 PCIe 4.0... (NVMe) [128 MB]",
                                 " Skip Flashing"};
        for (int type : {1, 2}) {
            DeviceSelectDialog dialog(m_detail.get(), type, TargetDevice());
            QStringList texts;
            for (int i = 0; auto *b = dialog.findChild<TargetDeviceButton *>(QStringLiteral("candidate%1").arg(i)); ++i) {
                texts << b->text();
                QVERIFY2(QFile::exists(TargetDeviceButton::iconResource(b->getDev().kind)), "kind icon not compiled in");
            }
            QStringList expected = system;
            if (type == 1)
                expected.removeAt(3);
            QCOMPARE(texts, expected);
            QCOMPARE(dialog.findChild<QLabel *>("deviceSelectLabel")->text(),
                     type == 1 ? QString("Please select boot device:") : QString("Please select system/rootfs device:"));
        }
    }

    void summaryMarksWrittenAndExcludedFiles()
    {
        excludeFilesList = QStringList{"userdata.img"};
        m_detail->loadUIForOS(set("linux-mbr4"), false);
        excludeFilesList.clear();
        QCOMPARE(text("titleLabel"), QString("Ready to Go with Linux"));
        const QString summary = find<QTextEdit>("logView")->toPlainText();
        for (const char *line : {"[√] boot.img", "[√] rootfs.img", "[×] userdata.img",
                                 "Exclede files:\n    userdata.img", "Boot from /dev/mmcblk2 (eMMC, 256 MB)"})
            QVERIFY2(summary.contains(QString::fromUtf8(line)), qPrintable(summary));
    }

    // Labels after every event of a real install with read-back; a second
    // finish event must not start the post-install steps again.
    void realInstallDrivesTheLabels()
    {
        m_clockMs = 0;
        QStringList mismatches;
        int speedShown = 0;
        QSet<int> verified;
        m_router.after = [&](QEvent *e) {
            if (e->type() == SDUpdateThreadEvent::SDUPDATE_EVENT_TYPE) {
                auto *p = static_cast<SDUpdateThreadEvent *>(e);
                if (p->isError() || (p->percent() == 100 && p->fileIndex() == p->fileCount()))
                    return;
                if (p->isVerifying())
                    verified << p->fileIndex();
                const QString want = QString(p->isVerifying() ? "(Step %1/%2) Verifying %3 ..." : "(Step %1/%2) Writing %3 ...")
                                         .arg(p->fileIndex()).arg(p->fileCount()).arg(p->imageName());
                if (text("statusLabel") != want || find<QProgressBar>("progressBar")->value() != p->percent())
                    mismatches << text("statusLabel") + " for " + want;
                // From the third file on the job has "run" for six seconds.
                if (p->fileIndex() >= 3)
                    m_clockMs = 6000;
            } else if (e->type() == SDUpdateThreadSpeedEvent::SDUPDATE_SPEED_EVENT_TYPE) {
                // What the texts' own test pins, for this event at this time.
                const InstallScreenUpdate want =
                    InstallProgress().speed(*static_cast<SDUpdateThreadSpeedEvent *>(e), m_clockMs);
                speedShown += want.shown;
                if (text("speedLabel") != want.speed || (want.shown && text("remainingLabel") != want.remaining))
                    mismatches << text("speedLabel") + " / " + text("remainingLabel") + " for " + want.speed;
            }
        };
        QSignalSpy allDone(m_detail->progressWidget()->postInstallSequence(), &PostInstallSequence::allStepsDone);
        // The configuration ticks the box (an unattended install verifies);
        // without it the box starts clear.
        m_board->put("mnt/sdcard/imgsmith.conf", "[General]\nverifyAfterWrite=true\n");
        m_detail->loadUIForOS(set("linux-mbr4"), false);
        QFile::remove(m_board->path("mnt/sdcard/imgsmith.conf"));
        QVERIFY(find<QCheckBox>("verifyAfterWriteCheckBox")->isChecked());
        QTest::mouseClick(find<QPushButton>("nextButton"), Qt::LeftButton);
        // The job's end: its thread object deleted.
        QTRY_VERIFY_WITH_TIMEOUT(m_detail->progressWidget()->job() == nullptr, 120000);
        m_router.after = nullptr;
        QTRY_COMPARE(allDone.size(), 1);
        QCOMPARE(verified.size(), 4);   // every image of the set
        QVERIFY2(mismatches.isEmpty(), qPrintable(mismatches.join('\n')));
        QVERIFY(speedShown > 0);
        QCOMPARE(m_router.finishEvents, 1);
        QCOMPARE(text("statusLabel"),
                 QString("All done, please eject the SD card, the device will reboot and startup from eMMC Flash."));
        QVERIFY(text("speedLabel").startsWith("Average speed: "));
        QVERIFY(text("remainingLabel").startsWith("Total time: "));
        QVERIFY(find<QPushButton>("finishButton")->isVisible());
        QVERIFY(!find<QPushButton>("cancelButton")->isVisible());
        const int verify = QProcess::execute(SimulatedBoard::sourceDir() + "/scripts/verify-install.py",
                                             {m_board->path("dev/mmcblk2"), m_board->path("mnt/sdcard/linux-mbr4")});
        QCOMPARE(verify, 0);

        QCoreApplication::postEvent(&m_router, new SDUpdateFinishThreadEvent(TargetDevice(1, "mmcblk2"), TargetDevice()));
        QTRY_COMPARE(m_router.finishEvents, 2);
        QCoreApplication::processEvents();
        QCOMPARE(allDone.size(), 1);
        QVERIFY(m_detail->progressWidget()->postInstallSequence()->isStarted());
        QTest::mouseClick(find<QPushButton>("finishButton"), Qt::LeftButton);
    }

    // Cancelled mid-copy, the job lets the device go before the list returns.
    void cancelMidCopyReleasesTheDevice()
    {
        m_detail->loadUIForOS(set("linux-mbr4"), false);
        QVERIFY(!find<QCheckBox>("verifyAfterWriteCheckBox")->isChecked());
        QSemaphore cancelled;
        bool requested = false;
        // Held at the image's second report while the screen cancels on the first.
        int reports = 0;
        m_detail->progressWidget()->job()->setProgressObserver([&](int file, int percent) {
            if (file == 3 && percent < 100 && ++reports == 2)
                cancelled.tryAcquire(1, 30000);
        });
        m_router.after = [&](QEvent *e) {
            if (e->type() != SDUpdateThreadEvent::SDUPDATE_EVENT_TYPE)
                return;
            auto *p = static_cast<SDUpdateThreadEvent *>(e);
            if (!p->isError() && p->fileIndex() == 3 && !requested) {
                requested = true;
                onModal([](QWidget *box) {
                    auto *mb = qobject_cast<QMessageBox *>(box);
                    QVERIFY(mb && mb->text() == "Cancel?");
                    mb->button(QMessageBox::Yes)->click();
                });
                QTest::mouseClick(find<QPushButton>("cancelButton"), Qt::LeftButton);
                cancelled.release();
            }
        };
        QSignalSpy back(m_detail.get(), &TDownloadDetailWidget::backButtonPressed);
        const int errorsBefore = m_router.errorEvents;
        QTest::mouseClick(find<QPushButton>("nextButton"), Qt::LeftButton);
        QVERIFY(back.wait(120000));
        m_router.after = nullptr;
        QCOMPARE(m_detail->progressWidget()->job(), nullptr);
        QCOMPARE(mmc_fd, -1);
        QVERIFY(!deviceFileOpen(m_board->path("dev/mmcblk2")));
        QCOMPARE(m_router.errorEvents, errorsBefore + 1);
        QVERIFY(!find<QPushButton>("cancelButton")->isEnabled());
    }

    void rootfsAloneOnlyOnExternalDrives()
    {
        m_detail->loadUIForOS(set("rk3588-gpt"), false);
        QVERIFY(find<QPushButton>("systemDeviceButton")->isVisible());
        // Boot: "Skip Flashing" (the last candidate); the system stays on the eMMC.
        onModal([](QWidget *d) { d->findChild<QPushButton *>("candidate3")->click(); });
        QTest::mouseClick(find<QPushButton>("bootDeviceButton"), Qt::LeftButton);
        QCOMPARE(m_detail->previewWidget()->bootDevice().kind, int(TargetDeviceNone));
        QString message;
        onModal([&](QWidget *box) {
            message = qobject_cast<QMessageBox *>(box)->text();
            box->close();
        });
        QTest::mouseClick(find<QPushButton>("nextButton"), Qt::LeftButton);
        QCOMPARE(message, QString("Writing the rootfs alone is currently only supported on external storage devices, "
                                  "like USB devices and M.2 SSDs. It is not supported on onboard Flash."));
        QVERIFY(!m_detail->isFlashing());
        QVERIFY(m_detail->progressWidget()->job() && !m_detail->progressWidget()->job()->isFinished());

        onModal([](QWidget *d) { d->findChild<QPushButton *>("candidate3")->click(); });
        QTest::mouseClick(find<QPushButton>("systemDeviceButton"), Qt::LeftButton);
        QCOMPARE(m_detail->previewWidget()->systemDevice().devName, QString("nvme0n1"));
        QCOMPARE(m_detail->progressWidget()->job()->systemDevice().devName, QString("nvme0n1"));
        QCOMPARE(m_detail->progressWidget()->job()->bootDevice().kind, int(TargetDeviceNone));
        const int before = m_router.progressEvents;
        QTest::mouseClick(find<QPushButton>("nextButton"), Qt::LeftButton);
        QVERIFY(m_detail->progressWidget()->isVisible());
        QTRY_VERIFY_WITH_TIMEOUT(m_detail->progressWidget()->job() == nullptr, 120000);
        QVERIFY(m_router.progressEvents > before);
    }
};

QTEST_MAIN(InstallScreensTest)
#include "installscreens_test.moc"
