// Progress, speed and remaining-time texts of the install screens.
#include <gtest/gtest.h>

#include "frontend/installprogress.h"
#include "install/sdupdatethreadevent.h"
#include "install/sdupdatethreadspeedevent.h"

namespace {

const qint64 MiB = 1024 * 1024;

TEST(InstallProgressTexts, SpeedAndRemainingTime)
{
    const struct { qint64 sinceStartMs, done, total; double elapsedMs; const char *speed, *remaining, *bar; } cases[] = {
        // Nothing before the rate has had five seconds to settle.
        {5000, 10 * MiB, 100 * MiB, 1000, "", "", ""},
        {5001, 10 * MiB, 100 * MiB, 1000, "Speed: 10 MB/s", "Remaining Time: 00:00:09", "==]"},
        {9000, 99 * MiB, 100 * MiB, 9900, "Speed: 10 MB/s", "Remaining Time: 00:00:00", "===================]"},
        {9000, 1 * MiB, 3000 * MiB, 1000, "Speed: 1 MB/s", "Remaining Time: 00:49:59", "]"},
        {9000, 1 * MiB, 8000 * MiB, 2000, "Speed: 512 KB/s", "Remaining Time: --:--:--", "]"},
        // Full: the closing bracket runs past the display's 20 cells.
        {9000, 100 * MiB, 100 * MiB, 10000, "Speed: 10 MB/s", "Remaining Time: 00:00:00", "====================]"},
    };
    for (const auto &c : cases) {
        InstallProgress p;
        const InstallScreenUpdate u =
            p.speed(SDUpdateThreadSpeedEvent("rootfs-with-a-long-name.img", "rootfs", c.done, c.total, c.elapsedMs),
                    c.sinceStartMs);
        EXPECT_EQ(u.speed.toStdString(), c.speed);
        EXPECT_EQ(u.remaining.toStdString(), c.remaining);
        EXPECT_EQ(u.lcdLines.value(2).toStdString(), c.bar);
        if (!u.shown)
            continue;
        EXPECT_EQ(u.consoleLines.last().toStdString(), ">>> Enter \"c\" to cancel.");
        EXPECT_EQ(u.lcdLines.value(0), "rootfs-with-a-long-n");
        EXPECT_EQ(u.lcdLines.value(3).trimmed(), QString::number(c.done * 100 / c.total) + "%");
    }
}

TEST(InstallProgressTexts, StepsErrorsAndCopyTimes)
{
    InstallProgress p;
    EXPECT_EQ(p.progress(SDUpdateThreadEvent(false, "boot.img", "boot", 0, 2, 1)).status,
              "(Step 1/2) Writing boot.img ...");
    EXPECT_EQ(p.progress(SDUpdateThreadEvent(true, QString(), "cache", 5, 2, 1)).status,
              "(Step 1/2) Erasing [cache] partition ...");
    EXPECT_FALSE(p.timesTaken());
    p.speed(SDUpdateThreadSpeedEvent("boot.img", "boot", 1000, 1000, 10), 0);
    SDUpdateThreadEvent check(false, "boot.img", "boot", 40, 2, 1);
    check.setVerifying(true);
    const InstallScreenUpdate verify = p.progress(check);
    EXPECT_EQ(verify.status, "(Step 1/2) Verifying boot.img ...");
    EXPECT_EQ(verify.percent, 40);
    EXPECT_EQ(verify.lcdLines, (QStringList{"Verifying", "boot.img", "40%"}));
    // The read-back's speed is shown, and its bytes are not counted as copied.
    EXPECT_TRUE(p.speed(SDUpdateThreadSpeedEvent("boot.img", "boot", 4000, 10000, 10), 6000).speed.startsWith("Speed: "));
    EXPECT_EQ(p.transferredBytes(), 1000);
    const InstallScreenUpdate end = p.progress(SDUpdateThreadEvent(false, "rootfs.img", "rootfs", 100, 2, 2));
    EXPECT_EQ(end.percent, 100);
    EXPECT_TRUE(end.status.isEmpty());
    EXPECT_TRUE(p.timesTaken());

    const InstallScreenUpdate err =
        p.progress(SDUpdateThreadEvent(QStringLiteral("rootfs.img is larger than its partition rootfs")));
    EXPECT_EQ(err.status, "Error: rootfs.img is larger than its partition rootfs");
    EXPECT_EQ(err.lcdLines, (QStringList{"Error", "rootfs.img is larger", " than its partition ", "rootfs"}));
    EXPECT_EQ(err.consoleInputs, (QStringList{"reboot", "poweroff", "c"}));

    const InstallProgress::Completion done = p.completion(false, TargetDevice());
    EXPECT_TRUE(done.consoleLines.join('\n').contains("Installation Complete"));
    EXPECT_EQ(done.consoleInputs, (QStringList{"poweroff", "reboot", "c"}));
}

} // namespace
