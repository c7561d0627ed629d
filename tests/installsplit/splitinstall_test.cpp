// Split installs of a Rockchip GPT set, with "dtbo.img" rebuilt for the chosen
// devices. Checked with sgdisk -v, sfdisk --json, cmp, an independent DT table
// reader and fdtget.
#include "installsplitfixture.h"

#include "dts/overlayargs.h"


#include "install/sdupdatethread.h"

using namespace testsupport;

namespace {

// Sectors of the set's layout (parameter.txt below).
constexpr int64_t kUboot = 0x4000, kMisc = 0x4800, kDtbo = 0x4900, kBoot = 0x5100;
constexpr int64_t kSysRoot = 0x4000, kSysData = 0x4000 + 0x8000;

const char kParameter[] =
    "FIRMWARE_VER: 1.0\nMACHINE_MODEL: RK3588\nMACHINE_ID: 007\nMANUFACTURER: RK3588\nMAGIC: 0x5041524B\n"
    "ATAG: 0x00200800\nMACHINE: 3588\nCHECK_MASK: 0x80\nPWR_HLD: 0,0,A,0,1\nTYPE: GPT\n"
    "CMDLINE: mtdparts=rk29xxnand:0x00000800@0x00004000(uboot),0x00000100@0x00004800(misc),"
    "0x00000800@0x00004900(dtbo),0x00002000@0x00005100(boot),0x00008000@0x00007100(rootfs),"
    "-@0x0000F100(userdata:grow)\n";

class SplitInstall : public SimBoardTest
{
protected:
    void SetUp() override
    {
        SimBoardTest::SetUp();
        if (HasFatalFailure() || IsSkipped())
            return;
        REQUIRE_TOOLS("dtc", "fdtget", "sfdisk", "sgdisk", "mkfs.ext4", "python3", "cmp");
        makeSet();
    }

    void makeSet()
    {
        const std::string d = setDir(m_set), rel = "mnt/sdcard/" + m_set;
        m_root.putPattern(rel + "/idbloader.img", 128 * 1024, 1);
        m_root.putPattern(rel + "/uboot.img", 512 * 1024, 2);
        m_root.putPattern(rel + "/misc.img", 16 * 1024, 3);
        m_root.putPattern(rel + "/boot.img", 2 * MiB + 512, 4);
        makeExt4(d + "/rootfs.img", 8, "splitroot");
        makeExt4(d + "/userdata.img", 4, "splitdata");
        writeFile(d + "/parameter.txt", kParameter);
        // The set's own overlay image, made with the real dtc.
        const std::string w = m_root.mkdir("orig-dtbo");
        for (int i = 0; i < 2; ++i) {
            const std::string dts = w + "/o" + std::to_string(i) + ".dts";
            writeFile(dts, "/dts-v1/;\n/plugin/;\n\n&chosen {\n    bootargs_ext = \"console=ttyFIQ0 root=/dev/mmcblk" +
                               std::to_string(i * 2) + "p8\";\n};\n");
            ASSERT_EQ(run("dtc -q -@ -O dtb -o " + shq(w + "/o" + std::to_string(i) + ".dtbo") + " " + shq(dts)).status, 0);
        }
        ASSERT_EQ(run("cd " + shq(w) + " && mkdtimg create " + shq(d + "/dtbo.img") + " o0.dtbo o1.dtbo").status, 0);
        ASSERT_EQ(run("cp " + shq(d + "/dtbo.img") + " " + shq(root("dtbo.orig"))).status, 0);
    }

    // Set names come from removable media and the rebuild runs a script.
    std::string m_set = "rk split; $(touch pwned) 'q\"";

    static void expectSgdiskClean(const std::string &dev)
    {
        const CmdResult v = run("sgdisk -v " + shq(dev));
        EXPECT_NE(v.out.find("No problems found"), std::string::npos) << v.out << v.err;
    }
    // Partition entries of `dev` as "name@start+size" (sfdisk --json).
    static std::string layout(const std::string &dev)
    {
        return run("sfdisk --json " + shq(dev) +
                   " | python3 -c \"import json,sys; t=json.load(sys.stdin)['partitiontable']; "
                   "print(t['label'], ' '.join('%s@%d+%d' % (p.get('name',''), p['start'], p['size']) "
                   "for p in t['partitions']))\"")
            .out;
    }
    // The boot partitions and the rebuilt overlay image on `dev`, in a sound GPT.
    void expectBootPartitions(const std::string &dev)
    {
        EXPECT_TRUE(holdsAt(dev, setDir(m_set) + "/idbloader.img", 64 * 512));
        const std::pair<const char *, int64_t> parts[] = {
            {"uboot.img", kUboot}, {"misc.img", kMisc}, {"dtbo.img", kDtbo}, {"boot.img", kBoot}};
        for (const auto &[file, sector] : parts)
            EXPECT_TRUE(holdsAt(dev, setDir(m_set) + "/" + file, sector * 512)) << file;
        expectSgdiskClean(dev);
        EXPECT_EQ(layout(dev), "gpt uboot@16384+2048 misc@18432+256 dtbo@18688+2048 boot@20736+8192\n");
    }
};

} // namespace

// One install per row on the same set, the devices blanked in between; last,
// a builder that fails stops the install before any write.
TEST_F(SplitInstall, EveryDeviceChoice)
{
    const TargetDevice sda(TargetDeviceSDCard, "sda"), sdb(TargetDeviceSDCard, "sdb");
    const std::string common = "cgroup_enable=memory cgroup_memory=1 consoleblank=0 ";
    const std::string nvmeLayout = "gpt rootfs@16384+32768 userdata@49152+81887\n";
    // bootArgs nullptr: the set has no info.conf yet; "" layout or args: not checked.
    const struct { TargetDevice boot, system; const char *bootArgs; bool overlayOff, btrfs;
                   std::string systemLayout, args0, args1; } rows[] = {
        // A btrfs root, no overlay: rootfs grows over the drive, no data=.
        {emmcTarget(), nvmeTarget(), nullptr, true, true, "gpt rootfs@16384+114655\n",
         "root=/dev/nvme0n1p1 rootflags=discard rw bootdev=/dev/mmcblk2 rootfstype=auto",
         "root=/dev/nvme0n1p1 rw bootdev=/dev/mmcblk2 rootfstype=auto"},
        // A card in a USB reader is named as the board's SD slot, mmcblk0.
        {emmcTarget(), sda, nullptr, false, false, nvmeLayout, "",
         "data=/dev/mmcblk0p2 root=/dev/mmcblk0p1 rootfstype=ext4 rw bootdev=/dev/mmcblk2"},
        {sdb, nvmeTarget(), nullptr, false, false, nvmeLayout,
         "data=/dev/nvme0n1p2 root=/dev/nvme0n1p1 rootflags=discard rootfstype=ext4 rw bootdev=/dev/mmcblk0", ""},
        {emmcTarget(), nvmeTarget(), "console=ttyS9,115200 quiet", false, false, nvmeLayout,
         "data=/dev/nvme0n1p2 root=/dev/nvme0n1p1 rootflags=discard rootfstype=ext4 rw bootdev=/dev/mmcblk2 "
         "console=ttyS9,115200 quiet",
         "data=/dev/nvme0n1p2 root=/dev/nvme0n1p1 rootfstype=ext4 rw bootdev=/dev/mmcblk2 console=ttyS9,115200 quiet"},
        // A second install rebuilds from the set's own image again.
        {emmcTarget(), nvmeTarget(), "loglevel=3", false, false, nvmeLayout, "",
         "data=/dev/nvme0n1p2 root=/dev/nvme0n1p1 rootfstype=ext4 rw bootdev=/dev/mmcblk2 loglevel=3"},
        // System "none": the default devices, and the NVMe drive left alone.
        {emmcTarget(), TargetDevice(), "loglevel=7 ro", false, false, "",
         "data=/dev/mmcblk2p9 root=/dev/mmcblk2p8 rootflags=discard rootfstype=ext4 bootdev=/dev/mmcblk2 loglevel=7 ro",
         "data=/dev/mmcblk0p9 root=/dev/mmcblk0p8 rootfstype=ext4 bootdev=/dev/mmcblk2 loglevel=7 ro"},
    };
    for (const auto &r : rows) {
        SCOPED_TRACE(r.boot.devName.toStdString() + " + " + r.system.devName.toStdString() + " " + (r.bootArgs ? r.bootArgs : ""));
        for (const char *dev : {"mmcblk2", "nvme0n1", "sda", "sdb"})
            makeSparseFile(root("dev/") + dev, 64 * MiB);
        if (r.bootArgs)
            writeFile(setDir(m_set) + "/info.conf", std::string("title=Split\nbootargs-ext=") + r.bootArgs + "\n");
        OSConfig c = scanSet(m_set);
        if (r.btrfs)
            c.rootfsFsTypes = QStringList{"BTRFS"};
        const EventLog rec = install(c, r.boot, r.system, [&](SDUpdateThread &j) { j.setOverlayfsDisabled(r.overlayOff); });
        ASSERT_EQ(rec.errorText(), "");
        ASSERT_EQ(rec.count(1111), 1);

        const std::string bootDev = root("dev/" + r.boot.devName.toStdString());
        expectBootPartitions(bootDev);
        if (bootDev != emmc())
            EXPECT_TRUE(zeroAt(emmc(), 0, 64 * MiB)) << "the eMMC was not chosen";
        if (r.system.isNone()) {
            EXPECT_TRUE(zeroAt(nvme(), 0, 64 * MiB)) << "nothing may be written to a device that was not chosen";
        } else {
            const std::string sys = root("dev/" + r.system.devName.toStdString());
            expectSgdiskClean(sys);
            EXPECT_EQ(layout(sys), r.systemLayout);
            EXPECT_TRUE(holdsAt(sys, setDir(m_set) + "/rootfs.img", kSysRoot * 512));
            if (!r.overlayOff)
                EXPECT_TRUE(holdsAt(sys, setDir(m_set) + "/userdata.img", kSysData * 512));
        }
        const std::vector<std::string> args = overlayArgs(root(""), setDir(m_set) + "/dtbo.img");
        ASSERT_EQ(args.size(), 2u);
        if (!r.args0.empty())
            EXPECT_EQ(args[0], common + r.args0);
        if (!r.args1.empty())
            EXPECT_EQ(args[1], common + r.args1);
        // The set's own image is kept untouched beside it.
        EXPECT_EQ(run("cmp " + shq(setDir(m_set) + "/dtbo.img.bak") + " " + shq(root("dtbo.orig"))).status, 0);
    }
    // Wherever an injected command would have run.
    EXPECT_EQ(run("ls pwned /tmp/pwned 2>/dev/null; find " + shq(root("")) + " -name pwned").out, "");

    // Without the mkdtimg stand-in the set's image stays as it was.
    m_root.setEnv("PATH", "/usr/sbin:/usr/bin:/sbin:/bin");
    if (haveTool("mkdtimg"))
        return;
    for (const char *dev : {"mmcblk2", "nvme0n1"})
        makeSparseFile(root("dev/") + dev, 64 * MiB);
    ASSERT_EQ(run("cp " + shq(setDir(m_set) + "/dtbo.img") + " " + shq(root("dtbo.before"))).status, 0);
    const EventLog rec = install(scanSet(m_set), emmcTarget(), nvmeTarget());
    EXPECT_EQ(rec.errorText(), "Failed to create dtbo.img, ret code: -2.");
    EXPECT_EQ(rec.count(1111), 0);
    EXPECT_TRUE(zeroAt(emmc(), 0, 64 * MiB) && zeroAt(nvme(), 0, 64 * MiB));
    EXPECT_EQ(run("cmp " + shq(setDir(m_set) + "/dtbo.img") + " " + shq(root("dtbo.before"))).status, 0);
}
