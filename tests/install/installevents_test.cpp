// The install events: fixed type numbers, the two forms of the progress
// event, the low-format callback, and delivery to the receiver in order.
#include "installsupport.h"

#include <QCoreApplication>

#include <gtest/gtest.h>

#include "board/targetdevice.h"
#include "install/installevents.h"
#include "install/sdupdatefinishthreadevent.h"
#include "install/sdupdatethreadevent.h"
#include "install/sdupdatethreadlowformatevent.h"
#include "install/sdupdatethreadspeedevent.h"

#include <thread>

TEST(InstallEvents, TypeNumbersAreFixed)
{
    EXPECT_EQ(SDUpdateThreadEvent::SDUPDATE_EVENT_TYPE, 1100);
    EXPECT_EQ(SDUpdateThreadSpeedEvent::SDUPDATE_SPEED_EVENT_TYPE, 1101);
    EXPECT_EQ(SDUpdateThreadLowFormatEvent::SDUPDATE_LOWFORMAT_EVENT_TYPE, 1110);
    EXPECT_EQ(SDUpdateFinishThreadEvent::SDUPDATE_FINISH_EVENT_TYPE, 1111);
}

TEST(InstallEvents, PostedFromAWorkerAndDeliveredInOrder)
{
    EventRecorder rec;
    setInstallEventReceiver(&rec);
    std::thread worker([] {
        postProgressMessage(false, "/mnt/sdcard/a/boot.img", "boot", 42, 5, 2);
        postSpeedMessage("/mnt/sdcard/a/boot.img", "boot", 1000, 4000, 12.5);
        lowformat_callback("/dev/mmcblk2", 1, 1, 0, 33);
        lowformat_callback("/dev/mmcblk2", 1, 1, 1, 77);
        postErrorMessage("Fail to open device: /dev/mmcblk2");
        TargetDevice boot;
        boot.kind = 1;
        boot.devName = "mmcblk2";
        TargetDevice none;
        none.kind = 7;
        none.devName = "null";
        postFinishMessage(boot, none);
    });
    worker.join();
    QCoreApplication::sendPostedEvents(&rec);
    setInstallEventReceiver(nullptr);

    ASSERT_EQ(rec.events.size(), 6);
    const RecordedEvent &p = rec.events[0];
    EXPECT_EQ(p.type, 1100);
    EXPECT_FALSE(p.isError);
    EXPECT_TRUE(p.errorMessage.isEmpty());
    EXPECT_EQ(p.percent, 42);
    EXPECT_EQ(p.imageName, "/mnt/sdcard/a/boot.img");
    EXPECT_EQ(p.partitionName, "boot");
    EXPECT_EQ(p.fileCount, 5);
    EXPECT_EQ(p.fileIndex, 2);

    EXPECT_EQ(rec.events[1].type, 1101);
    EXPECT_EQ(rec.events[1].bytesDone, 1000);
    EXPECT_EQ(rec.events[1].bytesTotal, 4000);
    EXPECT_DOUBLE_EQ(rec.events[1].elapsedMs, 12.5);

    // The discard callback: progress while running, (false, 0) when done.
    EXPECT_EQ(rec.events[2].type, 1110);
    EXPECT_TRUE(rec.events[2].inProgress);
    EXPECT_EQ(rec.events[2].percent, 33);
    EXPECT_EQ(rec.events[3].type, 1110);
    EXPECT_FALSE(rec.events[3].inProgress);
    EXPECT_EQ(rec.events[3].percent, 0);

    // Error form: only the message.
    const RecordedEvent &err = rec.events[4];
    EXPECT_TRUE(err.isError);
    EXPECT_EQ(err.errorMessage, "Fail to open device: /dev/mmcblk2");
    EXPECT_EQ(err.percent, 0);
    EXPECT_TRUE(err.imageName.isEmpty());
    EXPECT_EQ(err.fileCount, 0);

    EXPECT_EQ(rec.events[5].type, 1111);
    EXPECT_EQ(rec.events[5].bootDevName, "mmcblk2");
    EXPECT_EQ(rec.events[5].systemDevName, "null");
}

TEST(InstallEvents, WithoutReceiverEventsAreDropped)
{
    setInstallEventReceiver(nullptr);
    postErrorMessage("nobody listens");   // must neither crash nor leak into later tests
    EventRecorder rec;
    setInstallEventReceiver(&rec);
    QCoreApplication::sendPostedEvents();
    setInstallEventReceiver(nullptr);
    EXPECT_TRUE(rec.events.isEmpty());
}
