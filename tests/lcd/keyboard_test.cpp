// The on-screen keyboard, offscreen: it follows the focus and types into the
// back-up file-name dialog.
#include "ui/imframe.h"
#include "ui/key.h"
#include "ui/keyboard.h"
#include "ui/myinputdialog.h"

#include <QDialog>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>
#include <QSignalSpy>
#include <QTest>

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
    // Letters with and without shift, numbers, delete, and "DONE" accepting
    // the dialog.
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
    Key *key(const QString &text) const;
    void tap(const QString &text) const
    {
        Key *k = key(text);
        QVERIFY2(k, qPrintable(text));
        QTest::mouseClick(k, Qt::LeftButton);
    }

    IMFrame *m_im = nullptr;
    QDialog *m_dialog = nullptr;
    QLineEdit *m_field = nullptr;
    QPushButton *m_button = nullptr;
};

Key *KeyboardTest::key(const QString &text) const
{
    for (Key *k : m_im->keyboard()->keys())
        if (k->text() == text)
            return k;
    return nullptr;
}

QTEST_MAIN(KeyboardTest)
#include "keyboard_test.moc"
