// The on-screen keyboard as the application's input method. It follows the
// application's focus: when a widget that takes input-method text gets the
// focus the keyboard appears at the bottom of its screen, and it disappears
// when the focus leaves for anything else. Characters reach the field as
// committed input-method text; DEL and DONE as Backspace and Enter key
// presses, so the field (and its dialog) react as to a real keyboard.
#pragma once

#include <QObject>
#include <QPointer>

class Keyboard;

class IMFrame : public QObject
{
    Q_OBJECT

public:
    // Starts following the focus of the running QApplication.
    explicit IMFrame(QObject *parent = nullptr);
    ~IMFrame() override;

    Keyboard *keyboard() const { return m_keyboard; }
    bool isShift() const { return m_shift; }
    bool isNumberMode() const { return m_numberMode; }

public slots:
    void showKeyboard(bool show);
    void hideKeyboard();
    // Acts on the mapping of one key.
    void sendContent(const QString &text);
    void setShift();
    void setChaNum();

private slots:
    void focusChanged(QWidget *old, QWidget *now);

private:
    void sendKey(int key, const QString &text);
    void commitText(const QString &text);
    void placeKeyboard();

    Keyboard *m_keyboard;
    QPointer<QWidget> m_target;
    bool m_shift = false;
    bool m_numberMode = false;
};
