// The main controller with a USB LCD model on a simulated RK3588 board;
// the on-screen keyboard in the back-up file-name dialog.
#include "lcddevicemodel.h"
#include "simulatedboard.h"

#include "frontend/usblcdevent.h"
#include "install/sdupdatethread.h"
#include "ui/imframe.h"
#include "ui/key.h"
#include "ui/keyboard.h"
#include "ui/myinputdialog.h"
#include "ui/tdownloaddetailwidget.h"
#include "ui/tmainwidget.h"
#include "ui/tosselectwidget.h"
#include "ui/tprogresswidget.h"
#include "ui/usblcdkeythread.h"

#include <QApplication>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>
#include <QSemaphore>
#include <QSignalSpy>
#include <QtTest>

#include <atomic>
#include <memory>

class UsbLcdControllerTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        m_board = std::make_unique<SimulatedBoard>(QStringLiteral("--sets linux-mbr4"));
        QVERIFY(m_board->ok());
        for (const char *name : {"set-b", "set-c", "set-d", "set-e"})
            m_board->imageSet(name, {{"partmap.txt", "flash=mmc,0:boot:ext4:0x100000,0x1000000:boot.img;\n"},
                                     {"boot.img", std::string(4096, '\0')}});
        m_guard = std::make_unique<LcdTransportGuard>(&m_lcd);
        m_main = new TMainWidget;
        m_main->resize(800, 480);
        QSignalSpy reloaded(m_main->osSelectWidget(), &TOSSelectWidget::imageFilesReloaded);
        m_main->show();
        QVERIFY(reloaded.wait(10000));
        QVERIFY(m_main->isUSBLCDPresent());
        QVERIFY(m_main->findChild<USBLCDKeyThread *>()->isRunning());
    }
    void cleanupTestCase()
    {
        delete m_main;
        m_guard.reset();
        m_board.reset();
    }
    void fiveSetsShowThePosition()
    {
        QCOMPARE(m_main->osSelectWidget()->enmuOSIds().size(), 5);
        const int selected = m_main->osSelectWidget()->selectedIndex();
        const QString position = QStringLiteral("[%1/5]").arg(selected + 1);
        QTRY_COMPARE(m_lcd.rows().at(3).trimmed(), position);
        const QStringList rows = m_lcd.rows();
        QVERIFY2(rows.at(0).startsWith(QLatin1String(">>")) && rows.at(0).size() > 2, qPrintable(rows.at(0)));
        QCOMPARE((rows.at(1) + rows.at(2)).trimmed(), QString());
    }
    void holdingAKeyMovesOnce()
    {
        const int before = m_main->osSelectWidget()->selectedIndex();
        QSignalSpy keys(m_main, &TMainWidget::usblcdKeyPressed);
        // Held: nothing until it is let go, then one report.
        m_lcd.setKeys({0x01});
        waitForPolls(5);
        QCoreApplication::processEvents();
        QCOMPARE(keys.count(), 0);
        m_lcd.setKeys({0x00});
        QTRY_COMPARE(keys.count(), 1);
        QCOMPARE(keys.at(0).at(0).toInt(), 1);
        QCOMPARE(m_main->osSelectWidget()->selectedIndex(), (before + 1) % 5);
        QTRY_COMPARE(m_lcd.rows().at(3).trimmed(), QStringLiteral("[%1/5]").arg((before + 1) % 5 + 1));
    }
    void linesAreCutToTheDisplay()
    {
        USBLCDEvent::showTextToUSBLCD({"Error", "0123456789abcdefghijKLMNO", "c", "d", "fifth line"}, {}, true);
        QTRY_COMPARE(m_lcd.shownLines(), QStringList({"Error", "0123456789abcdefghij", "c", "d"}));
        QVERIFY(!m_lcd.ddram(0).contains("KLMNO"));
        QVERIFY(!m_lcd.ddram(0).contains("fifth"));
        // A shorter screen leaves nothing of the longer one.
        USBLCDEvent::showTextToUSBLCD({"Done"}, {}, true);
        QTRY_COMPARE(m_lcd.shownLines(), QStringList({"Done"}));
    }
    void installChosenWithKeysIgnoresKeysWhileWriting()
    {
        TOSSelectWidget *select = m_main->osSelectWidget();
        const int target = select->enmuOSIds().indexOf(QStringLiteral("/mnt/sdcard/linux-mbr4"));
        QVERIFY(target >= 0);
        while (select->selectedIndex() != target) {
            const int before = select->selectedIndex();
            tap(0x01);
            QTRY_VERIFY(select->selectedIndex() != before);
        }

        // Held at its first progress report, so that keys arrive while it writes.
        QSemaphore gate;
        std::atomic<bool> held{false};
        connect(select, &TOSSelectWidget::osSelectedFromUSBLCD, this, [&] {
            m_main->downloadDetailWidget()->progressWidget()->job()->setProgressObserver([&](int, int) {
                if (!held.exchange(true))
                    gate.tryAcquire(1, 60000);
            });
        });
        tap(0x02);
        QTRY_VERIFY_WITH_TIMEOUT(held && m_main->isJobRunning(), 20000);
        disconnect(select, &TOSSelectWidget::osSelectedFromUSBLCD, this, nullptr);

        QSignalSpy keys(m_main, &TMainWidget::usblcdKeyPressed);
        tap(0x01);
        tap(0x02);
        waitForPolls(2);
        QCoreApplication::processEvents();
        QCOMPARE(keys.count(), 0);
        QVERIFY(m_main->downloadDetailWidget()->isVisible());
        gate.release();

        QTRY_COMPARE_WITH_TIMEOUT(m_lcd.rows().at(0).trimmed(), QStringLiteral("Finish!"), 120000);
        const QStringList rows = m_lcd.rows();
        QVERIFY2(rows.at(1).startsWith(QLatin1String("Speed: ")), qPrintable(rows.at(1)));
        QVERIFY2(rows.at(2).startsWith(QLatin1String("eMMC: ")), qPrintable(rows.at(2)));

        // After the install a key leads back to the set menu.
        tap(0x01);
        QTRY_VERIFY(select->isVisible());
        QTRY_COMPARE(m_lcd.rows().at(3).trimmed(), QStringLiteral("[%1/5]").arg(select->selectedIndex() + 1));
    }
    void fourSetsShowOneRowEach()
    {
        QVERIFY(QDir(m_board->path("mnt/sdcard/set-e")).removeRecursively());
        QSignalSpy reloaded(m_main->osSelectWidget(), &TOSSelectWidget::imageFilesReloaded);
        m_main->osSelectWidget()->reloadImageFiles();
        QVERIFY(reloaded.wait(10000));
        const QStringList ids = m_main->osSelectWidget()->enmuOSIds();
        QCOMPARE(ids.size(), 4);
        const int selected = m_main->osSelectWidget()->selectedIndex();
        // The five-set menu left rows 1 and 2 blank.
        QTRY_VERIFY(!m_lcd.rows().at(1).trimmed().isEmpty());
        const QStringList rows = m_lcd.rows();
        for (int i = 0; i < 4; ++i) {
            QVERIFY2(rows.at(i).startsWith(i == selected ? QLatin1String(">>") : QLatin1String("  ")), qPrintable(rows.at(i)));
            QVERIFY(!rows.at(i).mid(2).trimmed().isEmpty());
        }
    }
    void unpluggedDisplayReadsNoKeyAndHotPlugStopsPolling()
    {
        auto *thread = m_main->findChild<USBLCDKeyThread *>();
        QSignalSpy keys(m_main, &TMainWidget::usblcdKeyPressed);
        const int answered = m_lcd.keyQueries;
        m_lcd.setKeys({0x01});
        m_lcd.plugged = false;
        const int transfers = int(m_lcd.transfers().size());
        QTRY_VERIFY(int(m_lcd.transfers().size()) >= transfers + 3);   // polls go on, and fail
        QCOMPARE(m_lcd.keyQueries.load(), answered);
        QCoreApplication::processEvents();
        QCOMPARE(keys.count(), 0);

        m_main->usbDevicesStateChanged();
        QVERIFY(!m_main->isUSBLCDPresent());
        QVERIFY(!thread->isRunning());
        // Without a display nothing is sent to it.
        const size_t after = m_lcd.transfers().size();
        m_main->sendTextToUSBLCD({"nobody sees this"});
        QCOMPARE(m_lcd.transfers().size(), after);

        m_lcd.setKeys({0x00});
        m_lcd.plugged = true;
        m_main->usbDevicesStateChanged();
        QVERIFY(m_main->isUSBLCDPresent());
        QVERIFY(thread->isRunning());
        // The restarted thread reports keys again.
        QSignalSpy again(m_main, &TMainWidget::usblcdKeyPressed);
        tap(0x02);
        QTRY_COMPARE(again.count(), 1);
        QCOMPARE(again.at(0).at(0).toInt(), 2);
    }

private:
    // One press and release (bit 0: key 0), seen by the key thread.
    void tap(uint8_t bits)
    {
        m_lcd.setKeys({bits, bits, 0});
        waitForPolls(4);
    }
    void waitForPolls(int polls)
    {
        const int target = m_lcd.keyQueries + polls;
        QTRY_VERIFY_WITH_TIMEOUT(m_lcd.keyQueries >= target, 10000);
    }

    std::unique_ptr<SimulatedBoard> m_board;
    LcdDeviceModel m_lcd;
    std::unique_ptr<LcdTransportGuard> m_guard;
    TMainWidget *m_main = nullptr;
};

class KeyboardTest : public QObject
{
    Q_OBJECT

private slots:
    void init()
    {
        // The field a user types into on a board: the back-up file name.
        m_im = new IMFrame;
        auto *dialog = new MyInputDialog;
        dialog->open(QStringLiteral("Backup file name:"), QString());
        m_dialog = dialog;
        m_field = dialog->findChild<QLineEdit *>();
        QVERIFY(m_field);
        const QList<QPushButton *> buttons = dialog->findChildren<QPushButton *>();
        QVERIFY(!buttons.isEmpty());
        m_button = buttons.first();
        QVERIFY(QTest::qWaitForWindowActive(m_dialog));
    }
    void cleanup()
    {
        delete m_dialog;
        delete m_im;
    }
    void showsForTextFieldsOnly()
    {
        Keyboard *keyboard = m_im->keyboard();
        m_button->setFocus();
        QTRY_VERIFY(!keyboard->isVisible());
        m_field->setFocus();
        QTRY_VERIFY(keyboard->isVisible());
        QVERIFY(m_field->hasFocus());
        // 800 pixels wide, centred on the bottom edge of the screen.
        const QRect screen = m_field->screen()->geometry();
        QCOMPARE(keyboard->geometry(), QRect((screen.width() - 800) / 2, screen.height() - 280, 800, 280));
        m_button->setFocus();
        QTRY_VERIFY(!keyboard->isVisible());
        m_field->setReadOnly(true);
        m_field->setFocus();
        QVERIFY(m_field->hasFocus());
        QVERIFY(!keyboard->isVisible());
    }
    // Letters, shift, numbers, delete; "DONE" accepts the dialog.
    void typesAndAccepts()
    {
        QSignalSpy accepted(m_dialog, &QDialog::accepted);
        m_field->setFocus();
        QTRY_VERIFY(m_im->keyboard()->isVisible());
        tap(QStringLiteral("Q"));
        QCOMPARE(m_field->text(), QStringLiteral("q"));
        tap(QStringLiteral("CAPS"));
        tap(QStringLiteral("Q"));
        tap(QStringLiteral("SPACE"));
        tap(QStringLiteral("CAPS"));
        tap(QStringLiteral("W"));
        tap(QStringLiteral("."));
        QCOMPARE(m_field->text(), QStringLiteral("qQ w."));
        QVERIFY(m_field->hasFocus());

        tap(QStringLiteral("CAPS"));   // shift does not survive a mode switch
        tap(QStringLiteral(".?123"));
        QVERIFY(!m_im->isShift());
        QVERIFY(m_im->keyboard()->capsKey()->icon().isNull());
        tap(QStringLiteral("&&"));
        tap(QStringLiteral("7"));
        tap(QStringLiteral("@"));
        QCOMPARE(m_field->text(), QStringLiteral("qQ w.&7@"));
        tap(QStringLiteral("DEL"));
        QCOMPARE(m_field->text(), QStringLiteral("qQ w.&7"));
        tap(QStringLiteral("abc"));
        tap(QStringLiteral("A"));
        QCOMPARE(m_field->text(), QStringLiteral("qQ w.&7a"));
        QVERIFY(!m_im->keyboard()->capsKey()->icon().isNull());
        QVERIFY(m_im->keyboard()->isVisible());

        tap(QStringLiteral("DONE"));
        QCOMPARE(accepted.count(), 1);
        QTRY_VERIFY(!m_im->keyboard()->isVisible());
    }

private:
    void tap(const QString &text) const
    {
        for (Key *k : m_im->keyboard()->keys())
            if (k->text() == text)
                return QTest::mouseClick(k, Qt::LeftButton);
        QFAIL(qPrintable("no key " + text));
    }

    IMFrame *m_im = nullptr;
    QDialog *m_dialog = nullptr;
    QLineEdit *m_field = nullptr;
    QPushButton *m_button = nullptr;
};

int main(int argc, char **argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    UsbLcdControllerTest controller;
    KeyboardTest keyboard;
    return QTest::qExec(&controller, argc, argv) | QTest::qExec(&keyboard, argc, argv);
}

#include "usblcd_controller_test.moc"
