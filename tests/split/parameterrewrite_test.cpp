// Rewritten parameter files compared whole with layouts worked out by hand,
// and every message of the rewrite.
#include "install/parameterrewrite.h"

#include "support/testsupport.h"

#include <gtest/gtest.h>

#include <QString>

#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

using testsupport::TempDir;

namespace {

const char kHead[] = "CMDLINE: console=ttyFIQ0 data=/dev/mmcblk0p7 root=PARTLABEL=rootfs mtdparts=rk29xxnand:";
const char kBootHead[] = "CMDLINE: console=ttyFIQ0 root=PARTLABEL=rootfs mtdparts=rk29xxnand:";
const char kLoaders[] = "0x00002000@0x00004000(uboot),0x00002000@0x00006000(misc),0x00010000@0x00008000(boot)";

const char kFixed[] = "0x00040000@0x00018000(rootfs),-@0x00058000(userdata:grow)";
const char kGrowing[] = "-@0x00018000(rootfs:grow)";
const char kOpt[] = "0x00040000@0x00018000(rootfs),0x00020000@0x00058000(userdata),-@0x00078000(opt:grow)";

// A parameter file as vendors ship it: untidy white space, a comment, CRLF.
std::string parameterText(const std::string &parts)
{
    return "# generated\nFIRMWARE_VER:  8.1\nMACHINE_MODEL:\tRK3568  \r\nMANUFACTURER: RK3568\nMAGIC: 0x5041524B\nTYPE: GPT\n"
           + std::string(kHead) + kLoaders + "," + parts + "  \n"
           "uuid:rootfs=614e0000-0000-4b53-8000-1d28000054a9\n";
}

// The text every output shares around its rewritten CMDLINE line.
std::string expectedText(const std::string &cmdline)
{
    return "# generated\nFIRMWARE_VER: 8.1\nMACHINE_MODEL: RK3568\nMANUFACTURER: RK3568\nMAGIC: 0x5041524B\n"
           "TYPE: GPT\n" + cmdline + "\nuuid:rootfs=614e0000-0000-4b53-8000-1d28000054a9\n";
}

struct Rewrite
{
    TempDir dir;
    ParameterRewriteResult result;
    std::string tmp() const { return dir.file("tmp"); }
    std::string boot() const { return testsupport::readFile(dir.file("tmp/parameter.txt")); }
    std::string sys() const { return testsupport::readFile(dir.file("tmp/parameter-sys.txt")); }

    Rewrite(const std::string &parts, bool overlayfsDisabled, bool systemDevice)
    {
        testsupport::writeFile(dir.file("parameter.txt"), parameterText(parts));
        mkdir(tmp().c_str(), 0755);
        result = rewriteRockchipParameter(QString::fromStdString(dir.file("parameter.txt")),
                                          QString::fromStdString(tmp()), overlayfsDisabled, systemDevice);
    }
};

std::string sys(const std::string &parts) { return "CMDLINE: mtdparts=rk29xxnand:" + parts; }

} // namespace

TEST(ParameterRewrite, LayoutsForEveryChoice)
{
    const std::string boot = std::string(kBootHead) + kLoaders;
    const struct { const char *parts; bool overlayOff, split; std::string bootLine, sysLine; bool overlayDisabledAfter; } cases[] = {
        // One device without overlay: rootfs grows over userdata.
        {kFixed, true, false, boot + ",-@0x00018000(rootfs)", "", true},
        {kGrowing, true, false, boot + ",-@0x00018000(rootfs:grow)", "", true},
        // Growing rootfs would run over opt, which stays at its offset.
        {kOpt, true, false, boot + ",0x00040000@0x00018000(rootfs),-@0x00078000(opt:grow)", "", true},
        // Split: rootfs and userdata move to the system device.
        {kFixed, false, true, boot, sys("0x00040000@0x00004000(rootfs),-@0x00044000(userdata:grow)"), false},
        {kFixed, true, true, boot, sys("-@0x00004000(rootfs)"), true},
        // A growing rootfs leaves no room for userdata: the overlay is off.
        {kGrowing, false, true, boot, sys("-@0x00004000(rootfs)"), true},
        {kOpt, false, true, boot,
         sys("0x00040000@0x00004000(rootfs),0x00020000@0x00044000(userdata),-@0x00064000(opt:grow)"), false},
        {kOpt, true, true, boot, sys("0x00040000@0x00004000(rootfs),-@0x00044000(opt:grow)"), true},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(std::string(c.parts) + (c.overlayOff ? " overlay off" : "") + (c.split ? " split" : ""));
        Rewrite r(c.parts, c.overlayOff, c.split);
        ASSERT_TRUE(r.result.ok()) << r.result.errorMessage.toStdString();
        EXPECT_EQ(r.boot(), expectedText(c.bootLine));
        EXPECT_EQ(r.sys(), expectedText(c.sysLine));
        EXPECT_EQ(r.result.bootParameterFile.toStdString(), r.dir.file("tmp/parameter.txt"));
        EXPECT_EQ(r.result.systemParameterFile.toStdString(), c.split ? r.dir.file("tmp/parameter-sys.txt") : "");
        EXPECT_EQ(r.result.overlayfsDisabled, c.overlayDisabledAfter);
    }
}

// Every refusal names its cause, and the set's own file is never replaced.
TEST(ParameterRewrite, Refusals)
{
    auto numbered = [](int n) {
        return "An unknown error(00" + std::to_string(n) + ") occurred while parsing the rockchip parameter file.";
    };
    const char badRootfsOpt[] = "0xZZ@0x00018000(rootfs),0x00020000@0x00058000(userdata),-@0x00078000(opt:grow)";
    const char badUserdata[] = "0x00040000@0x00018000(rootfs),0xQQ@0x00058000(userdata),-@0x00078000(opt:grow)";
    // A rootfs without "@" cannot be rewritten.
    const char noAt[] = "0x00040000(rootfs),-@0x00058000(userdata:grow)";
    const struct { const char *parts; bool overlayOff, split; std::string message; } numberedCases[] = {
        {badRootfsOpt, true, true, numbered(1)},
        {badRootfsOpt, false, true, numbered(2)},
        {"-0x10@0x00018000(rootfs),-@0x00058000(userdata:grow)", false, true, numbered(2)},
        {badUserdata, false, true, numbered(3)},
        {noAt, true, false, numbered(1)},
        {noAt, false, true, numbered(2)},
    };
    for (const auto &c : numberedCases)
        EXPECT_EQ(Rewrite(c.parts, c.overlayOff, c.split).result.errorMessage.toStdString(), c.message) << c.parts;

    TempDir dir;
    const QString tmp = QString::fromStdString(dir.file("tmp"));
    mkdir(dir.file("tmp").c_str(), 0755);
    const QString source = QString::fromStdString(dir.file("parameter.txt"));
    testsupport::writeFile(dir.file("parameter.txt"), "FIRMWARE_VER: 8.1\nCMDLINE: console=ttyFIQ0\n");
    EXPECT_EQ(rewriteRockchipParameter(source, tmp, true, false).errorMessage.toStdString(),
              "Not found mtdparts in parameter.txt");
    const QString missing = QString::fromStdString(dir.file("none/parameter.txt"));
    EXPECT_EQ(rewriteRockchipParameter(missing, tmp, true, false).errorMessage, "Fail to open " + missing);
    EXPECT_EQ(rewriteRockchipParameter(source, QString(), true, false).errorMessage.toStdString(),
              "Fail to make tmp img path");

    const std::string text = parameterText(kFixed);
    testsupport::writeFile(dir.file("parameter.txt"), text);
    EXPECT_EQ(rewriteRockchipParameter(source, QString::fromStdString(dir.path()), true, false).errorMessage.toStdString(),
              "Fail to make tmp img path");
    EXPECT_EQ(testsupport::readFile(dir.file("parameter.txt")), text);
    mkdir(dir.file("tmp/parameter-sys.txt").c_str(), 0755);
    EXPECT_EQ(rewriteRockchipParameter(source, tmp, false, true).errorMessage,
              "Fail to create and open " + tmp + "/parameter-sys.txt");
    rmdir(dir.file("tmp/parameter-sys.txt").c_str());
    unlink(dir.file("tmp/parameter.txt").c_str());
    ASSERT_EQ(mkdir(dir.file("tmp/parameter.txt").c_str(), 0755), 0);
    EXPECT_EQ(rewriteRockchipParameter(source, tmp, false, true).errorMessage,
              "Fail to create and open " + tmp + "/parameter.txt");
}

TEST(ParameterRewrite, RunsOnlyForRockchipMapsWithAChoiceThatNeedsIt)
{
    EXPECT_TRUE(needsRockchipParameterRewrite(14, "parameter.txt", true, false));
    EXPECT_TRUE(needsRockchipParameterRewrite(1, "/mnt/sdcard/x/parameter.txt", false, true));
    EXPECT_FALSE(needsRockchipParameterRewrite(14, "parameter.txt", false, false) ||
                 needsRockchipParameterRewrite(14, "partmap.txt", true, true));
    for (int androidLike : {0, 10, 15})
        EXPECT_FALSE(needsRockchipParameterRewrite(androidLike, "parameter.txt", true, true));
}
