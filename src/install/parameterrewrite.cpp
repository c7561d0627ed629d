#include "install/parameterrewrite.h"

#include <QFile>
#include <QFileInfo>
#include <QStringList>

#include <limits>

#include "imageset/bootenv.h"
#include "util/log2file.h"
#include "util/util.h"

namespace {

const QString kMtdparts = QStringLiteral("mtdparts=");
// The system device holds no loader or parameter area, so its partitions
// start right after the 8 MiB that the Rockchip layout reserves for them
// (sectors of 512 bytes).
const QString kSystemBaseText = QStringLiteral("0x00004000");
constexpr qint64 kSystemBase = 0x4000;
const QString kSystemHead = QStringLiteral("CMDLINE: mtdparts=rk29xxnand:");

// Which rewrite failed; the number is the one the user reports to us.
enum ParseError { ErrNoOverlay = 1, ErrRootfs = 2, ErrUserdata = 3 };

QString parseErrorText(ParseError which)
{
    return QStringLiteral("An unknown error(%1) occurred while parsing the rockchip parameter file.")
        .arg(int(which), 3, 10, QLatin1Char('0'));
}

// A size text in 512-byte sectors; refuses "-", negative and overflowing
// values, which would make offsets run backwards or wrap.
bool parseSectors(const QString &text, qint64 *sectors)
{
    bool ok = false;
    const qint64 v = Util::hexStringToLongLong(text, &ok);
    if (!ok || v < 0)
        return false;
    *sectors = v;
    return true;
}

bool addSectors(qint64 a, qint64 b, qint64 *sum)
{
    if (b > std::numeric_limits<qint64>::max() - a)
        return false;
    *sum = a + b;
    return true;
}

// Splits "…mtdparts=<id>:<def>,<def>…" into the head before "mtdparts=",
// the MTD id and the partition definitions. The definitions are re-joined at
// colons first: a name such as "(userdata:grow)" holds one.
bool splitMtdparts(const QString &line, QString *head, QString *mtdId, QStringList *defs)
{
    const qsizetype at = line.indexOf(kMtdparts);
    if (at < 0)
        return false;
    QStringList pieces = line.mid(at + kMtdparts.size()).split(QLatin1Char(':'));
    if (pieces.size() < 2)
        return false;
    *head = line.left(at);
    *mtdId = pieces.takeFirst();
    *defs = pieces.join(QLatin1Char(':')).split(QLatin1Char(','));
    return true;
}

// The boot device's line when only the overlay file system is dropped:
// "data=" goes, userdata goes, and rootfs grows from its old offset. Empty
// when the line is malformed.
QString cmdLineWithoutUserdata(const QString &line)
{
    QString head, mtdId;
    QStringList defs;
    if (!splitMtdparts(line, &head, &mtdId, &defs))
        return QString();

    QStringList kept;
    qsizetype rootfsAt = -1;
    QString rootfsPlace;
    for (const QString &def : defs) {
        if (def.contains(QLatin1String("userdata")))
            continue;
        if (def.contains(QLatin1String("rootfs"))) {
            const QStringList sizeAt = def.split(QLatin1Char('@'));
            if (sizeAt.size() != 2)
                return QString();
            rootfsAt = kept.size();
            rootfsPlace = sizeAt.at(1);
        }
        kept << def;
    }
    // Only the last partition may grow: with a partition still behind it
    // (opt) a growing rootfs would run over that partition's data.
    if (rootfsAt >= 0 && rootfsAt == kept.size() - 1)
        kept[rootfsAt] = QLatin1String("-@") + rootfsPlace;
    return getNexellNewCmdLineRemovedUserData(head) + kMtdparts + mtdId + QLatin1Char(':')
        + kept.join(QLatin1Char(','));
}

// Size text of the definition named `name` (an exact "(name" or
// "(name:" match), empty when there is none.
QString sizeTextOf(const QString &line, const QString &name)
{
    QString head, mtdId;
    QStringList defs;
    if (!splitMtdparts(line, &head, &mtdId, &defs))
        return QString();
    for (const QString &raw : defs) {
        const QString def = raw.simplified();
        if (def.contains(QLatin1Char('(') + name + QLatin1Char(')'))
            || def.contains(QLatin1Char('(') + name + QLatin1Char(':'))) {
            const QStringList sizeAt = def.split(QLatin1Char('@'));
            return sizeAt.size() == 2 ? sizeAt.at(0) : QString();
        }
    }
    return QString();
}

// The system device's line: rootfs at kSystemBase, then userdata and opt
// as the set has them. Sets *error and returns "" when a size is unusable.
QString systemCmdLine(const QString &rootfsSize, const QString &userdataSize, bool hasOpt,
                      bool *overlayfsDisabled, QString *error)
{
    if (rootfsSize == QLatin1String("-"))
        *overlayfsDisabled = true;

    qint64 rootfs = 0, afterRootfs = 0;
    if (*overlayfsDisabled) {
        if (!hasOpt || rootfsSize == QLatin1String("-"))
            return kSystemHead + QLatin1String("-@") + kSystemBaseText + QLatin1String("(rootfs)");
        if (!parseSectors(rootfsSize, &rootfs) || !addSectors(kSystemBase, rootfs, &afterRootfs)) {
            *error = parseErrorText(ErrNoOverlay);
            return QString();
        }
        return kSystemHead
            + QStringLiteral("%1@%2(rootfs),-@%3(opt:grow)")
                  .arg(rootfsSize, kSystemBaseText, Util::int64ToHexString(afterRootfs));
    }

    if (!parseSectors(rootfsSize, &rootfs) || !addSectors(kSystemBase, rootfs, &afterRootfs)) {
        *error = parseErrorText(ErrRootfs);
        return QString();
    }
    if (!hasOpt || userdataSize == QLatin1String("-"))
        return kSystemHead
            + QStringLiteral("%1@%2(rootfs),-@%3(userdata:grow)")
                  .arg(rootfsSize, kSystemBaseText, Util::int64ToHexString(afterRootfs));

    qint64 userdata = 0, afterUserdata = 0;
    if (!parseSectors(userdataSize, &userdata) || !addSectors(afterRootfs, userdata, &afterUserdata)) {
        *error = parseErrorText(ErrUserdata);
        return QString();
    }
    return kSystemHead
        + QStringLiteral("%1@%2(rootfs),%4@%3(userdata),-@%5(opt:grow)")
              .arg(rootfsSize, kSystemBaseText, Util::int64ToHexString(afterRootfs), userdataSize,
                   Util::int64ToHexString(afterUserdata));
}

bool writeLine(QFile &out, const QString &line)
{
    const QByteArray bytes = line.toUtf8() + '\n';
    return out.write(bytes) == bytes.size();
}

} // namespace

bool needsRockchipParameterRewrite(int osType, const QString &partmapFileName, bool systemDeviceSet,
                                   bool overlayfsDisabled)
{
    // OSType numbers: 0 Android, 10 OpenHarmony, 15 RawImage.
    if (osType == 0 || osType == 10 || osType == 15)
        return false;
    if (QFileInfo(partmapFileName).fileName() != QLatin1String("parameter.txt"))
        return false;
    return systemDeviceSet || overlayfsDisabled;
}

ParameterRewriteResult rewriteRockchipParameter(const QString &sourceFile, const QString &tmpImagePath,
                                                bool overlayfsDisabled, bool systemDeviceSet)
{
    ParameterRewriteResult r;
    r.overlayfsDisabled = overlayfsDisabled;
    if (tmpImagePath.isEmpty()) {
        r.errorMessage = QStringLiteral("Fail to make tmp img path");
        return r;
    }
    const QString bootPath = tmpImagePath + QLatin1String("/parameter.txt");
    const QString sysPathOut = tmpImagePath + QLatin1String("/parameter-sys.txt");
    // Deleting the outputs must never delete the set's own file.
    const QString sourceCanon = QFileInfo(sourceFile).canonicalFilePath();
    if (!sourceCanon.isEmpty()
        && (sourceCanon == QFileInfo(bootPath).canonicalFilePath()
            || sourceCanon == QFileInfo(sysPathOut).canonicalFilePath())) {
        r.errorMessage = QStringLiteral("Fail to make tmp img path");
        return r;
    }
    QFile::remove(bootPath);
    QFile::remove(sysPathOut);

    QFile in(sourceFile);
    if (!in.open(QIODevice::ReadOnly | QIODevice::Text)) {
        r.errorMessage = QStringLiteral("Fail to open %1").arg(sourceFile);
        return r;
    }
    QFile bootOut(bootPath), sysOut(sysPathOut);
    if (!bootOut.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
        r.errorMessage = QStringLiteral("Fail to create and open %1").arg(bootPath);
        return r;
    }
    if (!sysOut.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
        r.errorMessage = QStringLiteral("Fail to create and open %1").arg(sysPathOut);
        return r;
    }

    bool found = false;
    while (!in.atEnd()) {
        const QString line = QString::fromUtf8(in.readLine()).simplified();
        QString bootLine = line, sysLine = line;
        if (line.startsWith(QLatin1String("CMDLINE:")) && line.contains(QLatin1String("mtdparts"))) {
            found = true;
            if (!systemDeviceSet) {
                bootLine = cmdLineWithoutUserdata(line);
                sysLine.clear();
                // An empty boot line would leave a map without partitions,
                // and the install would "succeed" without writing a layout.
                if (bootLine.isEmpty()) {
                    r.errorMessage = parseErrorText(ErrNoOverlay);
                    return r;
                }
            } else {
                QString rootfsSize, userdataSize;
                bool hasOpt = false;
                bootLine = getRKNewCmdLineResetTargetDevice(line, rootfsSize, userdataSize, hasOpt);
                if (bootLine.isEmpty()) {
                    r.errorMessage = parseErrorText(ErrRootfs);
                    return r;
                }
                // The reset above reports opt's size as userdata's when opt
                // comes later; the system line needs userdata's own size, or
                // opt would vanish (grown userdata) or userdata take opt's size.
                if (hasOpt) {
                    const QString own = sizeTextOf(line, QStringLiteral("userdata"));
                    if (!own.isEmpty())
                        userdataSize = own;
                }
                sysLine = systemCmdLine(rootfsSize, userdataSize, hasOpt, &r.overlayfsDisabled,
                                        &r.errorMessage);
                if (!r.errorMessage.isEmpty())
                    return r;
            }
            log2file("parameter rewrite: %s\n  boot  : %s\n  system: %s\n", qPrintable(line),
                     qPrintable(bootLine), qPrintable(sysLine));
        }
        if (!writeLine(bootOut, bootLine)) {
            r.errorMessage = QStringLiteral("Failed to write file %1.").arg(bootPath);
            return r;
        }
        if (!writeLine(sysOut, sysLine)) {
            r.errorMessage = QStringLiteral("Failed to write file %1.").arg(sysPathOut);
            return r;
        }
    }
    if (!found) {
        r.errorMessage = QStringLiteral("Not found mtdparts in parameter.txt");
        return r;
    }
    if (!bootOut.flush()) {
        r.errorMessage = QStringLiteral("Failed to write file %1.").arg(bootPath);
        return r;
    }
    if (!sysOut.flush()) {
        r.errorMessage = QStringLiteral("Failed to write file %1.").arg(sysPathOut);
        return r;
    }
    bootOut.close();
    sysOut.close();
    r.bootParameterFile = bootPath;
    if (systemDeviceSet)
        r.systemParameterFile = sysPathOut;
    return r;
}
