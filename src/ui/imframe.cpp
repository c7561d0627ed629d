#include "ui/imframe.h"

#include "ui/keyboard.h"

#include <QApplication>
#include <QGuiApplication>
#include <QInputMethodEvent>
#include <QKeyEvent>
#include <QScreen>
#include <QWindow>

static void initKeyboardResources()
{
    // The icons live in a static library: nothing else would pull them in.
    Q_INIT_RESOURCE(keyboard);
}

IMFrame::IMFrame(QObject *parent)
    : QObject(parent)
    , m_keyboard(new Keyboard)
{
    initKeyboardResources();
    connect(m_keyboard, &Keyboard::keyClicked, this, &IMFrame::sendContent);
    connect(m_keyboard, &Keyboard::modeKeyClicked, this, &IMFrame::setChaNum);
    connect(qApp, &QApplication::focusChanged, this, &IMFrame::focusChanged);
}

IMFrame::~IMFrame()
{
    delete m_keyboard;
}

void IMFrame::focusChanged(QWidget *, QWidget *now)
{
    if (QApplication::activeWindow() == m_keyboard) {
        // Some platforms activate every window they show. The field being
        // edited must keep the focus, so its window takes activation back.
        if (m_target)
            m_target->window()->activateWindow();
        return;
    }
    const bool takesText = now && now->testAttribute(Qt::WA_InputMethodEnabled)
                           && now->inputMethodQuery(Qt::ImEnabled).toBool();
    if (takesText) {
        m_target = now;
        showKeyboard(true);
    } else {
        m_target = nullptr;
        hideKeyboard();
    }
}

void IMFrame::showKeyboard(bool show)
{
    if (show) {
        placeKeyboard();
        m_keyboard->show();
        m_keyboard->raise();
    } else {
        m_keyboard->hide();
    }
}

void IMFrame::hideKeyboard()
{
    showKeyboard(false);
}

void IMFrame::placeKeyboard()
{
    QScreen *screen = m_target ? m_target->screen() : QGuiApplication::primaryScreen();
    if (screen) {
        // 800 x 480 panel: x 0..799, y 200..479; larger screens keep the size,
        // centred at the bottom.
        const QRect area = screen->geometry();
        m_keyboard->move(area.x() + (area.width() - Keyboard::kWidth) / 2,
                         area.y() + area.height() - Keyboard::kHeight);
    }
    // A modal dialog blocks every window that is not its own; as the
    // dialog's transient child the keyboard still takes taps. (Not a
    // QObject child: the dialog would delete it.)
    m_keyboard->winId();
    if (m_target && m_target->window()->windowHandle())
        m_keyboard->windowHandle()->setTransientParent(m_target->window()->windowHandle());
}

void IMFrame::sendKey(int key, const QString &text)
{
    if (!m_target)
        return;
    QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier, text);
    QApplication::sendEvent(m_target, &press);
    if (!m_target)
        return;
    QKeyEvent release(QEvent::KeyRelease, key, Qt::NoModifier, text);
    QApplication::sendEvent(m_target, &release);
}

void IMFrame::sendContent(const QString &text)
{
    if (text == QLatin1String("DONE")) {
        sendKey(Qt::Key_Enter, QStringLiteral("\r"));
        hideKeyboard();
        return;
    }
    if (text == QLatin1String("DEL")) {
        sendKey(Qt::Key_Backspace, QStringLiteral("\b"));
        return;
    }
    if (text == QLatin1String("CAPS")) {
        setShift();
        return;
    }
    if (text == QLatin1String(".?123") || text == QLatin1String("abc")) {
        setChaNum();
        return;
    }
    if (text == QLatin1String("SPACE")) {
        commitText(text);
        return;
    }
    QString commit = text;
    if (commit == QLatin1String("&&"))
        commit.chop(1);
    commitText(m_shift ? commit : commit.toLower());
}

void IMFrame::commitText(const QString &text)
{
    if (!m_target)
        return;
    QInputMethodEvent event;
    event.setCommitString(text);
    QApplication::sendEvent(m_target, &event);
}

void IMFrame::setShift()
{
    m_shift = !m_shift;
    m_keyboard->setShiftIcon(m_shift);
}

void IMFrame::setChaNum()
{
    m_shift = false;
    m_numberMode = !m_numberMode;
    m_keyboard->setShiftIcon(false);
    m_keyboard->setNumberMode(m_numberMode);
}
