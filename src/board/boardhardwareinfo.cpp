#include "board/boardhardwareinfo.h"

#include <QFile>

#include <atomic>

#include "util/qpaths.h"

QList<BoardHardwareInfo *> gAllBoardHardwareInfo;
BoardHardwareInfo *gCurrentBoardInfo = nullptr;

namespace {
// The table owns its records for the whole process. Handing them back at exit
// (before the list itself goes, being defined after it) keeps them out of the
// leak checker's report, where they would hide a record we really lose.
struct BoardTableOwner
{
    ~BoardTableOwner()
    {
        qDeleteAll(gAllBoardHardwareInfo);
        gAllBoardHardwareInfo.clear();
        gCurrentBoardInfo = nullptr;
    }
} s_boardTableOwner;
} // namespace

const char *const kOwnMakerKey = "corvanta";

static std::atomic<int> s_newOneCount{0};

BoardHardwareInfo::BoardHardwareInfo()
    // Image-set matching tells "no ROCKNIX names" by emptiness, and a copy
    // must keep them empty rather than null.
    : RocknixSubDeviceName(QStringLiteral(""))
    , DTSFileName(QStringLiteral(""))
{
}

BoardHardwareInfo *BoardHardwareInfo::newOne(BoardHardwareInfo *source)
{
    auto *b = new BoardHardwareInfo;
    ++s_newOneCount;
    if (!source)
        return b;
    // Field by field in declaration order; the WiFi MAC cache belongs to the
    // running board and is never copied.
    b->cpuName = source->cpuName;
    b->socVendor = source->socVendor;
    b->isSupported = source->isSupported;
    b->boardName = source->boardName;
    b->RocknixSubDeviceName = source->RocknixSubDeviceName;
    b->DTSFileName = source->DTSFileName;
    b->boardKey = source->boardKey;
    b->makerKey = source->makerKey;
    b->hasHDMI = source->hasHDMI;
    b->emmcSelectable = source->emmcSelectable;
    b->hasLCD = source->hasLCD;
    b->hasEthernet = source->hasEthernet;
    b->emmcMode = source->emmcMode;
    b->lcdType = source->lcdType;
    b->onboardIsUFS = source->onboardIsUFS;
    b->storageInterface = source->storageInterface;
    b->usbHostCount = source->usbHostCount;
    b->hasWiFi = source->hasWiFi;
    b->hasBluetooth = source->hasBluetooth;
    b->hasAudio = source->hasAudio;
    b->hasMIPICamera = source->hasMIPICamera;
    b->hasGPIO = source->hasGPIO;
    b->gpioPinCount = source->gpioPinCount;
    b->hasRTC = source->hasRTC;
    b->defaultOSName = source->defaultOSName;
    b->hasPCIe = source->hasPCIe;
    b->hasSATA = source->hasSATA;
    b->cpuinfoHardware = source->cpuinfoHardware;
    b->boardRevision = source->boardRevision;
    b->allwinnerBoardId = source->allwinnerBoardId;
    b->hardwareSummary = source->hardwareSummary;
    b->hasFan = source->hasFan;
    b->wifiIfPrefix = source->wifiIfPrefix;
    b->ethIfPrefix = source->ethIfPrefix;
    b->thermalZonePath = source->thermalZonePath;
    b->thermalZonePath2 = source->thermalZonePath2;
    for (int i = 0; i < 3; ++i)
        b->ethPortSpeedMbps[i] = source->ethPortSpeedMbps[i];
    b->cpuUuidPath = source->cpuUuidPath;
    b->ethPortCount = source->ethPortCount;
    b->maxCpuFreqMHz = source->maxCpuFreqMHz;
    return b;
}

int BoardHardwareInfo::newOneCount()
{
    return s_newOneCount.load();
}

static QString readWholeFile(const QString &path)
{
    if (path.isEmpty())
        return QString();
    QFile f(sysPath(path));
    if (!f.open(QIODevice::ReadOnly))
        return QString();
    return QString::fromUtf8(f.readAll());
}

QString BoardHardwareInfo::getCPUSerialNum(const QString &path)
{
    QString serial;
    const QStringList lines = readWholeFile(path).split(QLatin1Char('\n'));
    for (const QString &line : lines) {
        const QStringList parts = line.split(QLatin1Char(':'));
        if (parts.size() < 2)
            continue;
        if (parts.at(0).simplified().toLower() == QLatin1String("serial"))
            serial = parts.at(1).simplified().toLower();
    }
    return serial;
}

QString BoardHardwareInfo::getCPUID() const
{
    const QString cpu = cpuName.toUpper();
    QString id;
    if (cpu.startsWith(QLatin1String("H")))
        id = getCPUSerialNum(QStringLiteral("/proc/cpuinfo"));
    else if (cpu.startsWith(QLatin1String("RK")))
        id = getCPUSerialNum(QStringLiteral("/sys/devices/platform/board/info"));
    else if (cpu.startsWith(QLatin1String("S5P")))
        id = readWholeFile(cpuUuidPath).remove(QLatin1Char(':'));
    return id.simplified();
}

bool BoardHardwareInfo::isRockchipCPU() const
{
    return cpuName.toUpper().startsWith(QLatin1String("RK"));
}
