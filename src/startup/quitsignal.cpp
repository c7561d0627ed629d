#include "startup/quitsignal.h"

#include <QCoreApplication>
#include <QSocketNotifier>

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <unistd.h>

namespace {

int gQuitPipe[2] = {-1, -1};

void onQuitSignal(int)
{
    const int saved = errno;
    const char byte = 1;
    [[maybe_unused]] const ssize_t n = write(gQuitPipe[1], &byte, 1);
    errno = saved;
}

} // namespace

void installQuitSignalHandlers()
{
    if (pipe2(gQuitPipe, O_CLOEXEC | O_NONBLOCK) != 0)
        return;
    struct sigaction sa = {};
    sa.sa_handler = onQuitSignal;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = SA_RESTART;
    sigaction(SIGTERM, &sa, nullptr);
    sigaction(SIGINT, &sa, nullptr);
}

void watchQuitSignals(QObject *parent)
{
    if (gQuitPipe[0] < 0)
        return;
    auto *notifier = new QSocketNotifier(gQuitPipe[0], QSocketNotifier::Read, parent);
    QObject::connect(notifier, &QSocketNotifier::activated, parent, [] {
        char buf[16];
        while (read(gQuitPipe[0], buf, sizeof buf) > 0) {
        }
        QCoreApplication::quit();
    });
}
