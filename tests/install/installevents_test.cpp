// Events posted while no receiver is set are dropped, not delivered to the
// next one. Their delivery from the job's thread and their fields are
// checked by every install test, the low-format events by InstallJobLoop.
#include <QCoreApplication>

#include <gtest/gtest.h>

#include "install/installevents.h"
#include "support/qt/installrecorder.h"

using namespace testsupport;

TEST(InstallEvents, DroppedWithoutAReceiver)
{
    setInstallEventReceiver(nullptr);
    postErrorMessage("nobody listens");
    lowformat_callback("/dev/mmcblk2", 1, 1, 0, 33);
    EventRecorder later;
    setInstallEventReceiver(&later);
    QCoreApplication::sendPostedEvents();
    setInstallEventReceiver(nullptr);
    EXPECT_TRUE(later.events.isEmpty());
}
