// Rockchip firmware packages (made by tests/rockchip/mkrkfw.py) and ROCKNIX
// sets through the install job on the simulated RK3588 board.
#include "installsplitfixture.h"

#include <sys/mount.h>

#include <algorithm>

#include "install/sdupdatethread.h"
#include "storage/idbloader_builtin.h"

using namespace testsupport;

namespace {

// First entry: a scan for parameter-file markers would find its plain text.
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
        REQUIRE_TOOLS("python3", "gzip");
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
        const std::string dir = m_root.mkdir("mnt/sdcard/" + set);
        writeFile(root("layout.json"), "{\"entries\":" + entries + ",\"rkfw\":" + o.rkfw + "}");
        const std::string path = dir + "/" + file;
        const CmdResult r = run("python3 " + shq(MKRKFW_PY) + " " + shq(root("layout.json")) + " " + shq(path));
        EXPECT_EQ(r.status, 0) << r.err;
        return path;
    }

    // Named as the running system names it: valid when the board moves root.
    static OSConfig rawSet(const std::string &set, const std::string &file)
    {
        return OSConfig(QString::fromStdString("/mnt/sdcard/" + set), QString::fromStdString(file));
    }

    void expectNoTempDir(const std::string &set) { EXPECT_EQ(entriesStartingWith(setDir(set), "img."), ""); }

    bool emmcUntouched() { return zeroAt(emmc(), 0, 64 * MiB); }
};

// The simulated kernel has no partition nodes: "dev/mmcblk2p1" is an ext4
// image of the boot partition, which mount stand-ins first in PATH unpack.
class RocknixJob : public SimBoardTest
{
protected:
    void SetUp() override
    {
        SimBoardTest::SetUp();
        if (HasFatalFailure() || IsSkipped())
            return;
        REQUIRE_TOOLS("sfdisk", "mkfs.ext4", "debugfs", "bash", "cmp");
        m_root.putPattern("mnt/sdcard/rocknix/u-boot-board.bin", 3 * 1024 * 1024 / 2, 10);
        m_root.putPattern("mnt/sdcard/rocknix/rk3566-board.dtb", 3000, 11);
        // The generic disk image: an MBR with one partition at 16 MiB.
        const std::string disk = setDir("rocknix") + "/ROCKNIX-RK3566.img";
        ASSERT_EQ(run("truncate -s 20M " + shq(disk) + " && printf 'label: dos\\nstart=32768, type=c\\n' | sfdisk -q " +
                      shq(disk)).status, 0);
        m_root.putPattern("part1.bin", 1 * MiB, 9);
        ASSERT_EQ(run("dd if=" + shq(root("part1.bin")) + " of=" + shq(disk) +
                      " bs=512 seek=32768 conv=notrunc status=none").status, 0);
        m_root.put("boottree/extlinux/extlinux.conf", "LABEL ROCKNIX\n  LINUX /KERNEL\n  FDT /rk3566-generic.dtb\n"
                                                      "  APPEND boot=LABEL=ROCKNIX quiet fbcon=rotate:1\n");
        ASSERT_EQ(run("mkfs.ext4 -q -F -d " + shq(root("boottree")) + " " + shq(root("dev/mmcblk2p1")) + " 8M").status, 0);

        m_root.mountStandIns(root("bin"));
    }
    OSConfig rocknixSet() const
    {
        OSConfig c(QStringLiteral("/mnt/sdcard/rocknix"), QStringLiteral("ROCKNIX-RK3566.img"));
        c.isRocknix = true;
        c.os_rocknix_uboot_bin = QStringLiteral("u-boot-board.bin");
        c.os_rocknix_dtb = QStringLiteral("rk3566-board.dtb");
        return c;
    }
    std::string bootFile(const std::string &path)
    {
        return run("debugfs -R " + shq("cat " + path) + " " + shq(root("dev/mmcblk2p1")) + " 2>/dev/null").out;
    }
    void expectImageAndUboot()
    {
        const std::string d = setDir("rocknix");
        EXPECT_TRUE(holdsAt(emmc(), d + "/u-boot-board.bin", 32768)) << "U-Boot at byte 32768";
        EXPECT_TRUE(zeroAt(emmc(), 512, 32768 - 512)) << "nothing between the MBR and U-Boot";
        EXPECT_TRUE(holdsAt(emmc(), root("part1.bin"), 32768LL * 512)) << "the image's partition stays";
        const std::string json = run("sfdisk --json " + shq(emmc()) + " | tr -d ' \\n\\t'").out;
        EXPECT_NE(json.find("\"label\":\"dos\""), std::string::npos) << json;
        EXPECT_NE(json.find("\"start\":32768,\"size\":8192,\"type\":\"c\""), std::string::npos) << json;
    }
};

} // namespace

TEST_F(FirmwarePackage, WithoutLoaderOrCancelledNoTemporaryDirectoryIsLeft)
{
    makePackage("fw-noloader", "update.img", {false});
    EventLog rec = install(rawSet("fw-noloader", "update.img"), emmcTarget(), TargetDevice());
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

    // Cancelled while writing: the temporary directory goes too.
    makePackage("fw-cancel", "update.img");
    rec = install(rawSet("fw-cancel", "update.img"), emmcTarget(), TargetDevice(), [](SDUpdateThread &j) {
        j.setProgressObserver([&j](int index, int percent) {
            if (index >= 2 && percent > 0)
                j.cancel();
        });
    });
    EXPECT_EQ(rec.errorText(), "The install was cancelled.");
    EXPECT_EQ(rec.count(1111), 0);
    expectNoTempDir("fw-cancel");
}

// A small tmpfs holding a copy of the board makes the running root short of space.
class FirmwarePackageSpace : public FirmwarePackage
{
protected:
    void TearDown() override
    {
        if (m_mounted)
            umount2(m_small.c_str(), MNT_DETACH);
        FirmwarePackage::TearDown();
    }
    bool mountTmpfs(const std::string &dir, int mib)
    {
        run("mkdir -p " + shq(dir));
        m_small = dir;
        return m_mounted = mount("tmpfs", dir.c_str(), "tmpfs", 0, ("size=" + std::to_string(mib) + "m").c_str()) == 0;
    }
    // Moves the simulated board onto a tmpfs of `mib` MiB.
    bool moveToSmallRoot(int mib)
    {
        if (!mountTmpfs(root("small"), mib))
            return false;
        run("cd " + shq(root("")) + " && tar --exclude=./small -cSf - . | tar -xSf - -C " + shq(m_small));
        m_root.setEnv("IMGSMITH_ROOT", m_small);
        return true;
    }
    std::string m_small;
    bool m_mounted = false;
};

TEST_F(FirmwarePackageSpace, ShortOfSpaceIsRefusedBeforeAnyWrite)
{
    // Too little space to unpack; 160 MiB of zeros once inflated on ~110 MiB free.
    makePackage("fw-space", "update.img");
    const std::string big = makePackage("fw-big", "update.img");
    run("(cat " + shq(big) + "; head -c 160M /dev/zero) | gzip -1 -n > " + shq(big + ".gz") + " && rm -f " + shq(big));
    const struct { int mib; const char *set, *file, *message; } cases[] = {
        {80, "fw-space", "update.img", "Not enough free disk space."},
        {112, "fw-big", "update.img.gz", "Failed to decompress file, out of storage."},
    };
    for (const auto &c : cases) {
        if (!moveToSmallRoot(c.mib))
            GTEST_SKIP() << "cannot mount a tmpfs here (needs root)";
        const EventLog rec = install(rawSet(c.set, c.file), emmcTarget(), TargetDevice());
        EXPECT_EQ(rec.errorText(), c.message);
        EXPECT_TRUE(zeroAt(m_small + "/dev/mmcblk2", 0, 64 * MiB));
        EXPECT_EQ(entriesStartingWith(m_small + "/mnt/sdcard/" + c.set, "img."), "");
        ASSERT_EQ(umount2(m_small.c_str(), MNT_DETACH), 0);
        m_mounted = false;
        m_root.setEnv("IMGSMITH_ROOT", m_root.path());
    }
}

TEST_F(FirmwarePackageSpace, ImageCutShortByAFullCardIsNotInstalled)
{
    // The card fills up while the package's entries are taken out.
    if (!mountTmpfs(setDir("fw-full"), 30))
        GTEST_SKIP() << "cannot mount a tmpfs here (needs root)";
    PackageOptions o;
    o.extraEntries = ",{\"name\":\"big\",\"file\":\"Image/big.img\",\"size\":8388608}";
    makePackage("fw-full", "update.img", o);
    const EventLog rec = install(rawSet("fw-full", "update.img"), emmcTarget(), TargetDevice());
    EXPECT_EQ(rec.errorText(), "Failed to unpack update /mnt/sdcard/fw-full/update.img, ret = -1. cannot extract Image/big.img.");
    EXPECT_EQ(rec.count(1111), 0);
    EXPECT_TRUE(emmcUntouched());
    expectNoTempDir("fw-full");
}

TEST_F(RocknixJob, UbootAtItsOffsetAndBootMenuPointedAtTheBoardTree)
{
    const EventLog rec = install(rocknixSet(), emmcTarget(), TargetDevice());
    ASSERT_EQ(rec.errorText(), "");
    EXPECT_EQ(rec.count(1111), 1);
    expectImageAndUboot();
    const QList<RecordedEvent> steps = rec.ofType(1100);
    EXPECT_TRUE(std::any_of(steps.begin(), steps.end(), [](const RecordedEvent &e) {
        return e.imageName.endsWith("/u-boot-board.bin") && e.fileIndex == 1 && e.fileCount == 1;
    }));
    EXPECT_EQ(bootFile("/extlinux/extlinux.conf"), "LABEL ROCKNIX\n  LINUX /KERNEL\n  FDT /rk3566-board.dtb\n"
                                                   "  APPEND boot=LABEL=ROCKNIX quiet\n");
    writeFile(root("dtb.back"), bootFile("/rk3566-board.dtb"));
    EXPECT_EQ(run("cmp " + shq(root("dtb.back")) + " " + shq(setDir("rocknix") + "/rk3566-board.dtb")).status, 0);
    EXPECT_EQ(run("e2fsck -fn " + shq(root("dev/mmcblk2p1"))).status, 0);
    // Outside debug mode the script and its markers are gone afterwards.
    EXPECT_TRUE(entriesStartingWith(root("tmp"), "rocknix_change_dtb").empty());
}

TEST_F(RocknixJob, FailingMountFailsTheInstall)
{
    writeExecutable(root("bin/mount"), "#!/bin/sh\necho 'mount: wrong fs type' >&2\nexit 32\n");
    const EventLog rec = install(rocknixSet(), emmcTarget(), TargetDevice());
    EXPECT_EQ(rec.errorText(), "Failed to update DTB settings.");
    EXPECT_EQ(rec.count(1111), 0);
    // The image and U-Boot were written before the script ran.
    expectImageAndUboot();
    EXPECT_NE(bootFile("/extlinux/extlinux.conf").find("FDT /rk3566-generic.dtb"), std::string::npos);
}
