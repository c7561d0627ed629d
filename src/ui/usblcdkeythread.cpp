#include "ui/usblcdkeythread.h"

#include "frontend/usblcdkeyevent.h"
#include "ui/usblcd.h"

#include <QMutexLocker>

namespace {
const int kPollIntervalMs = 100;
}

USBLCDKeyThread::USBLCDKeyThread(QObject *parent)
    : QThread(parent)
    , m_reporter(&USBLCDKeyEvent::sendUsbLCDKeyPressedEvent)
{
}

USBLCDKeyThread::~USBLCDKeyThread()
{
    stop();
}

void USBLCDKeyThread::setReporter(Reporter reporter)
{
    m_reporter = std::move(reporter);
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
        return;
    }
    if (m_pendingKey == 0)
        return;
    const int released = m_pendingKey;
    m_pendingKey = 0;
    if (m_reporter)
        m_reporter(released);
}

void USBLCDKeyThread::startPolling()
{
    m_stopRequested = false;
    m_wake.tryAcquire(m_wake.available());
    start();
}

void USBLCDKeyThread::requestStop()
{
    m_stopRequested = true;
    m_wake.release();
}

void USBLCDKeyThread::stop()
{
    requestStop();
    wait();
    m_pendingKey = 0;
}

void USBLCDKeyThread::run()
{
    while (!m_stopRequested) {
        grabKey();
        m_wake.tryAcquire(1, kPollIntervalMs);
    }
}
