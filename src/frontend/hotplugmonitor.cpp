#include "frontend/hotplugmonitor.h"

#include <QDebug>
#include <QSocketNotifier>

#include <cerrno>
#include <cstring>
#include <linux/netlink.h>
#include <sys/socket.h>
#include <unistd.h>

HotPlugMonitor::HotPlugMonitor(QObject *parent) : QObject(parent)
{
    m_timer.setSingleShot(true);
    connect(&m_timer, &QTimer::timeout, this, &HotPlugMonitor::checkRequested);
}

HotPlugMonitor::~HotPlugMonitor()
{
    setSocket(-1);
}

int HotPlugMonitor::openKernelUeventSocket()
{
    const int fd = ::socket(PF_NETLINK, SOCK_DGRAM | SOCK_CLOEXEC, NETLINK_KOBJECT_UEVENT);
    if (fd < 0) {
        qWarning("error getting socket: %s", strerror(errno));
        qWarning("init_hotplug_sock failed.");
        return -1;
    }
    // A hub's burst must not overflow the queue while the GUI thread is busy.
    const int size = 0x1000000;
    setsockopt(fd, SOL_SOCKET, SO_RCVBUFFORCE, &size, sizeof size);
    struct sockaddr_nl addr;
    memset(&addr, 0, sizeof addr);
    addr.nl_family = AF_NETLINK;
    addr.nl_pid = static_cast<__u32>(getpid());
    addr.nl_groups = 1;
    int rc = bind(fd, reinterpret_cast<struct sockaddr *>(&addr), sizeof addr);
    if (rc < 0 && errno == EADDRINUSE) {
        // Another socket of this process (libusb's own hot-plug watch) holds
        // the process id: let the kernel pick a free port id.
        addr.nl_pid = 0;
        rc = bind(fd, reinterpret_cast<struct sockaddr *>(&addr), sizeof addr);
    }
    if (rc < 0) {
        qWarning("bind failed: %s", strerror(errno));
        qWarning("init_hotplug_sock failed.");
        close(fd);
        return -1;
    }
    return fd;
}

void HotPlugMonitor::setSocket(int fd)
{
    if (m_notifier) {
        // May run inside the notifier's own signal.
        m_notifier->setEnabled(false);
        m_notifier->deleteLater();
        m_notifier = nullptr;
    }
    if (m_fd >= 0)
        close(m_fd);
    m_fd = fd;
    if (m_fd < 0)
        return;
    m_notifier = new QSocketNotifier(m_fd, QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, &HotPlugMonitor::dataReceivedFromHotPlug);
}

bool HotPlugMonitor::isUsbStorageEvent(const QByteArray &message)
{
    const QString text = QString::fromLatin1(message).toLower().simplified();
    if (!text.startsWith(QLatin1String("add@/")) && !text.startsWith(QLatin1String("remove@/")))
        return false;
    return text.contains(QLatin1String("usb")) || text.contains(QLatin1String("ehci"))
        || text.contains(QLatin1String("ohci"));
}

void HotPlugMonitor::dataReceivedFromHotPlug()
{
    char buf[256];
    const ssize_t n = ::recv(m_fd, buf, 254, MSG_DONTWAIT);
    if (n <= 0) {
        // The other end is gone (a closed socketpair reads as 0 forever):
        // stop watching instead of spinning.
        if (n == 0 || (errno != EAGAIN && errno != EINTR))
            setSocket(-1);
        return;
    }
    // Messages carry NUL-separated fields; the header comes first.
    const QByteArray message(buf, static_cast<int>(strnlen(buf, static_cast<size_t>(n))));
    if (isUsbStorageEvent(message))
        m_timer.start(kCoalesceMs);
}
