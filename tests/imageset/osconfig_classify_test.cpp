// Classification of directory image sets: groups and writing order, OS kind,
// ROCKNIX sets, rejections and their debug lines, the exclude list, and the
// root file system probe against mkfs.ext4 / mkfs.btrfs images (blkid -p).
#include "imagesettest.h"

#include "imageset/osconfig.h"
#include "util/qpaths.h"

using namespace testsupport;

using L = QStringList;

TEST_F(ImageSetTest, MinimalLinuxSetItsRejectionWithoutMapAndTheExcludeList)
{
    OSConfig ok = scanOf("plain", L({"boot.img", "rootfs.img", "partmap.txt"}));
    EXPECT_TRUE(ok.isValid);
    EXPECT_EQ(ok.osType, Linux);
    EXPECT_EQ(ok.imageFiles, L({"boot.img", "rootfs.img"}));
    EXPECT_EQ(ok.os_partmap_txt, "partmap.txt");
    EXPECT_EQ(ok.imageFileSizes, (QList<qint64>{8, 10}));
    EXPECT_EQ(ok.rootfsFsTypes, L({"unknow"}));

    // Without a map: rejected with its message, no files, info.conf unread.
    const QString path = makeSet("nomap", {{"boot.img", "b"}, {"rootfs.img", "r"}, {"info.conf", "title=X\n"}});
    takeDebugLines();
    OSConfig bad(path, L({"boot.img", "rootfs.img", "info.conf"}));
    EXPECT_FALSE(bad.isValid);
    EXPECT_TRUE(bad.imageFiles.isEmpty());
    EXPECT_NE(bad.title, "X");
    EXPECT_TRUE(debugHas("\t\t!!! skip linux \"" + path + "\", because os_partmap_txt is empty."));

    // The same rejection stays silent outside debug mode.
    isDebugMode = false;
    takeDebugLines();
    OSConfig quiet(path, L({"boot.img", "rootfs.img", "info.conf"}));
    EXPECT_FALSE(quiet.isValid);
    EXPECT_TRUE(takeDebugLines().isEmpty());

    // The exclude list is exact and keeps the sizes aligned.
    excludeFilesList = L({"userdata.img", "Boot.img", "partmap.txt"});
    const QString exclPath = makeSet("excl", {{"boot.img", std::string(3000, 'b')}, {"rootfs.img", "r"},
                                          {"userdata.img", "u"}, {"partmap.txt", "p"}});
    OSConfig excl(exclPath, L({"boot.img", "rootfs.img", "userdata.img", "partmap.txt"}));
    ASSERT_TRUE(excl.isValid);
    EXPECT_EQ(excl.imageFiles, L({"boot.img", "rootfs.img"}));
    EXPECT_EQ(excl.imageFileSizes, (QList<qint64>{3000, 1}));
    EXPECT_EQ(excl.imageFileSizeTexts, L({"3 KB", "1 bytes"}));
    // The group lists keep what the set holds.
    EXPECT_EQ(excl.linuxUserdataImages, L({"userdata.img"}));
}

TEST_F(ImageSetTest, ParameterTxtAndIdbloaderRulesByBoard)
{
    const QStringList files = L({"boot.img", "rootfs.img", "parameter.txt"});
    const QString path = makeSetOf("rkset", files);
    OSConfig rk(path, files);
    EXPECT_TRUE(rk.isValid);
    EXPECT_EQ(rk.os_partmap_txt, "parameter.txt");

    setBoard("H3", "NanoPi");
    OSConfig h3(path, files);
    EXPECT_FALSE(h3.isValid);
    EXPECT_TRUE(h3.os_partmap_txt.isEmpty());

    // Android sets follow the same rule.
    const QStringList android = L({"system.img", "boot.img", "parameter.txt"});
    EXPECT_FALSE(OSConfig(makeSetOf("android-h3", android), android).isValid);

    // An IDB loader is required on Rockchip boards that boot from UFS.
    const QStringList linuxSet = L({"rootfs.img", "boot.img", "parameter.txt"});
    const QString ap = makeSetOf("android-ufs", android);
    const QString lp = makeSetOf("linux-ufs", linuxSet);

    setBoard("RK3576", "Beta-U", true);
    takeDebugLines();
    EXPECT_FALSE(OSConfig(ap, android).isValid);
    EXPECT_TRUE(debugHas("\t\t!!! skip android \"" + ap + "\", because os_idbloader_img is empty."));
    EXPECT_FALSE(OSConfig(lp, linuxSet).isValid);
    EXPECT_TRUE(debugHas("\t\t!!! skip linux \"" + lp + "\", because os_idbloader_img is empty."));
    EXPECT_TRUE(OSConfig(lp, linuxSet + L({"idbloader.img"})).isValid);

    // storageInterface 1 or 2 also means UFS boot; a non-Rockchip CPU never
    // needs the loader.
    setBoard("RK3588", "Gamma");
    m_board.storageInterface = 2;
    EXPECT_FALSE(OSConfig(lp, linuxSet).isValid);
    setBoard("H618", "Delta", true);
    EXPECT_TRUE(scanOf("sunxi-ufs", L({"rootfs.img", "boot.img", "partmap.txt"})).isValid);
}

TEST_F(ImageSetTest, LinuxAndAndroidGroupsOrderMarkersAndIgnoredNames)
{
    // Scanner order is deliberately not the writing order.
    OSConfig os = scanOf("order", L({"storage.img", "userdata.img", "rootfs.img", "boot.img", "opt.img",
                                 "env.conf", "uboot.img", "parameter.txt", "resource.img", "idbloader.img",
                                 "logo.png", "NO_RESIZEFS", "no_low_format.txt", "info.conf",
                                 "imgsmith.conf", "misc.img", "MiniLoaderAll.bin", "unknown.bin",
                                 "trust.img", "u-boot-sunxi-with-spl.bin"}));
    ASSERT_TRUE(os.isValid);
    EXPECT_EQ(os.imageFiles, L({"idbloader.img", "u-boot-sunxi-with-spl.bin", "uboot.img", "MiniLoaderAll.bin",
                                "trust.img", "boot.img", "resource.img", "misc.img", "rootfs.img",
                                "userdata.img", "opt.img", "storage.img"}));
    EXPECT_EQ(os.linuxLoaders, L({"idbloader.img", "u-boot-sunxi-with-spl.bin"}));
    EXPECT_EQ(L({os.os_idbloader_img, os.os_env_conf}), L({"idbloader.img", "env.conf"}));
    EXPECT_TRUE(os.noLowFormat && os.noResizeFs);
    for (const auto &[name, reported] : {std::pair{"unknown.bin", true}, std::pair{"logo.png", true},
                                         std::pair{"NO_RESIZEFS", false}, std::pair{"imgsmith.conf", false}})
        EXPECT_EQ(debugHas(QString("\t\tTODO: unsupport image name: ") + name), reported) << name;

    OSConfig android = scanOf("android12", L({"userdata.img", "system.img", "vbmeta.img", "cache.img", "boot.img",
                                 "uboot.img", "idbloader.img", "parameter.txt", "misc.img", "kernel.img",
                                 "resource.img", "super.img", "recovery.img", "dtbo.img", "trust.img",
                                 "env.conf", "logo.jpg", "info.conf", "rootfs.img"}));
    ASSERT_TRUE(android.isValid);
    EXPECT_EQ(android.osType, Android);
    EXPECT_EQ(android.imageFiles, L({"idbloader.img", "uboot.img", "trust.img", "boot.img", "kernel.img",
                                "resource.img", "dtbo.img", "cache.img", "system.img", "vbmeta.img",
                                "misc.img", "super.img", "recovery.img", "userdata.img"}));
    EXPECT_EQ(L({android.os_idbloader_img, android.os_env_conf}), L({"idbloader.img", "env.conf"}));
    EXPECT_TRUE(android.linuxRootfsImages.isEmpty());
    EXPECT_TRUE(debugHas("\t\tTODO: unsupport image name: rootfs.img"));
    EXPECT_FALSE(debugHas("\t\tTODO: unsupport image name: logo.jpg"));

    OSConfig harmony = scanOf("OpenHarmony-4.1", L({"super.img", "boot.img", "parameter.txt"}));
    ASSERT_TRUE(harmony.isValid);
    EXPECT_EQ(harmony.osType, OpenHarmony);
    EXPECT_EQ(harmony.imageFiles, L({"boot.img", "super.img"}));
}

TEST_F(ImageSetTest, RocknixSetsAndTheirRejections)
{
    m_board.RocknixSubDeviceName = "rk3566-r36s";
    m_board.DTSFileName = "rk3566-r36s-linux";
    const QStringList files = L({"system.img", "rocknix_idbloader.img", "rk3566-r36s-linux.dtb", "partmap.txt",
                                 "rk3566-other_uboot.bin", "rk3566-r36s_uboot.bin", "other.dtb"});
    const QString path = makeSetOf("ROCKNIX-20240801", files);
    OSConfig os(path, files);
    ASSERT_TRUE(os.isValid);
    EXPECT_TRUE(os.isRocknix);
    EXPECT_EQ(os.osType, Rocknix);
    EXPECT_EQ(os.linuxRootfsImages, L({"system.img"}));
    EXPECT_EQ(L({os.os_idbloader_img, os.os_rocknix_uboot_bin, os.os_rocknix_dtb}),
              L({"rocknix_idbloader.img", "rk3566-r36s_uboot.bin", "rk3566-r36s-linux.dtb"}));
    EXPECT_EQ(os.imageFiles, L({"rocknix_idbloader.img", "rk3566-r36s_uboot.bin", "system.img"}));

    takeDebugLines();
    const QStringList noDtb = L({"system.img", "rocknix_idbloader.img", "partmap.txt", "rk3566-r36s_uboot.bin"});
    EXPECT_FALSE(OSConfig(path, noDtb).isValid);
    EXPECT_TRUE(debugHas("\t\t!!! skip rocknix \"" + path + "\", because os_rocknix_dtb is empty."));
    const QStringList noUboot = L({"system.img", "rocknix_idbloader.img", "partmap.txt", "rk3566-r36s-linux.dtb"});
    EXPECT_FALSE(OSConfig(path, noUboot).isValid);
    EXPECT_TRUE(debugHas("\t\t!!! skip rocknix \"" + path + "\", because os_rocknix_uboot_bin is empty."));

    m_board.DTSFileName.clear();
    EXPECT_FALSE(OSConfig(path, files).isValid);
    EXPECT_TRUE(debugHas("\t\t!!! skip rocknix \"" + path + "\", because info->DTSFileName is empty."));
    m_board.RocknixSubDeviceName.clear();
    OSConfig none(path, files);
    EXPECT_FALSE(none.isValid);
    EXPECT_TRUE(none.imageFiles.isEmpty());
    EXPECT_TRUE(debugHas("\t\t!!! skip rocknix \"" + path + "\", because info->RocknixSubDeviceName is empty."));

    // Empty board names would otherwise make "_uboot.bin" a boot image and
    // ".dtb" the ROCKNIX device tree of any set.
    OSConfig bare = scanOf("bare", L({"boot.img", "rootfs.img", "partmap.txt", "_uboot.bin", ".dtb"}));
    ASSERT_TRUE(bare.isValid);
    EXPECT_EQ(bare.imageFiles, L({"boot.img", "rootfs.img"}));
    EXPECT_TRUE(bare.os_rocknix_uboot_bin.isEmpty() && bare.os_rocknix_dtb.isEmpty());
}

TEST_F(ImageSetTest, OsKindFromPathLaterMatchWins)
{
    const QStringList files = L({"boot.img", "rootfs.img", "partmap.txt"});
    // Which names map to which kind is the table's business; what counts is
    // that the later match wins, case is ignored and no match means Linux.
    const std::pair<const char *, OSType> cases[] = {
        {"lubuntu-desktop", Lubuntu}, {"openwrt-lumaroute", Lumaroute}, {"Debian-Bookworm", Debian},
        {"buildroot-ubuntu", Buildroot}, {"myos", Linux}, {"openharmony-linux", Linux},
    };
    for (const auto &c : cases) {
        OSConfig os(makeSetOf(c.first, files), files);
        ASSERT_TRUE(os.isValid) << c.first;
        EXPECT_EQ(os.osType, c.second) << c.first;
    }
    // A directory above the board's own root must not decide the kind.
    TempDir other;
    const std::string root = other.file("ubuntu-sim");
    ASSERT_EQ(run("mkdir -p " + shq(root + "/mnt/sdcard/myos")).status, 0);
    writeFile(root + "/mnt/sdcard/myos/partmap.txt", "p");
    m_sim.setEnv("IMGSMITH_ROOT", root);
    OSConfig os(s2q(root + "/mnt/sdcard/myos"), L({"partmap.txt"}));
    ASSERT_TRUE(os.isValid);
    EXPECT_EQ(os.osType, Linux);
}

TEST_F(ImageSetTest, RootfsProbeMeetsRealFilesystems)
{
    if (!haveTool("mkfs.ext4") || !haveTool("mkfs.btrfs"))
        GTEST_SKIP() << "mkfs.ext4 or mkfs.btrfs (btrfs-progs) not installed";
    const QString ext4Set = makeSet("fs-ext4", {{"partmap.txt", "p"}, {"boot.img", "b"}});
    const QString btrfsSet = makeSet("fs-btrfs", {{"partmap.txt", "p"}, {"boot.img", "b"}});
    const std::string ext4 = q2s(ext4Set + "/rootfs.img");
    const std::string btrfs = q2s(btrfsSet + "/rootfs.img");
    ASSERT_EQ(run("mkfs.ext4 -q -F " + shq(ext4) + " 4M").status, 0);
    makeSparseFile(btrfs, 120ull << 20);   // mkfs.btrfs refuses less than ~109 MiB
    CmdResult made = run("mkfs.btrfs -q -f " + shq(btrfs));
    ASSERT_EQ(made.status, 0) << made.err;
    // What an independent reader sees.
    for (const std::string &f : {ext4, btrfs})
        ASSERT_EQ(run("blkid -p -o value -s TYPE " + shq(f)).out, f == ext4 ? "ext4\n" : "btrfs\n");

    const QStringList files = L({"rootfs.img", "boot.img", "partmap.txt"});
    // The ext4 set also as the running board names it (below the simulation
    // root): the probes and sizes must look at the same files.
    ASSERT_NE(OSConfig(unSysPath(ext4Set), files).imagePath, ext4Set);
    for (const auto &[set, type, size] : {std::tuple{ext4Set, "ext4", 4ll << 20},
                                          std::tuple{unSysPath(ext4Set), "ext4", 4ll << 20},
                                          std::tuple{btrfsSet, "btrfs", 120ll << 20}}) {
        OSConfig c(set, files);
        ASSERT_TRUE(c.isValid) << q2s(set);
        EXPECT_EQ(c.rootfsFsTypes, L({type})) << q2s(set);
        EXPECT_EQ(c.imageFileSizes.last(), size) << q2s(set);
    }

    // A ROCKNIX set carries both root images, one entry per image in order.
    m_board.RocknixSubDeviceName = "rk3326-g";
    m_board.DTSFileName = "rk3326-g";
    const std::string rdir = q2s(makeSet("rocknix", {{"partmap.txt", "p"}, {"rocknix_idbloader.img", "i"},
                                                     {"rk3326-g_uboot.bin", "u"}, {"rk3326-g.dtb", "d"}}));
    ASSERT_EQ(run("cp --sparse=always " + shq(btrfs) + " " + shq(rdir + "/system.img")).status, 0);
    ASSERT_EQ(run("cp " + shq(ext4) + " " + shq(rdir + "/rootfs.img")).status, 0);
    const QStringList rfiles = L({"rootfs.img", "system.img", "partmap.txt", "rocknix_idbloader.img",
                                  "rk3326-g_uboot.bin", "rk3326-g.dtb"});
    OSConfig r(s2q(rdir), rfiles);
    ASSERT_TRUE(r.isValid);
    EXPECT_EQ(r.linuxRootfsImages, L({"rootfs.img", "system.img"}));
    EXPECT_EQ(r.rootfsFsTypes, L({"ext4", "btrfs"}));

    // Truncated, empty and missing images are "unknow", never a crash.
    ASSERT_EQ(run("head -c 1000 " + shq(ext4) + " > " + shq(rdir + "/rootfs.img")).status, 0);
    writeFile(rdir + "/system.img", "");
    EXPECT_EQ(OSConfig(s2q(rdir), rfiles).rootfsFsTypes, L({"unknow", "unknow"}));
    OSConfig missing(makeSet("nofiles", {{"partmap.txt", "p"}, {"x", "x"}}), L({"rootfs.img", "partmap.txt"}));
    EXPECT_EQ(missing.rootfsFsTypes, L({"unknow"}));
    EXPECT_EQ(missing.imageFileSizes, QList<qint64>{0});
}
