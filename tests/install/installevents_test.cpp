// Event delivery from a worker thread, and the parts of each event form that
// the whole-job tests do not reach (the discard callback when no loop device
// is available, an error carrying no progress fields).
#include <QCoreApplication>

#include <gtest/gtest.h>

#include "board/targetdevice.h"
#include "install/installevents.h"
#include "support/qt/installrecorder.h"
#include "support/qt/simboard.h"

#include <thread>

using namespace testsupport;

TEST(InstallEvents, PostedFromAWorkerAndDeliveredInOrder)
{
    EventRecorder rec;
    setInstallEventReceiver(&rec);
    std::thread worker([] {
        postProgressMessage(false, "/mnt/sdcard/a/boot.img", "boot", 42, 5, 2);
        lowformat_callback("/dev/mmcblk2", 1, 1, 0, 33);
        lowformat_callback("/dev/mmcblk2", 1, 1, 1, 77);
        postErrorMessage("Fail to open device: /dev/mmcblk2");
        postFinishMessage(TargetDevice(TargetDeviceEMMC, "mmcblk2"), TargetDevice());
    });
    worker.join();
    QCoreApplication::sendPostedEvents(&rec);
    setInstallEventReceiver(nullptr);

    ASSERT_EQ(rec.events.size(), 5);
    EXPECT_EQ(rec.events[0].percent, 42);
    EXPECT_FALSE(rec.events[0].isError);
    // The discard callback: progress while running, (false, 0) when done.
    EXPECT_EQ(rec.events[1].type, 1110);
    EXPECT_TRUE(rec.events[1].inProgress);
    EXPECT_EQ(rec.events[1].percent, 33);
    EXPECT_FALSE(rec.events[2].inProgress);
    EXPECT_EQ(rec.events[2].percent, 0);
    const RecordedEvent &err = rec.events[3];
    EXPECT_TRUE(err.isError);
    EXPECT_EQ(err.errorMessage, "Fail to open device: /dev/mmcblk2");
    EXPECT_EQ(err.percent, 0);
    EXPECT_TRUE(err.imageName.isEmpty());
    EXPECT_EQ(rec.events[4].type, 1111);
    EXPECT_EQ(rec.events[4].bootDevName, "mmcblk2");

    // Without a receiver events are dropped, not delivered to a later one.
    postErrorMessage("nobody listens");
    EventRecorder later;
    setInstallEventReceiver(&later);
    QCoreApplication::sendPostedEvents();
    setInstallEventReceiver(nullptr);
    EXPECT_TRUE(later.events.isEmpty());
}
