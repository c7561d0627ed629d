// One board model of the compiled-in board table, and the identification of
// the running board.
#pragma once

#include <QList>
#include <QObject>
#include <QString>
#include <QStringList>

// Key of the boards this installer's maker builds; rows of other makers carry
// their own keys and are left out of the supported-board list.
extern const char *const kOwnMakerKey;           // "corvanta"
// boardKey of the one RK3576 model that has no UFS connector.
extern const char *const kRK3576NoUFSBoardKey;
// boardKey of the RK3576 model whose onboard storage is UFS.
extern const char *const kRK3576UFSBoardKey;

class BoardHardwareInfo : public QObject
{
    Q_OBJECT
public:
    BoardHardwareInfo();

    // A copy of every field of `source` except the WiFi MAC cache.
    static BoardHardwareInfo *newOne(BoardHardwareInfo *source);

    static QString getCPUSerialNum(const QString &path);
    QString getCPUID() const;
    bool isRockchipCPU() const;

    // Storage discovery. Device names come back as the running system names
    // them ("/dev/mmcblk2", "sda"); the readers resolve them through the
    // simulation root, callers that open a device do the same.

    // The onboard storage is UFS (onboardIsUFS, or storageInterface 1 or 2).
    bool isOnboardUFS() const;
    // The name the onboard eMMC has, whatever the storage kind: "mmcblk2" on
    // Rockchip with kernel 4.19 or newer (or an unreadable version), else "mmcblk1".
    QString getOnboardEMMCDevName() const;
    // "sda" for UFS, else the eMMC name.
    QString getOnboardFlashDevName() const;
    QString getOnboardFlashDevFullName() const;
    QString getOnboardFlashType() const;
    qint64 getOnboardFlashSize() const;          // KiB
    bool isExistEMMC() const;
    bool isExistUFS() const;
    QString getEMMCID() const;
    QString getUFSID() const;
    QString getEMMCModel() const;                // computed once per process

    QString getSDCardDevName() const;
    QString getSDCardFatPartitionFullName() const;
    QString getSDCardID() const;

    QString getUdiskDevName() const;
    QString getUdiskPartitionName() const;
    QStringList getAllSCSIDevNames(const QString &kind) const;
    QStringList getAllUdiskDevNames() const;
    QStringList getAllM2SataDevNames() const;
    QStringList getAllNVMEDevNames() const;
    bool isUFSDrive(const QString &name) const;
    bool isSataDrive(const QString &name) const;
    bool isPCIEDrive(const QString &name) const;
    bool isUSBDrive(const QString &name) const;
    qint64 getDiskSize(const QString &disk) const;                          // KiB
    qint64 getPartitionSize(const QString &disk, const QString &part) const; // KiB

    QString getBTMacAddress() const;
    bool isWiFiChipExist() const;
    QString getWiFiMacAddress();                 // fills wifiMacCache

    // "/sys/class/block/<name>" with every symbolic link followed, as the
    // running system names it (without the simulation root).
    static QString sysfsDevicePath(const QString &name);
    // Forgets the cached eMMC model (tests).
    static void resetEMMCModelCacheForTest();
    // How many records newOne() has made since the process started.
    static int newOneCount();

    // Fields in table order. "unread" fields are carried by the table but
    // nothing in the program reads them.
    QString cpuName;                 // SoC, upper case: "RK3588", "H3", "S5P6818"...
    QString socVendor;
    bool isSupported = false;        // unread
    QString boardName;
    QString RocknixSubDeviceName;    // empty unless the board has a ROCKNIX U-Boot
    QString DTSFileName;             // empty unless the board has a ROCKNIX U-Boot
    QString boardKey;
    QString makerKey;
    bool hasHDMI = false;            // unread
    bool emmcSelectable = false;
    bool hasLCD = false;             // unread
    bool hasEthernet = false;        // unread
    int emmcMode = 0;                // 0: no onboard eMMC; 1 or 2: has one
    int lcdType = 0;                 // unread
    bool onboardIsUFS = false;
    int storageInterface = 0;        // 1 and 2 would mean UFS; 0 in every row
    int usbHostCount = 0;            // unread
    bool hasWiFi = false;            // unread (first of the five-flag group)
    bool hasBluetooth = true;        // unread
    bool hasAudio = false;           // unread
    bool hasMIPICamera = true;       // unread
    bool hasGPIO = false;            // unread
    int gpioPinCount = 0;            // unread
    bool hasRTC = false;             // unread
    QString defaultOSName;
    bool hasPCIe = false;            // unread
    bool hasSATA = false;            // unread
    QString cpuinfoHardware;         // kernel's "Hardware" family key, compared case-insensitively
    int boardRevision = 0;           // "Revision" as hex; -1 marks a family's catch-all row
    QString allwinnerBoardId;        // "N(0)" on Allwinner H3/H5/H6 rows, "0" elsewhere
    QString hardwareSummary;
    bool hasFan = false;             // unread
    QString wifiIfPrefix;
    QString ethIfPrefix;
    QString thermalZonePath;         // unread
    QString thermalZonePath2;        // unread
    int ethPortSpeedMbps[3] = {100, 100, 100}; // unread
    QString cpuUuidPath;
    int ethPortCount = 0;
    int maxCpuFreqMHz = 0;           // unread
    QString wifiMacCache;            // filled lazily by storage discovery
};

extern QList<BoardHardwareInfo *> gAllBoardHardwareInfo;
extern BoardHardwareInfo *gCurrentBoardInfo;

void initBoardType();
BoardHardwareInfo *GetBoardType();
void dumpSupportedBoards();

// The two board models whose generated configuration file ends early; names
// compared upper-case.
bool isShortConfBoard(const QString &boardName);

// Deletes the table, clears gCurrentBoardInfo and the eMMC model cache, so a
// test can build and identify again.
void resetBoardStateForTest();
