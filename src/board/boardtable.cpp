// The compiled-in board table: shared builders, the Samsung/Nexell rows and
// the boards of other makers. Rockchip and Allwinner rows have their own files.
#include "board/boardtablerows.h"

namespace boardtable {

BoardHardwareInfo *fresh(const char *cpu, const char *vendor, const char *maker,
                         const char *hardwareKey)
{
    auto *b = new BoardHardwareInfo;
    b->cpuName = QString::fromLatin1(cpu);
    b->socVendor = QString::fromLatin1(vendor);
    b->isSupported = true;
    b->makerKey = QString::fromLatin1(maker);
    b->hasHDMI = true;
    b->cpuinfoHardware = QString::fromLatin1(hardwareKey);
    b->allwinnerBoardId = QStringLiteral("0");
    b->wifiIfPrefix = QStringLiteral("wlan");
    b->ethIfPrefix = QStringLiteral("eth");
    b->thermalZonePath = QStringLiteral("/sys/class/thermal/thermal_zone0/temp");
    return b;
}

void identify(BoardHardwareInfo *b, const char *name, const char *key, int revision,
              const char *summary)
{
    b->boardName = QString::fromLatin1(name);
    b->boardKey = QString::fromLatin1(key);
    b->boardRevision = revision;
    b->hardwareSummary = QString::fromLatin1(summary);
}

BoardHardwareInfo *variant(BoardHardwareInfo *source, const char *name, int revision,
                           const char *summary)
{
    BoardHardwareInfo *b = BoardHardwareInfo::newOne(source);
    b->boardName = QString::fromLatin1(name);
    b->boardRevision = revision;
    b->hardwareSummary = QString::fromLatin1(summary);
    return b;
}

void add(BoardHardwareInfo *b)
{
    gAllBoardHardwareInfo.append(b);
}

// --- Samsung / Nexell ------------------------------------------------------

static BoardHardwareInfo *samsung(const char *cpu, const char *hwKey, const char *name,
                                  const char *key, int revision, const char *summary)
{
    BoardHardwareInfo *b = fresh(cpu, "samsung", kOwnMakerKey, hwKey);
    identify(b, name, key, revision, summary);
    b->hasLCD = true;
    b->usbHostCount = 1;
    const QString c = b->cpuName;
    if (c == QLatin1String("S5P4418") || c == QLatin1String("S5P6818"))
        b->cpuUuidPath = QStringLiteral("/sys/devices/platform/cpu/uuid");
    return b;
}

void appendSamsungRows()
{
    BoardHardwareInfo *b;

    b = samsung("S5PV210", "corvanta-s5pv210", "Tern-210", "tern210", 1, "S5PV210/512M/LCD");
    b->thermalZonePath.clear();
    add(b);

    b = samsung("S5PC110", "corvanta-s5pc110", "Tern-110", "tern110", 1, "S5PC110/512M/LCD");
    b->thermalZonePath.clear();
    add(b);

    // S5P4418: revisions as the maker's kernel numbers its boards.
    const char *k4418 = "corvanta-s5p4418";
    b = samsung("S5P4418", k4418, "Tern-Q4", "ternq4", 0, "S5P4418/1GB/Ethernet/eMMC");
    b->emmcMode = 1;
    b->hasEthernet = true;
    b->ethPortCount = 1;
    b->ethPortSpeedMbps[0] = 1000;
    b->defaultOSName = QStringLiteral("ubuntu-focal-desktop-arm64");
    b->maxCpuFreqMHz = 1800;
    add(b);
    add(variant(b, "Tern-Q4 (2GB)", 1, "S5P4418/2GB/Ethernet/eMMC"));

    b = samsung("S5P4418", k4418, "Tern-Q4 Lite", "ternq4lite", 2, "S5P4418/512M/Ethernet");
    b->hasEthernet = true;
    b->ethPortCount = 1;
    b->emmcSelectable = true;
    b->defaultOSName = QStringLiteral("debian-bookworm-core-arm64");
    add(b);

    b = samsung("S5P4418", k4418, "Tern-Q4 Pro", "ternq4pro", 3, "S5P4418/1GB/Ethernet/eMMC/WiFi");
    b->emmcMode = 1;
    b->hasEthernet = true;
    b->hasWiFi = true;
    b->ethPortCount = 1;
    b->ethPortSpeedMbps[0] = 1000;
    b->defaultOSName = QStringLiteral("android7");
    add(b);
    add(variant(b, "Tern-Q4 Pro (2GB)", 4, "S5P4418/2GB/Ethernet/eMMC/WiFi"));

    b = samsung("S5P4418", k4418, "Tern-Q4 Ember", "ternq4ember", 5, "S5P4418/1GB/Ethernet/eMMC/LCD");
    b->emmcMode = 2;
    b->hasEthernet = true;
    b->ethPortCount = 1;
    b->defaultOSName = QStringLiteral("android7");
    add(b);

    b = samsung("S5P4418", k4418, "Tern-Q4 Mini", "ternq4mini", 7, "S5P4418/512M/eMMC");
    b->emmcMode = 1;
    b->defaultOSName = QStringLiteral("debian-bookworm-core-arm64");
    add(b);
    add(variant(b, "Tern-Q4 Mini (1GB)", 8, "S5P4418/1GB/eMMC"));

    b = samsung("S5P4418", k4418, "Tern-Q4 Plus", "ternq4plus", 9, "S5P4418/1GB/Ethernet/eMMC/WiFi/BT");
    b->emmcMode = 1;
    b->hasEthernet = true;
    b->hasWiFi = true;
    b->ethPortCount = 1;
    b->ethPortSpeedMbps[0] = 1000;
    b->defaultOSName = QStringLiteral("ubuntu-focal-desktop-arm64");
    add(b);
    add(variant(b, "Tern-Q4 Plus (2GB)", 10, "S5P4418/2GB/Ethernet/eMMC/WiFi/BT"));

    b = samsung("S5P4418", k4418, "Unknow4418", "other4418board", -1, "Unknow");
    add(b);

    const char *k6818 = "corvanta-s5p6818";
    b = samsung("S5P6818", k6818, "Tern-X8", "ternx8", 0, "S5P6818/1GB/Ethernet/eMMC");
    b->emmcMode = 1;
    b->hasEthernet = true;
    b->ethPortCount = 1;
    b->ethPortSpeedMbps[0] = 1000;
    b->defaultOSName = QStringLiteral("ubuntu-focal-desktop-arm64");
    b->maxCpuFreqMHz = 1800;
    add(b);
    add(variant(b, "Tern-X8 (2GB)", 1, "S5P6818/2GB/Ethernet/eMMC"));

    b = samsung("S5P6818", k6818, "Tern-X8 Pro", "ternx8pro", 2, "S5P6818/1GB/Ethernet/eMMC/WiFi");
    b->emmcMode = 1;
    b->hasEthernet = true;
    b->hasWiFi = true;
    b->ethPortCount = 1;
    b->ethPortSpeedMbps[0] = 1000;
    b->defaultOSName = QStringLiteral("android7");
    add(b);
    add(variant(b, "Tern-X8 Pro (2GB)", 3, "S5P6818/2GB/Ethernet/eMMC/WiFi"));

    b = samsung("S5P6818", k6818, "Tern-X8 Ember", "ternx8ember", 4, "S5P6818/2GB/Ethernet/eMMC/LCD");
    b->emmcMode = 2;
    b->hasEthernet = true;
    b->ethPortCount = 1;
    b->defaultOSName = QStringLiteral("android7");
    add(b);

    b = samsung("S5P6818", k6818, "Tern-X8 Mini", "ternx8mini", 5, "S5P6818/1GB/eMMC");
    b->emmcMode = 1;
    b->defaultOSName = QStringLiteral("debian-bookworm-core-arm64");
    add(b);

    b = samsung("S5P6818", k6818, "Unknow6818", "other6818board", -1, "Unknow");
    add(b);

    b = samsung("S3C2451", "corvanta-s3c2451", "Tern-51", "tern51", 0, "S3C2451/64M/LCD");
    b->thermalZonePath.clear();
    add(b);
    b = variant(b, "Tern-51 Plus", 1, "S3C2451/128M/LCD");
    b->boardKey = QStringLiteral("tern51plus");
    add(b);
}

// --- Boards of other makers ------------------------------------------------

void appendOtherRows()
{
    BoardHardwareInfo *b;

    // Revision codes as the firmware reports them, parsed as hexadecimal.
    b = fresh("BCM2835", "raspberry", "raspberrypi", "bcm2708");
    identify(b, "BCM2835 Board Type 1", "bcm2835type1", 0x0010, "BCM2835/512M/Ethernet");
    b->hasEthernet = true;
    b->ethPortCount = 1;
    b->usbHostCount = 4;
    b->defaultOSName = QStringLiteral("lubuntu");
    add(b);
    add(variant(b, "BCM2835 Board Type 2", 0x0013, "BCM2835/512M/Ethernet"));

    b = fresh("BCM2836", "raspberry", "raspberrypi", "bcm2709");
    identify(b, "BCM2836 Board", "bcm2836board", 10620993, "BCM2836/1GB/Ethernet");
    b->hasEthernet = true;
    b->ethPortCount = 1;
    b->usbHostCount = 4;
    b->defaultOSName = QStringLiteral("lubuntu");
    add(b);

    b = fresh("BCM2836", "raspberry", "raspberrypi", "bcm2709");
    identify(b, "BCM2836 Board (rev a01041)", "bcm2836board", 0xa01041, "BCM2836/1GB/Ethernet");
    b->hasEthernet = true;
    b->ethPortCount = 1;
    b->usbHostCount = 4;
    b->defaultOSName = QStringLiteral("lubuntu");
    add(b);

    b = fresh("BCM2837", "raspberry", "raspberrypi", "bcm2709");
    identify(b, "BCM2837 Board", "bcm2837board", 10625154, "BCM2837/1GB/Ethernet/WiFi");
    b->hasEthernet = true;
    b->hasWiFi = true;
    b->ethPortCount = 1;
    b->usbHostCount = 4;
    b->defaultOSName = QStringLiteral("lubuntu");
    add(b);

    b = fresh("S905", "amlogic", "amlogic", "Amlogic");
    identify(b, "S905 TV Box", "s905tvbox", 0, "S905/2GB/Ethernet/eMMC");
    b->emmcMode = 1;
    b->hasEthernet = true;
    b->ethPortCount = 1;
    add(b);

    // A virtual machine on an M2 host, used to try the installer on a desk.
    b = fresh("M2", "apple", "apple", "m2");
    identify(b, "M2 Virtual Machine", "m2vm", 0, "M2/VM");
    b->hasHDMI = false;
    b->ethIfPrefix = QStringLiteral("ens16");
    b->ethPortCount = 1;
    b->ethPortSpeedMbps[0] = 1000;
    b->thermalZonePath.clear();
    b->defaultOSName = QStringLiteral("ubuntu-noble-desktop-arm64");
    add(b);
}

} // namespace boardtable
