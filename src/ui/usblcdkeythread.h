// Polls the two keys of the USB LCD every 100 ms and posts a key once, when
// it is released. Stops cooperatively: it may hold mUSBLCDMutex, so it is
// never terminated from outside.
#pragma once

#include <QThread>

#include <atomic>

class USBLCDKeyThread : public QThread
{
    Q_OBJECT
public:
    explicit USBLCDKeyThread(QObject *parent = nullptr) : QThread(parent) {}

    // Clears an earlier stop request and starts polling.
    void startPolling()
    {
        m_stop.store(false);
        start();
    }
    // Asks the loop to end after its current poll; wait() then returns.
    void requestStop() { m_stop.store(true); }

protected:
    void run() override;

private:
    void grabKey();

    std::atomic<bool> m_stop{false};
    int m_pendingKey = 0;
};
