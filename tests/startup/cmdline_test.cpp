// The argument passes in-process: what they leave in the process-wide
// settings, which a process run cannot show.
#include "startup/cmdline.h"
#include "startup/globals.h"
#include "support/testsupport.h"
#include "util/paths.h"

#include <gtest/gtest.h>

#include <cstdlib>

using namespace testsupport;

namespace {

class ArgumentPasses : public ::testing::Test
{
protected:
    void SetUp() override
    {
        resetGlobalsForTest();
        setenv("IMGSMITH_ROOT", m_dir.path().c_str(), 1);
        imgsmith::resetSimRootCache();
        ASSERT_EQ(run("cd " + shq(m_dir.path()) + " && mkdir -p mnt/sdcard/debian && "
                      "touch mnt/sdcard/debian/a.img mnt/sdcard/debian/b.img mnt/sdcard/my.conf")
                      .status,
                  0);
    }
    void TearDown() override
    {
        unsetenv("IMGSMITH_ROOT");
        imgsmith::resetSimRootCache();
        resetGlobalsForTest();
    }

    int passes(QStringList args)
    {
        args.prepend(QStringLiteral("imgsmith-gui"));
        m_request = CommandLineRequest();
        const int rc = runArgumentPasses(args, m_request, QStringLiteral("eMMC Flash"), nullptr);
        m_left = args;
        return rc;
    }

    TempDir m_dir;
    CommandLineRequest m_request;
    QStringList m_left;
};

} // namespace

TEST_F(ArgumentPasses, FlagsExcludesAndConfigurationFile)
{
    ASSERT_EQ(passes({"-g", "--low-format", "-c", "/mnt/sdcard/my.conf", "--disable-overlayfs", "-e",
                      " a.img , , /mnt/sdcard/debian/b.img,.", "-i", "/mnt/sdcard/debian"}),
              kContinueStartup);
    EXPECT_EQ(m_left, QStringList{"imgsmith-gui"});
    EXPECT_TRUE(globalIsNeedLowFormat());
    EXPECT_TRUE(globalIsOverlayfsDisabled());
    EXPECT_EQ(imgsmithConfFileName, "/mnt/sdcard/my.conf");
    EXPECT_EQ(getExcledeFilesList(), (QStringList{"a.img", "b.img"}));
    EXPECT_EQ(m_request.installPath, "/mnt/sdcard/debian");
    EXPECT_TRUE(m_request.installConfNeeded);
    EXPECT_FALSE(m_request.autoExit);
}

TEST_F(ArgumentPasses, AutoExitAloneAsksForTheInstallConfiguration)
{
    ASSERT_EQ(passes({"--auto-exit"}), kContinueStartup);
    EXPECT_TRUE(m_request.autoExit);
    EXPECT_TRUE(m_request.installConfNeeded);
    EXPECT_TRUE(m_request.installPath.isEmpty());

    ASSERT_EQ(passes({}), kContinueStartup);
    EXPECT_FALSE(m_request.installConfNeeded);
}

TEST_F(ArgumentPasses, GuiOptionHidesEarlierFlagsFromThePreScan)
{
    EXPECT_EQ(passes({"-g", "--low-format"}), kContinueStartup);
    EXPECT_TRUE(isNeedLowFormat);
    resetGlobalsForTest();
    EXPECT_EQ(passes({"--low-format", "-g"}), kExitUsageError);
    EXPECT_FALSE(isNeedLowFormat);
}

TEST_F(ArgumentPasses, ListOptionCallsTheBoardList)
{
    static int calls;
    calls = 0;
    QStringList args{"imgsmith-gui", "-l"};
    CommandLineRequest req;
    EXPECT_EQ(runArgumentPasses(args, req, QStringLiteral("eMMC Flash"), [] { ++calls; }), kExitOk);
    EXPECT_EQ(calls, 1);
}

TEST(CopyBuffer, LowMemoryAllwinnerSocsGetEightMiB)
{
    for (const char *cpu : {"H3", "h3", "A64", "H5", "h6"})
        EXPECT_EQ(copyBufferSizeForCpu(QString::fromLatin1(cpu)), 0x800000) << cpu;
    for (const char *cpu : {"RK3588", "H616", "S5P6818", "Unknow", ""})
        EXPECT_EQ(copyBufferSizeForCpu(QString::fromLatin1(cpu)), 0x4000000) << cpu;
}
