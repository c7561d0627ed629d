// Rockchip firmware packages through the install job on the simulated RK3588
// board. Packages are made by the independent writer of the Rockchip tests
// (tests/rockchip/mkrkfw.py), plain and gzip-compressed; what lands on the
// eMMC is compared with what rkunpack (rkflashtool) takes out of the same
// package, and the layout is read back with sgdisk and sfdisk.
#include "installsplitfixture.h"

#include <sys/mount.h>

#include <cstdlib>

#include "install/sdupdatethread.h"
#include "storage/idbloader_builtin.h"
#include "util/paths.h"

using namespace testsupport;

namespace {

// The parameter entry comes first, so its text lies in plain near the start
// of the package, where a scan for parameter-file markers would find it.
const char kParam[] = "FIRMWARE_VER: 1.0\\nMACHINE_MODEL: RK3588\\nMANUFACTURER: RK3588\\nTYPE: GPT\\n"
                      "CMDLINE: mtdparts=rk29xxnand:0x00000800@0x00004000(uboot),0x00002000@0x00004800(boot),"
                      "-@0x00006800(rootfs:grow)\\n";

struct PackageOptions
{
    bool withLoader = true;
    std::string extraEntries;        // appended JSON entries
    std::string rkfw = "{}";         // options of the RKFW wrapper
};

class FirmwarePackage : public SimBoardTest
{
protected:
    void SetUp() override
    {
        SimBoardTest::SetUp();
        if (HasFatalFailure() || IsSkipped())
            return;
        REQUIRE_TOOLS("python3", "sgdisk", "sfdisk", "cmp", "gzip");
    }

    // Writes a package into set `set` as `file`; returns its path.
    std::string makePackage(const std::string &set, const std::string &file, const PackageOptions &o = {})
    {
        std::string entries = std::string("[{\"name\":\"parameter\",\"file\":\"Image/parameter.txt\",\"parameter\":true,"
                                          "\"data\":\"") + kParam + "\"},"
            "{\"name\":\"package-file\",\"file\":\"package-file\",\"data\":\"# NAME Relative path\\npackage-file "
            "package-file\\nbootloader Image/MiniLoaderAll.bin\\nparameter Image/parameter.txt\\nuboot "
            "Image/uboot.img\\n\"},"
            "{\"name\":\"bootloader\",\"file\":\"Image/MiniLoaderAll.bin\",\"size\":4000},"
            "{\"name\":\"uboot\",\"file\":\"Image/uboot.img\",\"size\":300000},"
            "{\"name\":\"boot\",\"file\":\"Image/boot.img\",\"size\":1049000},"
            "{\"name\":\"rootfs\",\"file\":\"Image/rootfs.img\",\"size\":3145000},"
            "{\"name\":\"backup\",\"file\":\"SELF\"}";
        if (o.withLoader)
            entries += ",{\"name\":\"idbloader\",\"file\":\"Image/idbloader.img\",\"size\":200000}";
        entries += o.extraEntries + "]";
        const std::string dir = setDir(set);
        run("mkdir -p " + shq(dir));
        writeFile(root("layout.json"), "{\"entries\":" + entries + ",\"rkfw\":" + o.rkfw + "}");
        const std::string path = dir + "/" + file;
        const CmdResult r = run("python3 " + shq(MKRKFW_PY) + " " + shq(root("layout.json")) + " " + shq(path));
        EXPECT_EQ(r.status, 0) << r.err;
        return path;
    }

    // The same package taken apart by rkunpack: the reference images.
    std::string peerUnpack(const std::string &package)
    {
        const std::string peer = root("peer");
        run("rm -rf " + shq(peer) + " && mkdir -p " + shq(peer));
        const CmdResult r = run("cp " + shq(package) + " " + shq(peer + "/fw.img") + " && cd " + shq(peer) +
                                " && rkunpack fw.img && rkunpack embedded-update.img");
        EXPECT_EQ(r.status, 0) << r.out << r.err;
        return peer;
    }

    // Named as the running system names it, so that it stays valid when the
    // board moves to another root.
    static OSConfig rawSet(const std::string &set, const std::string &file)
    {
        return OSConfig(QString::fromStdString("/mnt/sdcard/" + set), QString::fromStdString(file));
    }

    void expectNoTempDir(const std::string &set)
    {
        EXPECT_TRUE(entriesStartingWith(setDir(set), "img.").empty()) << "the temporary directory must be removed";
    }

    void expectInstalled(const std::string &peer)
    {
        const CmdResult v = run("sgdisk -v " + shq(emmc()));
        EXPECT_NE(v.out.find("No problems found"), std::string::npos) << v.out << v.err;
        const std::string json = run("sfdisk --json " + shq(emmc()) + " | tr -d ' \\n\\t'").out;
        EXPECT_NE(json.find("\"start\":16384,\"size\":2048,"), std::string::npos) << json;
        EXPECT_NE(json.find("\"name\":\"uboot\""), std::string::npos) << json;
        EXPECT_NE(json.find("\"start\":18432,\"size\":8192,"), std::string::npos) << json;
        EXPECT_NE(json.find("\"name\":\"boot\""), std::string::npos) << json;
        EXPECT_NE(json.find("\"start\":26624,\"size\":104415,"), std::string::npos) << json;
        EXPECT_NE(json.find("\"name\":\"rootfs\""), std::string::npos) << json;
        EXPECT_TRUE(holdsAt(emmc(), peer + "/Image/idbloader.img", 64 * 512)) << "IDB loader at sector 64";
        EXPECT_TRUE(holdsAt(emmc(), peer + "/Image/uboot.img", 0x4000 * 512));
        EXPECT_TRUE(holdsAt(emmc(), peer + "/Image/boot.img", 0x4800 * 512));
        EXPECT_TRUE(holdsAt(emmc(), peer + "/Image/rootfs.img", 0x6800 * 512));
    }

    bool emmcUntouched() { return zeroAt(emmc(), 0, 64 * MiB); }
};

} // namespace

TEST_F(FirmwarePackage, PlainAndGzipPackagesInstallEndToEnd)
{
    REQUIRE_TOOLS("rkunpack", "xz", "zstd");
    const std::string pkg = makePackage("fw-plain", "update.img", {true, "", "{\"digest\":\"upper\"}"});
    const std::string peer = peerUnpack(pkg);
    EventLog rec = install(rawSet("fw-plain", "update.img"), emmcTarget(), TargetDevice());
    ASSERT_EQ(rec.errorText(), "");
    EXPECT_EQ(rec.count(1111), 1);
    expectInstalled(peer);
    expectNoTempDir("fw-plain");

    // The same package compressed: decompressed first, then the same install.
    const std::pair<const char *, const char *> packers[] = {{"gz", "gzip -c -n"}, {"xz", "xz -c"}, {"zst", "zstd -q -c"}};
    for (const auto &[ext, packer] : packers) {
        SCOPED_TRACE(packer);
        const std::string set = std::string("fw-") + ext, file = std::string("update.img.") + ext;
        run("mkdir -p " + shq(setDir(set)) + " && " + packer + " < " + shq(pkg) + " > " + shq(setDir(set) + "/" + file));
        run("truncate -s 0 " + shq(emmc()) + " && truncate -s 64M " + shq(emmc()));
        rec = install(rawSet(set, file), emmcTarget(), TargetDevice());
        ASSERT_EQ(rec.errorText(), "");
        EXPECT_EQ(rec.count(1111), 1);
        expectInstalled(peer);
        expectNoTempDir(set);
    }
}

TEST_F(FirmwarePackage, PackageWithoutLoaderTakesTheBuiltInOneOrIsRefused)
{
    makePackage("fw-noloader", "update.img", {false});
    const EventLog rec = install(rawSet("fw-noloader", "update.img"), emmcTarget(), TargetDevice());
    uint32_t len = 0;
    const unsigned char *builtin = idbloader_builtin_find("RK3588", &len);
    if (!builtin || len == 0) {
        EXPECT_EQ(rec.errorText(), "Dose not support this model.");
        EXPECT_TRUE(emmcUntouched());
    } else {
        ASSERT_EQ(rec.errorText(), "");
        writeFile(root("builtin.img"), std::string(reinterpret_cast<const char *>(builtin), len));
        EXPECT_TRUE(holdsAt(emmc(), root("builtin.img"), 64 * 512));
    }
    expectNoTempDir("fw-noloader");
}

TEST_F(FirmwarePackage, CancelDuringTheWriteRemovesTheTemporaryDirectory)
{
    makePackage("fw-cancel", "update.img");
    const EventLog rec = install(rawSet("fw-cancel", "update.img"), emmcTarget(), TargetDevice(), [](SDUpdateThread &j) {
        j.setProgressObserver([&j](int index, int percent) {
            if (index >= 2 && percent > 0)
                j.cancel();
        });
    });
    EXPECT_EQ(rec.errorText(), "The install was cancelled.");
    EXPECT_EQ(rec.count(1111), 0);
    expectNoTempDir("fw-cancel");
}

// The running system's root file system is the simulated root: a small
// tmpfs holding a copy of the board makes it short of space.
class FirmwarePackageSpace : public FirmwarePackage
{
protected:
    void TearDown() override
    {
        if (m_mounted)
            umount2(m_small.c_str(), MNT_DETACH);
        FirmwarePackage::TearDown();
    }
    // Moves the simulated board onto a tmpfs of `mib` MiB.
    bool moveToSmallRoot(int mib)
    {
        m_small = root("small");
        run("mkdir -p " + shq(m_small));
        const std::string opts = "size=" + std::to_string(mib) + "m";
        if (mount("tmpfs", m_small.c_str(), "tmpfs", 0, opts.c_str()) != 0)
            return false;
        m_mounted = true;
        run("cd " + shq(root("")) + " && tar --exclude=./small -cSf - . | tar -xSf - -C " + shq(m_small));
        m_root.setEnv("IMGSMITH_ROOT", m_small);
        return true;
    }
    std::string m_small;
    bool m_mounted = false;
};

TEST_F(FirmwarePackageSpace, NotEnoughFreeSpaceIsRefusedBeforeUnpacking)
{
    makePackage("fw-space", "update.img");
    if (!moveToSmallRoot(80))
        GTEST_SKIP() << "cannot mount a tmpfs here (needs root)";
    const EventLog rec = install(rawSet("fw-space", "update.img"), emmcTarget(), TargetDevice());
    EXPECT_EQ(rec.errorText(), "Not enough free disk space.");
    EXPECT_TRUE(zeroAt(m_small + "/dev/mmcblk2", 0, 64 * MiB));
    EXPECT_TRUE(entriesStartingWith(m_small + "/mnt/sdcard/fw-space", "img.").empty());
}

TEST_F(FirmwarePackageSpace, DecompressionRunningOutOfStorageSaysSo)
{
    // A package followed by 160 MiB of zeros once inflated, on a root with
    // about 110 MiB free.
    const std::string pkg = makePackage("fw-big", "update.img");
    run("(cat " + shq(pkg) + "; head -c 160M /dev/zero) | gzip -1 -n > " + shq(pkg + ".gz") + " && rm -f " + shq(pkg));
    if (!moveToSmallRoot(112))
        GTEST_SKIP() << "cannot mount a tmpfs here (needs root)";
    const EventLog rec = install(rawSet("fw-big", "update.img.gz"), emmcTarget(), TargetDevice());
    EXPECT_EQ(rec.errorText(), "Failed to decompress file, out of storage.");
    EXPECT_TRUE(zeroAt(m_small + "/dev/mmcblk2", 0, 64 * MiB));
    EXPECT_TRUE(entriesStartingWith(m_small + "/mnt/sdcard/fw-big", "img.").empty());
}

TEST_F(FirmwarePackageSpace, ImageCutShortByAFullCardIsNotInstalled)
{
    // The card holding the package fills up while its entries are taken
    // out: the package (12 MiB) and its payload fit, the entries do not.
    const std::string card = setDir("fw-full");
    run("mkdir -p " + shq(card));
    if (mount("tmpfs", card.c_str(), "tmpfs", 0, "size=30m") != 0)
        GTEST_SKIP() << "cannot mount a tmpfs here (needs root)";
    m_small = card;
    m_mounted = true;
    PackageOptions o;
    o.extraEntries = ",{\"name\":\"big\",\"file\":\"Image/big.img\",\"size\":8388608}";
    makePackage("fw-full", "update.img", o);
    const EventLog rec = install(rawSet("fw-full", "update.img"), emmcTarget(), TargetDevice());
    const QString err = rec.errorText();
    EXPECT_EQ(err, "Failed to unpack update /mnt/sdcard/fw-full/update.img, ret = -1. cannot extract Image/big.img.");
    EXPECT_EQ(rec.count(1111), 0);
    EXPECT_TRUE(emmcUntouched());
    expectNoTempDir("fw-full");
}
