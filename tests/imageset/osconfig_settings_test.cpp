// Per-set settings: info.conf, require-board, the S5P kernel generation, raw
// image sets and their appended IDB loader, the /tmp working directory,
// automatic start, the small helpers; and the boot environment.
#include "imagesettest.h"

#include <QFileInfo>

#include <tuple>

#include "imageset/bootenv.h"
#include "imageset/osconfig.h"
#include "storage/idbloader_builtin.h"

using namespace testsupport;

namespace {

const QStringList kMinimal = {"boot.img", "rootfs.img", "partmap.txt", "info.conf"};

const char *const kEnvConf =
    "# u-boot environment of the image set\n"
    "bootcmd=run mmcboot   \n"
    "bootargs=console=ttySAC0,115200n8 root=/dev/mmcblk0p3   rootfstype=ext4 data=/dev/mmcblk0p4 init=/sbin/init\n"
    "   bootdelay=1\n"
    "\n"
    "mmcboot=ext4load mmc 2:1 0x48000000 Image;\tbooti 0x48000000 - 0x49000000\n";

} // namespace

TEST_F(ImageSetTest, InfoConfQuotingKeysTargetDeviceSettingAndSmallHelpers)
{
    const QString path = makeSet("ubuntu-noble", {
        {"boot.img", "b"}, {"rootfs.img", "r"}, {"partmap.txt", "p"},
        {"info.conf",
         "\xEF\xBB\xBF"      // a UTF-8 byte order mark from a Windows editor
         "; comment\n"
         "title = \"Ubuntu   Noble  Desktop\"\r\n"
         "icon=\"pics/ubuntu.png\"\n"
         "version=\"24.04\" \n"
         "require-board = \"RK3588\", rk3568 , ,\"Alpha-R2\",\n"
         "disable-auto-idbloader=Yes\n"
         "bootargs-ext=  \"quiet   a=1\"\n"
         "[Other]\n"
         "title=Not this one\n"}});
    OSConfig os(path, kMinimal);
    ASSERT_TRUE(os.isValid);
    EXPECT_EQ((QStringList{os.title, os.icon, os.version, os.bootArgsExt}),
              (QStringList{"Ubuntu Noble Desktop", path + "/pics/ubuntu.png", "24.04", "quiet a=1"}));
    EXPECT_EQ(os.requireBoards, (QStringList{"RK3588", "rk3568", "Alpha-R2"}));
    EXPECT_TRUE(os.disableAutoIdbloader);
    EXPECT_EQ(os.osType, Ubuntu);

    // Absolute and resource icons stay as they are; unknown boolean words and
    // empty values leave the fields alone; the later of two lines wins.
    OSConfig again = os;
    writeFile(q2s(path + "/more.conf"),
              "[General]\nicon=:/custom.png\ndisable-auto-idbloader=maybe\ntitle=\"\"\nversion=1\nversion=2\n");
    again.reSetTitleFromConfFile("more.conf");
    EXPECT_EQ((QStringList{again.icon, again.title, again.version}),
              (QStringList{":/custom.png", "Ubuntu Noble Desktop", "2"}));
    EXPECT_TRUE(again.disableAutoIdbloader);
    // Commas belong to the text (an INI list reading would drop the value).
    writeFile(q2s(path + "/more.conf"),
              "icon=/opt/icons/x.png\ndisable-auto-idbloader=FALSE\nrequire-board=\ntitle=Ubuntu, Server\n");
    again.reSetTitleFromConfFile("more.conf");
    EXPECT_EQ((QStringList{again.title, again.icon}), (QStringList{"Ubuntu, Server", "/opt/icons/x.png"}));
    EXPECT_FALSE(again.disableAutoIdbloader);
    EXPECT_TRUE(again.requireBoards.isEmpty());

    // Only the first MiB of a (corrupt or hostile) huge file is read.
    writeFile(q2s(path + "/huge.conf"), "version=first\n;" + std::string(2 << 20, 'x') + "\nversion=late\n");
    again.reSetTitleFromConfFile("huge.conf");
    EXPECT_EQ(again.version, "first");

    // A missing file or a directory of that name changes nothing.
    OSConfig untouched = again;
    untouched.reSetTitleFromConfFile("absent.conf");
    ASSERT_EQ(run("mkdir " + shq(q2s(path + "/dir.conf"))).status, 0);
    untouched.reSetTitleFromConfFile("dir.conf");
    EXPECT_EQ((QStringList{untouched.icon, untouched.title}), (QStringList{again.icon, again.title}));

    // The target device setting, and the small helpers.
    OSConfig split = scanOf("split", {"boot.img", "rootfs.img", "parameter.txt", "dtbo.img"});
    ASSERT_TRUE(split.isValid);
    EXPECT_TRUE(isSupportTargetDeviceSetting(split));
    // Without dtbo.img, with partmap.txt, or Android: no target setting.
    for (const QStringList &other : {QStringList{"boot.img", "rootfs.img", "parameter.txt"},
                                     QStringList{"boot.img", "rootfs.img", "partmap.txt", "dtbo.img"},
                                     QStringList{"system.img", "parameter.txt", "dtbo.img"}})
        EXPECT_FALSE(isSupportTargetDeviceSetting(scanOf(q2s(other.join('-')), other)));
    OSConfig raw = split;
    raw.osType = RawImage;
    EXPECT_FALSE(isSupportTargetDeviceSetting(raw));

    const std::pair<const char *, const char *> ext[] = {
        {"rootfs.tar.gz", "gz"}, {"bootloader", ""}, {"dir.d/file", ""}, {"logo.", ""}};
    for (const auto &e : ext)
        EXPECT_EQ(getFileExtension(e.first), e.second) << e.first;
    const std::pair<const char *, const char *> quoted[] = {
        {"\"", ""}, {"\"\"", ""}, {"\"a b\"", "a b"}, {"\"a", "\"a"}, {"\"\"x\"\"", "\"x\""}};
    for (const auto &q : quoted)
        EXPECT_EQ(removeQuotes(q.first), q.second) << q.first;
}

TEST_F(ImageSetTest, S5PKernelVersionRequiredBoardsAndRawImageSets)
{
    setBoard("S5P6818", "Epsilon");
    const QStringList files = {"bl1-mmcboot.bin", "boot.img", "rootfs.img", "partmap.txt"};
    EXPECT_EQ(scanOf("k4", files).s5pxx18KernelVersion, 4);
    OSConfig k3 = scanOf("k3", files + QStringList{"2ndboot.bin"});
    EXPECT_EQ(k3.s5pxx18KernelVersion, 3);
    EXPECT_EQ(k3.imageFiles.first(), "bl1-mmcboot.bin");

    // The first require-board entry names the CPU when there is one.
    setBoard("RK3399", "Zeta");
    const QString path = makeSet("req4418", {{"boot.img", "b"}, {"partmap.txt", "p"},
                                             {"info.conf", "require-board=S5P4418,RK3399\n"}});
    EXPECT_EQ(OSConfig(path, QStringList{"boot.img", "partmap.txt", "info.conf"}).s5pxx18KernelVersion, 4);
    EXPECT_EQ(scanOf("rk", kMinimal).s5pxx18KernelVersion, -1);

    // Which boards a set requires.
    OSConfig os;
    auto match = [&](QStringList boards, const QString &cpu, const QString &model) {
        setBoard(cpu, model);
        os.requireBoards = boards;
        return os.isMatchBoard();
    };
    // Required boards, the board's CPU and model, whether the set matches.
    const std::tuple<QStringList, const char *, const char *, bool> cases[] = {
        {{}, "H3", "Anything", true},
        // Wildcards in Rockchip names, any case; CPU names of different
        // lengths never match through the CPU rule.
        {{"RK35XX"}, "RK3568", "x", true},   {{"rk35xx"}, "RK3588", "x", true},   {{"RK35XX"}, "RK3399", "x", false},
        {{"rk3588"}, "RK3588", "x", true},   {{"rk3588"}, "RK3568", "x", false},  {{"RK3588"}, "RK3588S", "x", false},
        {{"RK3588S"}, "RK3588", "x", false}, {{"RK35"}, "RK3588", "x", false},
        // Model names compare on letters and digits only; any entry may match.
        {{"alpha r2"}, "RK3399", "Alpha-R2", true},  {{"Beta (Plus) 4", "x"}, "H5", "beta-plus-4", true},
        {{"Alpha-R2S"}, "RK3399", "Alpha-R2", false}, {{"H3", "RK35XX"}, "RK3576", "x", true},
        // Punctuation-only entries must not match a board without a model name.
        {{"--"}, "RK3399", "", false},
    };
    for (const auto &[boards, cpu, model, matches] : cases)
        EXPECT_EQ(match(boards, cpu, model), matches) << q2s(boards.join(',')) << " on " << cpu;
    gCurrentBoardInfo = nullptr;
    os.requireBoards = {"--", "RK35XX"};
    EXPECT_FALSE(os.isMatchBoard());
    gCurrentBoardInfo = &m_board;

    // Raw image sets: their title, configuration and IDB loader.
    const QString images = makeSet("images", {{"rocknix-rk3326.img", std::string(5000, 'r')},
                                              {"backup.raw", "raw"},
                                              {"backup.raw.conf", "title=\"My Backup\"\nversion=7\n"},
                                              {"info.conf", "title=From Info\n"}});
    setBoard("RK3326", "Odroid-Go");
    OSConfig rocknix(images, QString("rocknix-rk3326.img"));
    EXPECT_TRUE(rocknix.isValid);
    EXPECT_EQ(rocknix.osType, RawImage);
    // info.conf applies when no "<file>.conf" exists, after the ROCKNIX title.
    EXPECT_EQ((QStringList{rocknix.os_raw_img, rocknix.title}), (QStringList{"rocknix-rk3326.img", "From Info"}));
    EXPECT_EQ(rocknix.imageFiles, QStringList{"rocknix-rk3326.img"});
    EXPECT_EQ(rocknix.imageFileSizes, QList<qint64>{5000});

    OSConfig backup(images, QString("backup.raw"));
    EXPECT_EQ((QStringList{backup.title, backup.version}), (QStringList{"My Backup", "7"}));

    const QString bare = makeSet("bare", {{"rocknix-rk3326.img", "x"}});
    EXPECT_EQ(OSConfig(bare, QString("rocknix-rk3326.img")).title, "ROCKNIX");
    EXPECT_EQ(OSConfig(bare, QString("plain.gz")).title, "plain.gz");
    EXPECT_EQ(OSConfig(bare, QString("plain.gz")).imageFileSizes, QList<qint64>{0});

    // On a Rockchip board booting from UFS the IDB loader is appended.
    const QString withOwn = makeSet("own", {{"disk.raw", "d"}, {"idbloader.img", std::string(4321, 'i')}});
    const QString without = makeSet("builtin", {{"disk.raw", "d"}});
    setBoard("RK3588", "Alpha-U", true);

    OSConfig own(withOwn, QString("disk.raw"));
    EXPECT_EQ(own.os_idbloader_img, "idbloader.img");
    EXPECT_EQ(own.imageFiles, (QStringList{"disk.raw", "idbloader.img"}));
    EXPECT_EQ(own.imageFileSizes, (QList<qint64>{1, 4321}));

    // Without its own file the size is the built-in loader's (0 when this
    // build was given none).
    OSConfig builtin(without, QString("disk.raw"));
    EXPECT_EQ(builtin.imageFiles, (QStringList{"disk.raw", "idbloader.img"}));
    EXPECT_EQ(builtin.imageFileSizes.last(), static_cast<qint64>(rk3588_idbloader_img_len));

    // An unknown Rockchip SoC has no built-in loader.
    setBoard("RK3566", "Theta", true);
    EXPECT_EQ(OSConfig(without, QString("disk.raw")).imageFileSizes.last(), 0);

    // The set may opt out; boards booting from eMMC, and other CPUs, add nothing.
    writeFile(q2s(without + "/disk.raw.conf"), "disable-auto-idbloader=true\n");
    EXPECT_EQ(OSConfig(without, QString("disk.raw")).imageFiles, QStringList{"disk.raw"});
    setBoard("RK3588", "Alpha");
    EXPECT_EQ(OSConfig(withOwn, QString("disk.raw")).imageFiles, QStringList{"disk.raw"});
    EXPECT_TRUE(OSConfig(withOwn, QString("disk.raw")).os_idbloader_img.isEmpty());
    setBoard("A733", "Iota", true);
    EXPECT_EQ(OSConfig(withOwn, QString("disk.raw")).imageFiles, QStringList{"disk.raw"});
}

TEST_F(ImageSetTest, TmpImagePathUnderTheRootAndAutoStart)
{
    OSConfig os;
    os.imagePath = s2q(m_sim.mkdir("mnt/sd/ubuntu-22"));
    const QString expected = s2q(m_root + "/tmp/mntsdubuntu22");
    EXPECT_TRUE(os.getTmpImagePath(false).isEmpty());
    EXPECT_EQ(os.getTmpImagePath(true), expected);
    EXPECT_TRUE(QFileInfo(expected).isDir());
    EXPECT_EQ(os.getTmpImagePath(false), expected);
    writeFile(q2s(expected + "/env.conf"), "x");
    os.cleanTmpImagePath();
    EXPECT_FALSE(QFileInfo::exists(expected));
    EXPECT_TRUE(QFileInfo(s2q(m_root + "/tmp")).isDir());

    // Every listed punctuation mark and the odd typographic characters go.
    os.imagePath = QString::fromUtf8("/mnt/sdcard/a-b`c~d!e@f#g$h%i^j&k*l(m)n_o+p=q|r:s;t<u>v,w.x?y/z{1}2'3\"4[5]6\\7"
                                     "\u00E2\u20AC\u201D\u00C2\u00AB\u00BB8 9");
    EXPECT_EQ(os.getTmpImagePath(true), s2q(m_root + "/tmp/mntsdcardabcdefghijklmnopqrstuvwxyz1234567") + "8 9");

    // A path of punctuation only must not name /tmp itself.
    os.imagePath = s2q(m_root + "/");
    EXPECT_TRUE(os.getTmpImagePath(true).isEmpty());
    writeFile(m_root + "/tmp/keep", "k");
    os.cleanTmpImagePath();
    EXPECT_TRUE(QFileInfo::exists(s2q(m_root + "/tmp/keep")));

    // Automatic start matches the directory or the raw file.
    OSConfig dir = scanOf("ubuntu", kMinimal);
    const QString dirPath = s2q(m_root + "/mnt/sdcard/ubuntu");
    for (const auto &[p, matches] : {std::pair{dirPath, true}, std::pair{dirPath + "//", true}, std::pair{QString(), false},
                                     std::pair{dirPath.toUpper(), false}, std::pair{dirPath + "2", false}})
        EXPECT_EQ(dir.isAutoStart(p), matches) << q2s(p);

    OSConfig raw(s2q(m_root + "/mnt/sdcard"), QString("backup.raw"));
    EXPECT_TRUE(raw.isAutoStart(s2q(m_root + "/mnt/sdcard/backup.raw")));
    EXPECT_FALSE(raw.isAutoStart(s2q(m_root + "/mnt/sdcard")));

    // Through the configuration file: relative to the mounted SD card.
    EXPECT_FALSE(dir.isAutoStart());
    writeFile(m_root + "/mnt/sdcard/imgsmith.conf", "[General]\nautoStart=ubuntu/\n");
    m_sim.put("proc/mounts", "/dev/mmcblk0p1 /mnt/sdcard vfat rw 0 0\n");
    EXPECT_TRUE(dir.isAutoStart());
    writeFile(m_root + "/proc/mounts", "");
    EXPECT_FALSE(dir.isAutoStart());
}

// Boot environment: env.conf rewrites into the set's working directory, the
// "data=" removal, bootargs-ext parsing and its dump, and the Rockchip
// command line rewrite with its malformed inputs.
TEST_F(ImageSetTest, EnvConfRewriteDropsDataArgumentOrFallsBackToTheSource)
{
    const QStringList files = {"boot.img", "rootfs.img", "partmap.txt", "env.conf"};
    const QString path = makeSet("debian-nexell", {{"boot.img", "b"}, {"rootfs.img", "r"},
                                                   {"partmap.txt", "p"}, {"env.conf", kEnvConf}});
    OSConfig os(path, files);
    ASSERT_TRUE(os.isValid);
    EXPECT_EQ(os.getEnvConf(false), path + "/env.conf");

    m_sim.put("tmp/mntsdcarddebiannexell/env.conf", "stale contents that must go\n");
    const QString out = os.getEnvConf(true);
    EXPECT_EQ(out, s2q(m_root + "/tmp/mntsdcarddebiannexell/env.conf"));
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
        {"data=1 data=2", ""}, {"mydata=1 xdata=2 database=3", "mydata=1 xdata=2 database=3"}, {"", ""}};
    for (const auto &[cmd, kept] : dataCases)
        EXPECT_EQ(getNexellNewCmdLineRemovedUserData(cmd), kept) << cmd;

    QMap<QString, QString> args;
    QStringList flags;
    parseBootArgsExt("quiet a=1 b=x=y  a=2 splash =v", args, flags);
    EXPECT_EQ(args, (QMap<QString, QString>{{"a", "2"}, {"b", "x=y"}, {"", "v"}}));
    EXPECT_EQ(flags, (QStringList{"quiet", "splash"}));

    OSConfig os;
    os.bootArgsExt = "quiet a=1 b=x=y a=2";
    testing::internal::CaptureStdout();
    os.dumpBootArgsExt();
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "## OSConfig::dumpBootArgsExt()\na:2\nb:x=y\nquiet\n##\n");

    // The Rockchip command line rewrite, and its malformed inputs.
    // Command line, its rewrite, the rootfs and userdata sizes, whether opt was seen.
    const std::tuple<QString, QString, QString, QString, bool> cases[] = {
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
    for (const auto &[cmd, result, wantRootfs, wantUserdata, wantOpt] : cases) {
        QString rootfs, userdata;
        bool hasOpt = !wantOpt;
        EXPECT_EQ(getRKNewCmdLineResetTargetDevice(cmd, rootfs, userdata, hasOpt), result);
        EXPECT_EQ(rootfs, wantRootfs) << q2s(cmd);
        EXPECT_EQ(userdata, wantUserdata) << q2s(cmd);
        EXPECT_EQ(hasOpt, wantOpt) << q2s(cmd);
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
