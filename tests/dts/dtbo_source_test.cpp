// Overlay sources: argument strings against hand-written expectations,
// regeneration, and user text compiled by the real dtc and read back with
// fdtget (every variant is compiled by the image build's test).
#include "dts/dtbo.h"
#include "support/testsupport.h"

#include <gtest/gtest.h>

#include <QFile>

using namespace testsupport;

namespace {

QString qs(const std::string &s)
{
    return QString::fromStdString(s);
}

const std::string kCgroup = " cgroup_enable=cpuset cgroup_memory=1 cgroup_enable=memory";

} // namespace

TEST(DtboArgs, ShortAndMergedForms)
{
    const QString fiq = "console=ttyFIQ0 consoleblank=0";
    const std::string head = "cgroup_enable=memory cgroup_memory=1 consoleblank=0 ";
    const struct
    {
        const char *root, *data, *flags;
        QString extra;
        QMap<QString, QString> map;
        QStringList list;
        bool noData;
        std::string expected;
    } cases[] = {
        // Without a user map: the short form, and the user list is not consulted.
        {"/dev/mmcblk2p8", "/dev/mmcblk2p9", "discard", "", {}, {}, false,
         "root=/dev/mmcblk2p8 rw rootfstype=ext4 rootflags=discard data=/dev/mmcblk2p9 consoleblank=0" + kCgroup},
        {"/dev/mmcblk0p8", "/dev/mmcblk0p9", "", fiq, {}, {}, false,
         "root=/dev/mmcblk0p8 rw rootfstype=ext4 data=/dev/mmcblk0p9 console=ttyFIQ0 consoleblank=0" + kCgroup},
        {"/dev/a", "/dev/b", "", "", {}, {"ro", "quiet"}, false,
         "root=/dev/a rw rootfstype=ext4 data=/dev/b consoleblank=0" + kCgroup},
        // Merged: default map in key order, "rw", then the user's arguments.
        {"/dev/nvme0n1p1", "/dev/nvme0n1p2", "discard", fiq, {{"bootdev", "mmc0"}}, {}, false,
         "cgroup_enable=memory cgroup_memory=1 console=ttyFIQ0 consoleblank=0 data=/dev/nvme0n1p2 "
         "root=/dev/nvme0n1p1 rootflags=discard rootfstype=ext4 rw bootdev=mmc0"},
        // "ro" from the user drops the default "rw"; a user "rw" appears once, at the user's place.
        {"/dev/a", "/dev/b", "", "", {{"bootdev", "x"}}, {"ro"}, false,
         head + "data=/dev/b root=/dev/a rootfstype=ext4 bootdev=x ro"},
        {"/dev/a", "/dev/b", "", "", {{"k", "v"}}, {"rw"}, false, head + "data=/dev/b root=/dev/a rootfstype=ext4 k=v rw"},
        // A user console replaces the default one; a user rootfstype too.
        {"/dev/a", "/dev/b", "", fiq, {{"console", "ttyS0,115200"}, {"rootfstype", "auto"}}, {}, false,
         head + "data=/dev/b root=/dev/a rw console=ttyS0,115200 rootfstype=auto"},
        // noDataArg: no data= at all, not even the user's.
        {"/dev/a", "/dev/b", "", "", {{"data", "/dev/c"}, {"bootdev", "y"}}, {}, true,
         head + "root=/dev/a rootfstype=ext4 rw bootdev=y"},
        {"/dev/a", "/dev/b", "", "", {}, {}, true, head + "root=/dev/a rootfstype=ext4 rw"},
        // quiet/debug/loglevel from the user remove all three defaults; bare
        // tokens of the extra arguments carry no value and are left out.
        {"/dev/a", "", "", "loglevel=7 splash consoleblank=0", {{"k", "v"}}, {"quiet"}, false,
         head + "root=/dev/a rootfstype=ext4 rw k=v quiet"},
        // A token with two '=' keeps its whole text as a key without value.
        {"/dev/a", "", "", "a=b=c", {{"k", "v"}}, {}, false,
         "cgroup_enable=memory cgroup_memory=1 root=/dev/a rootfstype=ext4 rw k=v"},
    };
    for (const auto &c : cases)
        EXPECT_EQ(dtbo_bootargs(c.root, c.data, c.flags, c.extra, c.map, c.list, c.noData).toStdString(), c.expected)
            << c.root << " " << c.extra.toStdString();
}

TEST(DtboSource, Rk35xxRegeneratesAndReportsUnwritableDirectory)
{
    // The generated text is checked through dtc and fdtget below.
    TempDir d;
    ASSERT_TRUE(gen_core_dts_rk35xx("RK3568", qs(d.path()), "", "", {}, {}, false));
    // Regenerating truncates: one chosen node, one reboot-mode node.
    ASSERT_TRUE(gen_core_dts_rk35xx("rk3568", qs(d.path()), "/dev/sda1", "/dev/sda2", {}, {}, false));
    const std::string again = readFile(d.file("dto-mmc0.dts"));
    EXPECT_EQ(again.find("&reboot_mode"), again.rfind("&reboot_mode"));
    EXPECT_NE(again.find("root=/dev/sda1 rw"), std::string::npos);
    EXPECT_NE(readFile(d.file("dto-mmc1.dts")).find("data=/dev/sda2 "), std::string::npos);
    EXPECT_FALSE(QFile::exists(qs(d.file("dto-ufs.dts")))) << "only the RK3576 boots from UFS";

    // A directory that cannot be written fails, naming the file in the log.
    EXPECT_FALSE(gen_core_dts_rk35xx("rk3568", qs(d.file("missing")), "", "", {}, {}, false));
    EXPECT_FALSE(append_reboot_mode(QString::fromStdString(d.file("missing/x.dts"))));
}

// Quotes, backslashes and a would-be node from info.conf must end up as
// argument text, not as device tree syntax.
TEST(DtboSource, UserTextStaysOneStringInTheOverlay)
{
    if (!haveTool("dtc") || !haveTool("fdtget"))
        GTEST_SKIP() << "dtc/fdtget not installed (device-tree-compiler)";
    TempDir d;
    const QMap<QString, QString> map{{"k", "a\"b"}, {"p", "c\\d"}};
    ASSERT_TRUE(generate_core_dts("rk3588*/", "/dev/a", "/dev/b", qs(d.file("o.dts")), "", "", map,
                                  {"x\";};&foo{y=\"1"}, false));
    const std::string blob = d.file("check.dtbo");
    const CmdResult c = run("dtc -a 16 -@ -O dtb -o " + shq(blob) + " " + shq(d.file("o.dts")));
    ASSERT_EQ(c.status, 0) << c.err;
    EXPECT_EQ(run("fdtget " + shq(blob) + " /fragment@0/__overlay__ bootargs_ext").out,
              "cgroup_enable=memory cgroup_memory=1 consoleblank=0 data=/dev/b root=/dev/a "
              "rootfstype=ext4 rw k=a\"b p=c\\d x\";};&foo{y=\"1\n");
}
