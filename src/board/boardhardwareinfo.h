// One board model of the compiled-in board table, and the identification of
// the running board.
#pragma once

#include <QList>
#include <QObject>
#include <QString>

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
