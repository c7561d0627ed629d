// Polls the two keys of the USB LCD every 100 ms and reports a key once, when
// it is released. Runs until stop(); it never needs terminate(), which could
// leave mUSBLCDMutex locked or a transfer half done.
#pragma once

#include <QSemaphore>
#include <QThread>

#include <atomic>
#include <functional>

class USBLCDKeyThread : public QThread
{
    Q_OBJECT

public:
    // Receives the key code (1 for key 0, 2 for key 1) on the key thread.
    using Reporter = std::function<void(int)>;

    explicit USBLCDKeyThread(QObject *parent = nullptr);
    ~USBLCDKeyThread() override;

    // Replaces the default report, a USBLCDKeyEvent posted to the main
    // controller. Set it before start().
    void setReporter(Reporter reporter);

    // One poll: queries the keys under mUSBLCDMutex and reports a key that
    // was down at the previous polls and is up now. Key 0 wins when both are
    // held.
    void grabKey();

    // Clears an earlier stop request and starts polling.
    void startPolling();
    // Asks the loop to end and wakes it from its pause; wait() then returns
    // after the poll in progress, if any.
    void requestStop();
    // requestStop() and wait(); a key still held is forgotten.
    void stop();

protected:
    void run() override;

private:
    Reporter m_reporter;
    int m_pendingKey = 0;
    std::atomic<bool> m_stopRequested{false};
    QSemaphore m_wake;
};
