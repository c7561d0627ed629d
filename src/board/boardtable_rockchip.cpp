// Rockchip rows of the board table. The maker's kernels report one hardware
// key per SoC in "/sys/devices/platform/board/info" and number the models of
// that SoC in its "Revision" line.
#include "board/boardtablerows.h"

const char *const kRK3576NoUFSBoardKey = "alphav5lite";
const char *const kRK3576UFSBoardKey = "alphav5ufs";

namespace boardtable {

static BoardHardwareInfo *rk(const char *cpu, const char *name, const char *key, int revision,
                             const char *summary)
{
    const QByteArray hwKey = "corvanta-" + QByteArray(cpu).toLower();
    BoardHardwareInfo *b = fresh(cpu, "rockchip", kOwnMakerKey, hwKey.constData());
    identify(b, name, key, revision, summary);
    b->hasEthernet = true;
    b->ethPortCount = 1;
    b->ethPortSpeedMbps[0] = 1000;
    b->usbHostCount = 1;
    return b;
}

static void setRocknix(BoardHardwareInfo *b, const char *subDevice, const char *dts)
{
    b->RocknixSubDeviceName = QString::fromLatin1(subDevice);
    b->DTSFileName = QString::fromLatin1(dts);
}

static void appendRK3328()
{
    BoardHardwareInfo *b;
    b = rk("RK3328", "Alpha-C1", "alphac1", 0, "RK3328/1GB/2xEthernet");
    b->emmcSelectable = true;
    b->ethPortCount = 2;
    b->defaultOSName = QStringLiteral("lumaroute24");
    b->maxCpuFreqMHz = 1800;
    add(b);
    add(variant(b, "Alpha-C1 (2GB)", 1, "RK3328/2GB/2xEthernet"));
    add(variant(b, "Alpha-C1 (4GB)", 2, "RK3328/4GB/2xEthernet"));

    b = rk("RK3328", "Alpha-C1 Router", "alphac1router", 3, "RK3328/1GB/2xEthernet/eMMC");
    b->emmcMode = 1;
    b->ethPortCount = 2;
    b->defaultOSName = QStringLiteral("lumaroute24");
    add(b);
    add(variant(b, "Alpha-C1 Router (2GB)", 4, "RK3328/2GB/2xEthernet/eMMC"));

    b = rk("RK3328", "Alpha-C2", "alphac2", 5, "RK3328/1GB/Ethernet");
    b->defaultOSName = QStringLiteral("debian-bookworm-core-arm64");
    add(b);

    b = rk("RK3328", "Alpha-C2 Plus", "alphac2plus", 6, "RK3328/2GB/Ethernet/eMMC");
    b->emmcMode = 1;
    b->hasSATA = true;
    b->defaultOSName = QStringLiteral("openmediavault-arm64");
    add(b);
    add(variant(b, "Alpha-C2 Plus (4GB)", 7, "RK3328/4GB/Ethernet/eMMC"));

    b = rk("RK3328", "Alpha-C3", "alphac3", 8, "RK3328/1GB/3xEthernet/eMMC");
    b->emmcMode = 1;
    b->ethPortCount = 3;
    b->defaultOSName = QStringLiteral("lumaroute");
    add(b);
    add(variant(b, "Alpha-C3 (2GB)", 9, "RK3328/2GB/3xEthernet/eMMC"));

    b = rk("RK3328", "Alpha-C3 Max", "alphac3max", 12, "RK3328/4GB/3xEthernet/eMMC");
    b->emmcMode = 2;
    b->ethPortCount = 3;
    b->ethPortSpeedMbps[2] = 2500;
    b->defaultOSName = QStringLiteral("lumaroute");
    add(b);

    b = rk("RK3328", "Unknow3328", "other3328board", -1, "Unknow");
    add(b);
}

static void appendRK3399()
{
    BoardHardwareInfo *b;
    b = rk("RK3399", "Alpha-R4", "alphar4", 0, "RK3399/2GB/Ethernet/eMMC");
    b->emmcMode = 1;
    b->hasWiFi = true;
    b->defaultOSName = QStringLiteral("ubuntu-noble-desktop-arm64");
    b->maxCpuFreqMHz = 1800;
    add(b);
    add(variant(b, "Alpha-R4 (4GB)", 1, "RK3399/4GB/Ethernet/eMMC"));

    b = rk("RK3399", "Alpha-R4 Router", "alphar4router", 2, "RK3399/1GB/2xEthernet");
    b->ethPortCount = 2;
    b->emmcSelectable = true;
    b->defaultOSName = QStringLiteral("lumaroute24");
    add(b);
    add(variant(b, "Alpha-R4 Router (4GB)", 3, "RK3399/4GB/2xEthernet"));

    b = rk("RK3399", "Alpha-R4 Pro", "alphar4pro", 4, "RK3399/4GB/Ethernet/eMMC/WiFi/PCIe");
    b->emmcMode = 1;
    b->hasWiFi = true;
    b->hasPCIe = true;
    b->defaultOSName = QStringLiteral("ubuntu-noble-desktop-arm64");
    add(b);

    b = rk("RK3399", "Alpha-R4 Mini", "alphar4mini", 5, "RK3399/2GB/WiFi/eMMC");
    b->emmcMode = 1;
    b->hasEthernet = false;
    b->ethPortCount = 0;
    b->hasWiFi = true;
    b->defaultOSName = QStringLiteral("android10");
    add(b);
    add(variant(b, "Alpha-R4 Mini (4GB)", 6, "RK3399/4GB/WiFi/eMMC"));

    b = rk("RK3399", "Alpha-R4 Edge", "alphar4edge", 7, "RK3399/2GB/Ethernet/eMMC/WiFi");
    b->emmcMode = 1;
    b->hasWiFi = true;
    b->defaultOSName = QStringLiteral("ubuntu-noble-core-arm64");
    add(b);
    add(variant(b, "Alpha-R4 Edge (LPDDR4)", 8, "RK3399/4GB/Ethernet/eMMC/WiFi"));

    b = rk("RK3399", "Alpha-R4 Tab", "alphar4tab", 9, "RK3399/4GB/eMMC/WiFi/LCD");
    b->emmcMode = 2;
    b->hasLCD = true;
    b->hasWiFi = true;
    b->hasEthernet = false;
    b->ethPortCount = 0;
    b->defaultOSName = QStringLiteral("android10");
    add(b);

    b = rk("RK3399", "Alpha-R4 Plus", "alphar4plus", 33, "RK3399/2GB/Ethernet/eMMC/WiFi/M.2");
    b->emmcMode = 1;
    b->hasWiFi = true;
    b->hasPCIe = true;
    b->defaultOSName = QStringLiteral("ubuntu-noble-desktop-arm64");
    add(b);
    add(variant(b, "Alpha-R4 Plus (4GB)", 34, "RK3399/4GB/Ethernet/eMMC/WiFi/M.2"));

    b = rk("RK3399", "Unknow3399", "other3399board", -1, "Unknow");
    add(b);
}

static void appendRK35xxSmall()
{
    BoardHardwareInfo *b;
    b = rk("RK3528", "Alpha-N1", "alphan1", 0, "RK3528/1GB/2xEthernet");
    b->ethPortCount = 2;
    b->ethPortSpeedMbps[1] = 1000;
    b->defaultOSName = QStringLiteral("lumaroute24");
    add(b);
    add(variant(b, "Alpha-N1 (2GB)", 1, "RK3528/2GB/2xEthernet"));

    b = rk("RK3528", "Alpha-N2", "alphan2", 2, "RK3528/2GB/2xEthernet/eMMC");
    b->emmcMode = 1;
    b->ethPortCount = 2;
    b->defaultOSName = QStringLiteral("lumaroute24");
    add(b);

    // Handheld-style boards the ROCKNIX images support.
    b = rk("RK3566", "Alpha-G1", "alphag1", 0, "RK3566/2GB/eMMC/WiFi");
    b->emmcMode = 1;
    b->hasWiFi = true;
    b->hasEthernet = false;
    b->ethPortCount = 0;
    setRocknix(b, "corvanta-alpha-g1", "rk3566-corvanta-alpha-g1");
    add(b);
    add(variant(b, "Alpha-G1 (4GB)", 1, "RK3566/4GB/eMMC/WiFi"));

    b = rk("RK3566", "Alpha-G2", "alphag2", 2, "RK3566/4GB/eMMC/WiFi/LCD");
    b->emmcMode = 1;
    b->hasWiFi = true;
    b->hasLCD = true;
    b->hasEthernet = false;
    b->ethPortCount = 0;
    setRocknix(b, "corvanta-alpha-g2", "rk3566-corvanta-alpha-g2");
    add(b);

    b = rk("RK3566", "Alpha-G1 Module", "alphag1module", 3, "RK3566/2GB/Ethernet/eMMC");
    b->emmcMode = 1;
    b->defaultOSName = QStringLiteral("debian-bookworm-core-arm64");
    add(b);

    b = rk("RK3568", "Alpha-R2", "alphar2", 0, "RK3568/2GB/Ethernet/eMMC");
    b->emmcMode = 1;
    b->defaultOSName = QStringLiteral("ubuntu-noble-desktop-arm64");
    add(b);
    add(variant(b, "Alpha-R2 (4GB)", 1, "RK3568/4GB/Ethernet/eMMC"));

    b = rk("RK3568", "Alpha-R2 Router", "alphar2router", 2, "RK3568/2GB/2xEthernet/eMMC");
    b->emmcMode = 1;
    b->ethPortCount = 2;
    b->ethPortSpeedMbps[1] = 2500;
    b->defaultOSName = QStringLiteral("lumaroute24");
    add(b);

    b = rk("RK3568", "Alpha-R2 Plus", "alphar2plus", 3, "RK3568/4GB/3xEthernet/eMMC");
    b->emmcMode = 1;
    b->ethPortCount = 3;
    b->ethPortSpeedMbps[1] = 2500;
    b->ethPortSpeedMbps[2] = 2500;
    b->defaultOSName = QStringLiteral("lumaroute24");
    add(b);
    add(variant(b, "Alpha-R2 Plus (8GB)", 4, "RK3568/8GB/3xEthernet/eMMC"));

    b = rk("RK3568", "Alpha-R2 Pro", "alphar2pro", 5, "RK3568/4GB/2xEthernet/eMMC/SATA/PCIe");
    b->emmcMode = 1;
    b->ethPortCount = 2;
    b->hasSATA = true;
    b->hasPCIe = true;
    b->defaultOSName = QStringLiteral("openmediavault-arm64");
    add(b);

    b = rk("RK3568", "Unknow3568", "other3568board", -1, "Unknow");
    add(b);
}

static void appendRK3576()
{
    BoardHardwareInfo *b;
    b = rk("RK3576", "Alpha-V5", "alphav5", 0, "RK3576/4GB/2xEthernet/eMMC");
    b->emmcMode = 1;
    b->ethPortCount = 2;
    b->hasPCIe = true;
    b->defaultOSName = QStringLiteral("ubuntu-noble-desktop-arm64");
    setRocknix(b, "corvanta-alpha-v5", "rk3576-corvanta-alpha-v5");
    add(b);

    b = rk("RK3576", "Alpha-V5 UFS", kRK3576UFSBoardKey, 1, "RK3576/8GB/2xEthernet/UFS");
    b->onboardIsUFS = true;
    b->ethPortCount = 2;
    b->hasPCIe = true;
    b->defaultOSName = QStringLiteral("debian-trixie-gnome-wayland-desktop-arm64");
    add(b);

    // No UFS connector on this model: its UFS controller node means nothing.
    b = rk("RK3576", "Alpha-V5 Lite", kRK3576NoUFSBoardKey, 2, "RK3576/4GB/Ethernet/eMMC");
    b->emmcMode = 1;
    b->defaultOSName = QStringLiteral("ubuntu-noble-core-arm64");
    add(b);
}

static void appendRK3588()
{
    BoardHardwareInfo *b;
    b = rk("RK3588", "Alpha-X9", "alphax9", 0, "RK3588/8GB/2xEthernet/eMMC");
    b->emmcMode = 1;
    b->ethPortCount = 2;
    b->ethPortSpeedMbps[0] = 2500;
    b->hasPCIe = true;
    b->defaultOSName = QStringLiteral("ubuntu-noble-desktop-arm64");
    b->maxCpuFreqMHz = 14800;
    add(b);
    add(variant(b, "Alpha-X9 (16GB)", 1, "RK3588/16GB/2xEthernet/eMMC"));

    b = rk("RK3588", "Alpha-X9 Plus", "alphax9plus", 2, "RK3588/16GB/2xEthernet/eMMC/M.2");
    b->emmcMode = 1;
    b->ethPortCount = 2;
    b->ethPortSpeedMbps[0] = 2500;
    b->ethPortSpeedMbps[1] = 2500;
    b->hasPCIe = true;
    b->defaultOSName = QStringLiteral("android14");
    setRocknix(b, "corvanta-alpha-x9plus", "rk3588-corvanta-alpha-x9plus");
    add(b);
    add(variant(b, "Alpha-X9 Plus (32GB)", 3, "RK3588/32GB/2xEthernet/eMMC/M.2"));

    b = rk("RK3588", "Alpha-X9S", "alphax9s", 4, "RK3588S/4GB/Ethernet/eMMC");
    b->emmcMode = 1;
    b->defaultOSName = QStringLiteral("lumabase-jammy");
    add(b);

    b = rk("RK3588", "Alpha-X9 Mini", "alphax9mini", 5, "RK3588S/4GB/WiFi");
    b->hasEthernet = false;
    b->ethPortCount = 0;
    b->emmcSelectable = true;
    b->hasWiFi = true;
    b->defaultOSName = QStringLiteral("ubuntu-noble-desktop-arm64");
    add(b);
    add(variant(b, "Alpha-X9 Mini (8GB)", 6, "RK3588S/8GB/WiFi"));

    b = rk("RK3588", "Alpha-X9 Max", "alphax9max", 7, "RK3588/32GB/3xEthernet/eMMC/SATA");
    b->emmcMode = 2;
    b->ethPortCount = 3;
    b->hasSATA = true;
    b->hasPCIe = true;
    b->defaultOSName = QStringLiteral("openmediavault-arm64");
    add(b);

    b = rk("RK3588", "Alpha-X9 Edge", "alphax9edge", 35, "RK3588/8GB/Ethernet/eMMC/WiFi");
    b->emmcMode = 1;
    b->hasWiFi = true;
    b->defaultOSName = QStringLiteral("ubuntu-noble-core-arm64");
    add(b);
    add(variant(b, "Alpha-X9 Edge (LPDDR5)", 36, "RK3588/16GB/Ethernet/eMMC/WiFi"));

    b = rk("RK3588", "Alpha-X9 Pro", "alphax9pro", 259, "RK3588/16GB/2xEthernet/eMMC/LCD");
    b->emmcMode = 1;
    b->ethPortCount = 2;
    b->hasLCD = true;
    b->defaultOSName = QStringLiteral("debian-trixie-gnome-wayland-desktop-arm64");
    add(b);

    b = rk("RK3588", "Unknow3588", "other3588board", -1, "Unknow");
    add(b);
}

void appendRockchipRows()
{
    appendRK3328();
    appendRK3399();
    appendRK35xxSmall();
    appendRK3576();
    appendRK3588();
}

} // namespace boardtable
