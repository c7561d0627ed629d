// The parts of each event form that the whole-job tests do not reach: the
// discard callback's finished event (the storage layer happens to pass 0),
// an error carrying no progress fields, and events posted while no receiver
// is set, which are dropped rather than delivered to the next one.
#include <QCoreApplication>

#include <gtest/gtest.h>

#include "install/installevents.h"
#include "support/qt/installrecorder.h"

using namespace testsupport;

TEST(InstallEvents, FormsNoJobReachesAndNoReceiver)
{
    EventRecorder rec;
    setInstallEventReceiver(&rec);
    postProgressMessage(false, "/mnt/sdcard/a/boot.img", "boot", 42, 5, 2);
    lowformat_callback("/dev/mmcblk2", 1, 1, 0, 33);
    lowformat_callback("/dev/mmcblk2", 1, 1, 1, 77);
    postErrorMessage("Fail to open device: /dev/mmcblk2");
    QCoreApplication::sendPostedEvents(&rec);
    setInstallEventReceiver(nullptr);
    ASSERT_EQ(rec.events.size(), 4);
    EXPECT_TRUE(rec.events[1].inProgress);
    EXPECT_EQ(rec.events[1].percent, 33);
    EXPECT_FALSE(rec.events[2].inProgress);
    EXPECT_EQ(rec.events[2].percent, 0);
    EXPECT_TRUE(rec.events[3].isError);
    EXPECT_EQ(rec.events[3].percent, 0);
    EXPECT_TRUE(rec.events[3].imageName.isEmpty());

    postErrorMessage("nobody listens");
    EventRecorder later;
    setInstallEventReceiver(&later);
    QCoreApplication::sendPostedEvents();
    setInstallEventReceiver(nullptr);
    EXPECT_TRUE(later.events.isEmpty());
}
