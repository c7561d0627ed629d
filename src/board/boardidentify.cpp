// Building the board table and identifying the running board from the
// kernel's description of the machine.
#include <QDebug>
#include <QFile>
#include <QMap>
#include <QSet>
#include <QStringList>

#include "board/allwinnerboardid.h"
#include "board/boardhardwareinfo.h"
#include "board/boardtablerows.h"
#include "util/qpaths.h"

void initBoardType()
{
    boardtable::appendSamsungRows();
    boardtable::appendRockchipRows();
    boardtable::appendAllwinnerRows();
    boardtable::appendOtherRows();
}

// Both unknown records live for the process and are rewritten on each use, so
// a pointer handed out earlier stays valid.
static BoardHardwareInfo *unknownRecord(BoardHardwareInfo *&slot, const QString &name)
{
    if (!slot)
        slot = new BoardHardwareInfo;
    BoardHardwareInfo *b = slot;
    b->cpuName = QStringLiteral("Unknow");
    b->socVendor = QStringLiteral("Unknow");
    b->isSupported = false;
    b->boardName = name;
    b->boardKey = name;
    b->makerKey = QStringLiteral("unknow");
    b->hasHDMI = false;
    b->emmcSelectable = false;
    b->hasLCD = false;
    b->hasEthernet = false;
    b->emmcMode = 0;
    b->lcdType = 0;
    b->onboardIsUFS = false;
    b->storageInterface = 0;
    b->usbHostCount = 0;
    b->hasWiFi = false;
    b->hasPCIe = false;
    b->hasSATA = false;
    b->ethPortCount = 0;
    b->maxCpuFreqMHz = 0;
    return b;
}

static BoardHardwareInfo *s_unknownWithHardware = nullptr;
static BoardHardwareInfo *s_plainUnknown = nullptr;

static BoardHardwareInfo *findRow(const QString &hardware, qint64 revision)
{
    for (BoardHardwareInfo *b : std::as_const(gAllBoardHardwareInfo)) {
        if (b->cpuinfoHardware.toLower() == hardware && b->boardRevision == revision)
            return b;
    }
    return nullptr;
}

BoardHardwareInfo *GetBoardType()
{
    // The maker's kernels describe the board in board/info; when that file
    // exists cpuinfo describes only the CPU and is not consulted.
    QString source = QStringLiteral("/proc/cpuinfo");
    if (QFile::exists(sysPath(QStringLiteral("/sys/devices/platform/board/info"))))
        source = QStringLiteral("/sys/devices/platform/board/info");

    QByteArray content;
    QFile f(sysPath(source));
    if (f.open(QIODevice::ReadOnly))
        content = f.readAll();
    const QStringList lines = QString::fromUtf8(content).split(QLatin1Char('\n'));

    QString hardware;
    QString revision;
    for (const QString &line : lines) {
        const QStringList parts = line.split(QLatin1Char(':'));
        if (parts.size() < 2)
            continue;
        const QString key = parts.at(0).simplified().toLower();
        const QString value = parts.at(1).simplified().toLower();
        if (key == QLatin1String("hardware"))
            hardware = value;
        else if (key == QLatin1String("revision"))
            revision = value;
    }
    if (revision.isEmpty()) {
        for (const QString &line : lines) {
            const QStringList parts = line.split(QLatin1Char(':'));
            if (parts.size() >= 2 && parts.at(0).simplified().toLower() == QLatin1String("cpu revision"))
                revision = parts.at(1).simplified().toLower();
        }
    }

    if (hardware == QLatin1String("sun50iw1p1")) {
        for (BoardHardwareInfo *b : std::as_const(gAllBoardHardwareInfo)) {
            if (b->cpuinfoHardware.toLower() == hardware)
                return b;
        }
    }

    bool ok = false;
    const uint rev = revision.toUInt(&ok, 16);
    if (hardware.isEmpty() || revision.isEmpty() || !ok)
        return unknownRecord(s_plainUnknown, QStringLiteral("unknow"));

    if (hardware == QLatin1String("sun8i") || hardware == QLatin1String("allwinnersun8ifamily")
        || hardware == QLatin1String("sun50iw2") || hardware == QLatin1String("allwinnersun50iw2family")) {
        const QString id = readAllwinnerBoardID();
        for (BoardHardwareInfo *b : std::as_const(gAllBoardHardwareInfo)) {
            if (b->cpuinfoHardware.toLower() == hardware && b->allwinnerBoardId == id)
                return b;
        }
    }
    // Compared as 64-bit so that a revision of 0xffffffff cannot pose as the
    // catch-all's -1.
    if (BoardHardwareInfo *b = findRow(hardware, qint64(rev)))
        return b;
    if (BoardHardwareInfo *b = findRow(hardware, -1))
        return b;
    return unknownRecord(s_unknownWithHardware, hardware);
}

void dumpSupportedBoards()
{
    QSet<QString> seen;
    QMap<QString, QStringList> byCpu;
    for (const BoardHardwareInfo *b : std::as_const(gAllBoardHardwareInfo)) {
        if (b->makerKey.toLower() != QLatin1String(kOwnMakerKey))
            continue;
        if (b->boardName.toLower().startsWith(QLatin1String("unknow")))
            continue;
        if (seen.contains(b->boardName))
            continue;
        seen.insert(b->boardName);
        byCpu[b->cpuName].append(b->boardName);
    }
    // One record per text, each in double quotes; tabs stay real tabs.
    const auto print = [](const QString &text) {
        qDebug().noquote() << QLatin1Char('"') + text + QLatin1Char('"');
    };
    print(QStringLiteral("{{ Currently supported boards:"));
    for (auto it = byCpu.constBegin(); it != byCpu.constEnd(); ++it) {
        print(QStringLiteral("==== %1").arg(it.key()));
        for (const QString &name : it.value())
            print(QStringLiteral("\t%1").arg(name));
    }
    print(QStringLiteral("}}"));
}

bool isShortConfBoard(const QString &boardName)
{
    // Headless router boards: their configuration has no screen settings.
    const QString upper = boardName.toUpper();
    return upper == QLatin1String("ALPHA-N1") || upper == QLatin1String("ALPHA-N2");
}

void resetBoardStateForTest()
{
    qDeleteAll(gAllBoardHardwareInfo);
    gAllBoardHardwareInfo.clear();
    gCurrentBoardInfo = nullptr;
    BoardHardwareInfo::resetEMMCModelCacheForTest();
}
