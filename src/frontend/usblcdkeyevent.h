// A key pressed on the USB character LCD: 1 for key 0 (next), 2 for key 1
// (choose). Posted by the key thread to the main controller.
#pragma once

#include <QEvent>

class USBLCDKeyEvent : public QEvent
{
public:
    static constexpr QEvent::Type USBLCDKEY_EVENT_TYPE = static_cast<QEvent::Type>(1103);

    explicit USBLCDKeyEvent(int key) : QEvent(USBLCDKEY_EVENT_TYPE), m_key(key) {}

    int key() const { return m_key; }

    static void sendUsbLCDKeyPressedEvent(int key);

private:
    int m_key;
};
