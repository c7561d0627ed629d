// Boot environment: env.conf rewrites into the set's working directory, the
// "data=" removal, bootargs-ext parsing and its dump, and the Rockchip
// command line rewrite with its malformed inputs.
#include "imagesettest.h"

#include <QFileInfo>

#include "imageset/bootenv.h"
#include "imageset/osconfig.h"

using namespace testsupport;

namespace {

const char *const kEnvConf =
    "# u-boot environment of the image set\n"
    "bootcmd=run mmcboot   \n"
    "bootargs=console=ttySAC0,115200n8 root=/dev/mmcblk0p3   rootfstype=ext4 data=/dev/mmcblk0p4 init=/sbin/init\n"
    "   bootdelay=1\n"
    "\n"
    "mmcboot=ext4load mmc 2:1 0x48000000 Image;\tbooti 0x48000000 - 0x49000000\n";

} // namespace

TEST_F(ImageSetTest, EnvConfRewriteDropsDataArgumentOrFallsBackToTheSource)
{
    const QStringList files = {"boot.img", "rootfs.img", "partmap.txt", "env.conf"};
    const QString path = makeSet("debian-nexell", {{"boot.img", "b"}, {"rootfs.img", "r"},
                                                   {"partmap.txt", "p"}, {"env.conf", kEnvConf}});
    OSConfig os(path, files);
    ASSERT_TRUE(os.isValid);
    EXPECT_EQ(os.getEnvConf(false), path + "/env.conf");

    const QString tmp = s2q(m_root + "/tmp/mntsdcarddebiannexell");
    m_sim.put("tmp/mntsdcarddebiannexell/env.conf", "stale contents that must go\n");
    const QString out = os.getEnvConf(true);
    EXPECT_EQ(out, tmp + "/env.conf");
    EXPECT_EQ(readFile(q2s(out)),
              "# u-boot environment of the image set\n"
              "bootcmd=run mmcboot\n"
              "bootargs=console=ttySAC0,115200n8 root=/dev/mmcblk0p3 rootfstype=ext4 init=/sbin/init\n"
              "bootdelay=1\n"
              "\n"
              "mmcboot=ext4load mmc 2:1 0x48000000 Image; booti 0x48000000 - 0x49000000\n");
    EXPECT_TRUE(debugHas(" old bootargs: bootargs=console=ttySAC0,115200n8 root=/dev/mmcblk0p3 rootfstype=ext4 "
                         "data=/dev/mmcblk0p4 init=/sbin/init"));
    EXPECT_TRUE(debugHas("Using new env conf: \"" + out + "\""));
    // The set's own file is never touched.
    EXPECT_EQ(readFile(q2s(path + "/env.conf")), kEnvConf);
    os.cleanTmpImagePath();
    EXPECT_FALSE(QFileInfo::exists(out));

    // No env.conf: nothing to hand over.
    EXPECT_TRUE(OSConfig(makeSet("noenv", {{"partmap.txt", "p"}}), QStringList{"partmap.txt"})
                    .getEnvConf(true).isEmpty());

    // Android, OpenHarmony and raw sets keep their file.
    const QStringList android = {"system.img", "partmap.txt", "env.conf"};
    const QString ap = makeSetOf("android", android);
    EXPECT_EQ(OSConfig(ap, android).getEnvConf(true), ap + "/env.conf");
    OSConfig raw(ap, QString("disk.raw"));
    raw.os_env_conf = "env.conf";
    EXPECT_EQ(raw.getEnvConf(true), ap + "/env.conf");

    // An unreadable source, and a target that cannot be created.
    const QStringList mapAndEnv = {"partmap.txt", "env.conf"};
    const QString broken = makeSet("broken", {{"partmap.txt", "p"}});
    ASSERT_EQ(run("ln -s nowhere " + shq(q2s(broken + "/env.conf"))).status, 0);
    OSConfig b(broken, mapAndEnv);
    takeDebugLines();
    EXPECT_EQ(b.getEnvConf(true), broken + "/env.conf");
    EXPECT_TRUE(debugHas("Fail to open \"" + broken + "/env.conf\""));

    const QString blocked = makeSet("blocked", {{"partmap.txt", "p"}, {"env.conf", kEnvConf}});
    m_sim.mkdir("tmp/mntsdcardblocked/env.conf");
    EXPECT_EQ(OSConfig(blocked, mapAndEnv).getEnvConf(true), blocked + "/env.conf");
    EXPECT_TRUE(debugHas("Fail to create and open \"" + s2q(m_root) + "/tmp/mntsdcardblocked/env.conf\""));

    // A path that yields no working directory.
    OSConfig odd;
    odd.imagePath = "/";
    odd.os_env_conf = "env.conf";
    odd.osType = Linux;
    // Image set paths name the board's file system, so the result lies below the root.
    EXPECT_EQ(odd.getEnvConf(true), s2q(m_root) + "//env.conf");
    EXPECT_TRUE(debugHas("Fail to create tmpImgPath: imagePath=\"/\""));
}

TEST(BootEnv, CommandLineRewritesAndBootArgsExt)
{
    const std::pair<const char *, const char *> dataCases[] = {
        {"console=ttyS0 data=/dev/mmcblk0p4 rootwait", "console=ttyS0 rootwait"}, {"a  b data=x  c", "a  b  c"},
        {"data=1 data=2", ""}, {"mydata=1 xdata=2", "mydata=1 xdata=2"}, {"", ""}};
    for (const auto &[cmd, kept] : dataCases)
        EXPECT_EQ(getNexellNewCmdLineRemovedUserData(cmd), kept) << cmd;

    QMap<QString, QString> args;
    QStringList flags;
    parseBootArgsExt("quiet a=1 b=x=y  a=2 splash =v", args, flags);
    EXPECT_EQ(args.size(), 3);
    EXPECT_EQ(args.value("a"), "2");
    EXPECT_EQ(args.value("b"), "x=y");
    EXPECT_EQ(args.value(""), "v");
    EXPECT_EQ(flags, (QStringList{"quiet", "splash"}));

    OSConfig os;
    os.bootArgsExt = "quiet a=1 b=x=y a=2";
    testing::internal::CaptureStdout();
    os.dumpBootArgsExt();
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "## OSConfig::dumpBootArgsExt()\na:2\nb:x=y\nquiet\n##\n");

    // The Rockchip command line rewrite, and its malformed inputs.
    const struct
    {
        QString cmd, result, rootfs, userdata;
        bool hasOpt;
    } cases[] = {
        {"console=ttyFIQ0 data=/dev/mmcblk0p7 mtdparts=rk29xxnand:0x2000@0x4000(uboot),0x8000@0x8000(rootfs),"
         "-@0x10000(userdata:grow)",
         "console=ttyFIQ0 mtdparts=rk29xxnand:0x2000@0x4000(uboot)", "0x8000", "-", false},
        // A parameter file's line: opt after userdata overwrites userdata's
        // size, colons inside kept partitions survive, rootfs first in the list.
        {"CMDLINE: console=ttyFIQ0 earlycon=uart8250,mmio32,0xfeb50000 root=PARTUUID=614e0000-0000 rw rootwait "
         "mtdparts=rk29xxnand:0x01c00000@0x00028000(rootfs),0x00002000@0x00004000(uboot),"
         "0x00020000@0x00008000(boot:bootable),0x00400000@0x01c28000(userdata),-@0x02028000(opt:grow)",
         "CMDLINE: console=ttyFIQ0 earlycon=uart8250,mmio32,0xfeb50000 root=PARTUUID=614e0000-0000 rw "
         "rootwait mtdparts=rk29xxnand:0x00002000@0x00004000(uboot),0x00020000@0x00008000(boot:bootable)",
         "0x01c00000", "-", true},
        // opt before userdata: userdata's size is the one left.
        {"mtdparts=rk29xxnand:0x100@0x200(opt),0x2000@0x4000(boot),-@0x9000(userdata:grow)",
         "mtdparts=rk29xxnand:0x2000@0x4000(boot)", "", "-", true},
    };
    for (const auto &c : cases) {
        QString rootfs, userdata;
        bool hasOpt = !c.hasOpt;
        EXPECT_EQ(getRKNewCmdLineResetTargetDevice(c.cmd, rootfs, userdata, hasOpt), c.result);
        EXPECT_EQ(rootfs, c.rootfs) << q2s(c.cmd);
        EXPECT_EQ(userdata, c.userdata) << q2s(c.cmd);
        EXPECT_EQ(hasOpt, c.hasOpt) << q2s(c.cmd);
    }

    QString rootfs, userdata;
    bool hasOpt = false;
    const char *bad[] = {
        "console=ttyFIQ0 mtdparts=rk29xxnand:0x2000@0x4000(uboot),0x8000(rootfs)",
        "mtdparts=rk29xxnand:0x8000@0x8000@0x9000(rootfs)",
        "mtdparts=rk29xxnand:-(userdata:grow)",
        "mtdparts=rk29xxnand:0x1@0x2@0x3(opt)",
        "mtdparts=rk29xxnand",
        "console=ttyFIQ0 root=/dev/mmcblk0p3",
        "",
    };
    for (const char *cmd : bad)
        EXPECT_EQ(getRKNewCmdLineResetTargetDevice(cmd, rootfs, userdata, hasOpt), "") << cmd;
}
