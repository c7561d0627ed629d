// Up to four lines for the USB character LCD, posted to the main controller
// from any thread; only the GUI thread talks to the display.
#pragma once

#include <QEvent>
#include <QStringList>

class USBLCDEvent : public QEvent
{
public:
    static constexpr QEvent::Type USBLCD_EVENT_TYPE = static_cast<QEvent::Type>(1102);

    explicit USBLCDEvent(const QStringList &lines) : QEvent(USBLCD_EVENT_TYPE), m_lines(lines) {}

    const QStringList &lines() const { return m_lines; }

    // Posts `lines` to gMainWidget. `terminalLines` and `newLine` describe the
    // mirror of the display on standard output, which the LCD driver owns.
    static void showTextToUSBLCD(const QStringList &lines, const QStringList &terminalLines,
                                 bool newLine);

private:
    QStringList m_lines;
};
