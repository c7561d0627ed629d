// Watches kernel uevents for USB storage coming and going. The source is a
// file descriptor: the kernel's uevent netlink socket in the program, one end
// of a socketpair in tests. A burst of messages (a hub with several drives)
// yields one check, 500 ms after the last of them.
#pragma once

#include <QObject>
#include <QTimer>

class QSocketNotifier;

class HotPlugMonitor : public QObject
{
    Q_OBJECT
public:
    static constexpr int kCoalesceMs = 500;

    explicit HotPlugMonitor(QObject *parent = nullptr);
    ~HotPlugMonitor() override;

    // Opens the kernel uevent netlink socket; -1 (and a log line) on failure.
    static int openKernelUeventSocket();
    // Watches `fd` (taking ownership) instead of the current source.
    void setSocket(int fd);
    int socket() const { return m_fd; }

    // Whether one message announces USB storage arriving or leaving.
    static bool isUsbStorageEvent(const QByteArray &message);

signals:
    // The USB drive situation may have changed; check it now.
    void checkRequested();

public slots:
    void dataReceivedFromHotPlug();

private:
    int m_fd = -1;
    QSocketNotifier *m_notifier = nullptr;
    QTimer m_timer;
};
