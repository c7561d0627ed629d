// The argument passes in-process: what they leave in the process-wide
// settings, which a process run cannot show.
#include "startup/cmdline.h"
#include "startup/globals.h"
#include "support/qt/simboard.h"

#include <gtest/gtest.h>

using namespace testsupport;

namespace {

class ArgumentPasses : public ::testing::Test
{
protected:
    void SetUp() override
    {
        for (const char *f : {"mnt/sdcard/debian/a.img", "mnt/sdcard/debian/b.img", "mnt/sdcard/my.conf"})
            m_sim.put(f, "");
    }

    int passes(QStringList args)
    {
        args.prepend(QStringLiteral("imgsmith-gui"));
        m_request = CommandLineRequest();
        return runArgumentPasses(args, m_request, QStringLiteral("eMMC Flash"), nullptr);
    }

    SimBoard m_sim;   // the process-wide settings are reset with it
    CommandLineRequest m_request;
};

} // namespace

TEST_F(ArgumentPasses, FlagsExcludesAndConfigurationFile)
{
    ASSERT_EQ(passes({"-g", "--low-format", "-c", "/mnt/sdcard/my.conf", "--disable-overlayfs", "-e",
                      " a.img , , /mnt/sdcard/debian/b.img,.", "-i", "/mnt/sdcard/debian"}),
              kContinueStartup);
    EXPECT_TRUE(globalIsNeedLowFormat());
    EXPECT_TRUE(globalIsOverlayfsDisabled());
    EXPECT_EQ(imgsmithConfFileName, "/mnt/sdcard/my.conf");
    EXPECT_EQ(getExcledeFilesList(), (QStringList{"a.img", "b.img"}));
    EXPECT_EQ(m_request.installPath, "/mnt/sdcard/debian");
    EXPECT_TRUE(m_request.installConfNeeded);
}

TEST(CopyBuffer, LowMemoryAllwinnerSocsGetEightMiB)
{
    for (const char *cpu : {"h3", "A64", "h6"})
        EXPECT_EQ(copyBufferSizeForCpu(QString::fromLatin1(cpu)), 0x800000) << cpu;
    for (const char *cpu : {"H616", "Unknow", ""})
        EXPECT_EQ(copyBufferSizeForCpu(QString::fromLatin1(cpu)), 0x4000000) << cpu;
}
