#include "ui/usblcdkeythread.h"

#include "frontend/usblcdkeyevent.h"
#include "ui/usblcd.h"

#include <QMutexLocker>

void USBLCDKeyThread::run()
{
    while (!m_stop.load()) {
        grabKey();
        msleep(100);
    }
}

void USBLCDKeyThread::grabKey()
{
    int key;
    {
        QMutexLocker lock(&mUSBLCDMutex);
        key = is_key_pressed();
    }
    if (key == 1 || key == 2) {
        m_pendingKey = key;
    } else if (key == 0 && m_pendingKey != 0) {
        USBLCDKeyEvent::sendUsbLCDKeyPressedEvent(m_pendingKey);
        m_pendingKey = 0;
    }
}
