// The automatic-install rule's one attempt per scan (the rest of it is
// driven through the selection screen in tests/ui) and the hot-plug filter
// with its coalescing timer fed through a socketpair.
#include "frontend/autoinstallplanner.h"
#include "frontend/hotplugmonitor.h"

#include <QSignalSpy>
#include <QTest>

#include <gtest/gtest.h>

#include <sys/socket.h>
#include <unistd.h>

namespace {

// The screen's timer is single-shot; the rule holds without it.
TEST(AutoInstall, OneAttemptPerScan)
{
    AutoInstallPlanner p;
    EXPECT_FALSE(p.scanFinished(false));   // nothing marked
    EXPECT_TRUE(p.scanFinished(true));
    EXPECT_TRUE(p.timerFired(true));
    EXPECT_FALSE(p.timerFired(true));
}

TEST(HotPlug, ABurstOfUsbEventsGivesOneCheck)
{
    int fds[2];
    ASSERT_EQ(socketpair(AF_UNIX, SOCK_SEQPACKET, 0, fds), 0);
    HotPlugMonitor monitor;
    monitor.setSocket(fds[0]);
    QSignalSpy checks(&monitor, &HotPlugMonitor::checkRequested);

    auto send = [&](const std::string &m) {
        // Real uevents carry NUL-separated fields after the header.
        const std::string msg = m + std::string("\0ACTION=add\0SUBSYSTEM=block", 27);
        ASSERT_EQ(write(fds[1], msg.data(), msg.size()), static_cast<ssize_t>(msg.size()));
    };
    // Not about USB storage: nothing happens.
    send("add@/devices/platform/fe2e0000.mmc/mmc_host/mmc2");
    send("change@/devices/platform/fc800000.usb/usb1/1-1");
    EXPECT_FALSE(checks.wait(HotPlugMonitor::kCoalesceMs + 300));

    for (const char *m : {"add@/devices/platform/fc800000.usb/usb1/1-1", "ADD@/devices/platform/fc800000.usb/usb1/1-1/1-1:1.0",
                          "add@/devices/platform/ehci/usb2", "remove@/devices/platform/ohci/usb3/3-1"})
        send(m);
    ASSERT_TRUE(checks.wait(5000));
    EXPECT_FALSE(checks.wait(HotPlugMonitor::kCoalesceMs + 300));
    EXPECT_EQ(checks.count(), 1);

    // The other end closing ends the watch instead of spinning.
    close(fds[1]);
    for (int i = 0; i < 200 && monitor.socket() != -1; ++i)
        QTest::qWait(10);
    EXPECT_EQ(monitor.socket(), -1);
}

} // namespace
