// Overlay sources: argument strings against hand-written expectations, and
// every variant's files compiled by the real dtc and read back with fdtget.
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
const std::pair<const char *, const char *> kRebootModes[] = {
    {"normal", "5242c300"},     {"fastboot", "5242c303"}, {"recovery", "5242c303"},
    {"bootloader", "5242c309"}, {"charge", "5242c30b"},   {"loader", "5242c301"}};

std::string trimmed(std::string s)
{
    while (!s.empty() && (s.back() == '\n' || s.back() == ' '))
        s.pop_back();
    return s;
}

// bootargs_ext of an overlay compiled from `dts` by the real dtc.
std::string compiledArgs(const TempDir &d, const std::string &dts, std::string *err = nullptr)
{
    const std::string blob = d.file("check.dtbo");
    CmdResult c = run("dtc -a 16 -@ -O dtb -o " + shq(blob) + " " + shq(dts));
    if (c.status != 0) {
        if (err)
            *err = c.err;
        return "<dtc failed>";
    }
    return trimmed(run("fdtget " + shq(blob) + " /fragment@0/__overlay__ bootargs_ext").out);
}

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

    // A directory that cannot be written fails, naming the file in the log.
    EXPECT_FALSE(gen_core_dts_rk35xx("rk3568", qs(d.file("missing")), "", "", {}, {}, false));
    EXPECT_FALSE(append_reboot_mode(QString::fromStdString(d.file("missing/x.dts"))));
}

TEST(DtboSource, EveryVariantAndHostileUserTextCompileWithDtc)
{
    if (!haveTool("dtc") || !haveTool("fdtget"))
        GTEST_SKIP() << "dtc/fdtget not installed (device-tree-compiler)";
    const std::string m2 = "root=/dev/mmcblk2p8 rw rootfstype=ext4 rootflags=discard data=/dev/mmcblk2p9 ";
    const std::string m0 = "root=/dev/mmcblk0p8 rw rootfstype=ext4 data=/dev/mmcblk0p9 ";
    const std::string m1 = "root=/dev/mmcblk1p8 rw rootfstype=ext4 data=/dev/mmcblk1p9 ";
    const std::string ufs = "root=/dev/sda8 rw rootfstype=ext4 rootflags=discard data=/dev/sda9 ";
    const std::string fiq = "console=ttyFIQ0 consoleblank=0" + kCgroup;
    const std::string s3328 = "console=ttyS2,1500000 earlycon=uart8250,mmio32,0xff130000 consoleblank=0" + kCgroup;
    const std::string s3399 = "console=ttyS2,1500000 earlycon=uart8250,mmio32,0xff1a0000 consoleblank=0" + kCgroup;
    const std::string blank = "consoleblank=0" + kCgroup;
    struct Variant
    {
        const char *name;
        bool (*fn)(const QString &, const QString &, const QString &, const QString &,
                   const QMap<QString, QString> &, const QStringList &, bool);
        std::vector<std::pair<std::string, std::string>> files;
        bool rebootModes;
    };
    const std::vector<Variant> variants = {
        {"core rk3328", gen_core_dts_rk3328, {{"dto-mmc0.dts", m2 + fiq}, {"dto-mmc1.dts", m0 + fiq}}, false},
        {"main rk3328", gen_main_dts_rk3328, {{"dto-mmc0.dts", m2 + s3328}, {"dto-mmc1.dts", m0 + s3328}}, false},
        {"core rk3399", gen_core_dts_rk3399, {{"dto-mmc0.dts", m2 + fiq}, {"dto-mmc1.dts", m1 + fiq}}, false},
        {"main rk3399", gen_main_dts_rk3399, {{"dto-mmc0.dts", m2 + s3399}, {"dto-mmc1.dts", m1 + s3399}}, true},
        {"rk35xx", gen_core_dts_rk35xx, {{"dto-mmc0.dts", m2 + blank}, {"dto-mmc1.dts", m0 + blank}}, true},
        {"rk3576", gen_core_dts_rk3576,
         {{"dto-mmc0.dts", m2 + blank}, {"dto-mmc1.dts", m0 + blank}, {"dto-ufs.dts", ufs + blank}}, false},
    };
    for (const Variant &v : variants) {
        TempDir d;
        ASSERT_TRUE(v.fn("rkxxxx", qs(d.path()), "", "", {}, {}, false)) << v.name;
        for (const auto &[file, expected] : v.files) {
            std::string err;
            EXPECT_EQ(compiledArgs(d, d.file(file), &err), expected) << v.name << " " << file << err;
            const std::string blob = d.file("check.dtbo");
            const std::string nodes = run("fdtget -l " + shq(blob) + " /").out;
            if (v.rebootModes) {
                const std::string q = "fdtget -t x " + shq(blob) + " /fragment@1/__overlay__ mode-";
                for (const auto &[mode, value] : kRebootModes)
                    EXPECT_EQ(trimmed(run(q + mode).out), value) << v.name << " " << mode;
                EXPECT_EQ(trimmed(run("fdtget " + shq(blob) + " /__fixups__ reboot_mode").out),
                          "/fragment@1:target:0") << v.name;
            } else {
                EXPECT_EQ(nodes, "fragment@0\n__fixups__\n") << v.name << " " << file;
            }
        }
        if (v.files.size() == 2)
            EXPECT_FALSE(QFile::exists(QString::fromStdString(d.file("dto-ufs.dts")))) << v.name;
    }

    // Quotes, backslashes and a would-be node from info.conf must end up as
    // argument text, not as device tree syntax.
    TempDir d;
    const QMap<QString, QString> map{{"k", "a\"b"}, {"p", "c\\d"}};
    ASSERT_TRUE(generate_core_dts("rk3588*/", "/dev/a", "/dev/b", qs(d.file("o.dts")), "", "", map,
                                  {"x\";};&foo{y=\"1"}, false));
    std::string err;
    EXPECT_EQ(compiledArgs(d, d.file("o.dts"), &err),
              "cgroup_enable=memory cgroup_memory=1 consoleblank=0 data=/dev/b root=/dev/a "
              "rootfstype=ext4 rw k=a\"b p=c\\d x\";};&foo{y=\"1") << err;
}
