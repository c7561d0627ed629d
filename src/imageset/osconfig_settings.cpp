// OSConfig: per-set settings ("info.conf", the ".conf" beside a raw image),
// board matching, the S5P kernel generation, the working directory under
// /tmp, automatic start, and the small free helpers.
#include "imageset/osconfig.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMap>

#include "board/boardhardwareinfo.h"
#include "imageset/imagesetsupport.h"
#include "startup/imgsmithconf.h"
#include "util/util.h"
#include "util/qpaths.h"

namespace {

constexpr qint64 kMaxConfBytes = 1 << 20;

// Reads the top-level keys of an INI file (before any section, or in
// "[General]", which is what an INI reader of the framework calls top level)
// as raw text. Values are taken verbatim after the first "=": a framework
// INI reader would turn a comma-separated value into a list and drop it when
// read as text, losing a "require-board" restriction.
QMap<QString, QString> readTopLevelKeys(const QString &path)
{
    QMap<QString, QString> keys;
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly | QIODevice::Text))
        return keys;
    // An info.conf is a few lines; a huge file on the medium must not
    // exhaust memory while the card is scanned.
    const QByteArray data = f.read(kMaxConfBytes);
    QString text = QString::fromUtf8(data);
    if (text.startsWith(QChar(0xFEFF)))
        text.remove(0, 1);
    bool topLevel = true;
    const QStringList lines = text.split(QLatin1Char('\n'));
    for (const QString &raw : lines) {
        const QString line = raw.trimmed();
        if (line.isEmpty() || line.startsWith(QLatin1Char(';')) || line.startsWith(QLatin1Char('#')))
            continue;
        if (line.startsWith(QLatin1Char('[')) && line.endsWith(QLatin1Char(']'))) {
            topLevel = line.compare(QLatin1String("[General]"), Qt::CaseInsensitive) == 0;
            continue;
        }
        const qsizetype eq = line.indexOf(QLatin1Char('='));
        if (!topLevel || eq <= 0)
            continue;
        keys.insert(line.left(eq).trimmed(), line.mid(eq + 1));   // a later line wins
    }
    return keys;
}

// Letters and digits only, lower case: "Alpha-R2" and "alpha r2" compare equal.
QString alnumLower(const QString &s)
{
    QString out;
    for (const QChar c : s) {
        if (c.isLetterOrNumber())
            out += c.toLower();
    }
    return out;
}

} // namespace

void OSConfig::reSetTitleFromConfFile(const QString &fileName)
{
    const QString path = sysPath(imagePath + QLatin1Char('/') + fileName);
    if (!QFileInfo(path).isFile())
        return;
    const QMap<QString, QString> keys = readTopLevelKeys(path);
    auto value = [&keys](const char *key) { return removeQuotes(keys.value(QLatin1String(key)).simplified()); };

    const QString t = value("title");
    if (!t.isEmpty())
        title = t;
    const QString i = value("icon");
    if (!i.isEmpty()) {
        icon = i.startsWith(QLatin1String(":/")) || i.startsWith(QLatin1Char('/'))
            ? i
            : imagePath + QLatin1Char('/') + i;
    }
    const QString v = value("version");
    if (!v.isEmpty())
        version = v;

    if (keys.contains(QStringLiteral("require-board"))) {
        requireBoards.clear();
        const QStringList parts = keys.value(QStringLiteral("require-board")).simplified()
                                      .split(QLatin1Char(','), Qt::SkipEmptyParts);
        for (const QString &part : parts) {
            const QString board = removeQuotes(part.trimmed());
            if (!board.isEmpty())
                requireBoards << board;
        }
    }

    if (keys.contains(QStringLiteral("disable-auto-idbloader"))) {
        const QString d = value("disable-auto-idbloader").toLower();
        if (d == QLatin1String("yes") || d == QLatin1String("1") || d == QLatin1String("true"))
            disableAutoIdbloader = true;
        else if (d == QLatin1String("no") || d == QLatin1String("0") || d == QLatin1String("false"))
            disableAutoIdbloader = false;
    }

    const QString b = value("bootargs-ext");
    if (!b.isEmpty())
        bootArgsExt = b;
}

bool OSConfig::isMatchBoard() const
{
    if (requireBoards.isEmpty())
        return true;
    const QString model = alnumLower(gCurrentBoardInfo ? gCurrentBoardInfo->boardName : QString());
    const QString cpu = getCPUNameUpper();
    for (const QString &r : requireBoards) {
        // An entry without letters or digits must not match a board whose
        // model name has none either (or no board record at all).
        const QString reduced = alnumLower(r);
        if (!reduced.isEmpty() && reduced == model)
            return true;
        if (cpu.isEmpty() || cpu.size() != r.size())
            continue;
        const QString upper = r.toUpper();
        if (!upper.startsWith(QLatin1String("RK"))) {
            if (cpu == upper)
                return true;
            continue;
        }
        // "RK35XX": every X is a wildcard digit.
        QString prefix = upper;
        prefix.remove(QLatin1Char('X'));
        if (cpu == prefix || cpu.startsWith(prefix))
            return true;
    }
    return false;
}

void OSConfig::reSetS5Pxx18KernelVersion()
{
    const QString cpu = requireBoards.isEmpty() ? getCPUNameUpper() : requireBoards.first().toUpper();
    if (cpu != QLatin1String("S5P4418") && cpu != QLatin1String("S5P6818"))
        return;
    // Sets for the 3.x kernel carry their own second-stage loader.
    s5pxx18KernelVersion = QFileInfo(sysPath(imagePath + QLatin1String("/2ndboot.bin"))).isFile() ? 3 : 4;
}

QString OSConfig::getTmpImagePath(bool create) const
{
    static const QString removed = QString::fromUtf8("-`~!@#$%^&*()_+=|:;<>,.?/{}'\"[]\\")
        + QChar(0x00E2) + QChar(0x20AC) + QChar(0x201D) + QChar(0x00C2) + QChar(0x00AB) + QChar(0x00BB);
    QString name;
    for (const QChar c : unSysPath(imagePath)) {
        if (!removed.contains(c))
            name += c;
    }
    // A path made only of removed characters ("/") would name /tmp itself,
    // which cleanTmpImagePath() would then delete.
    if (name.isEmpty())
        return QString();
    const QString path = sysPath(QStringLiteral("/tmp/") + name);
    QDir dir(path);
    if (!create)
        return dir.exists() ? path : QString();
    if (!dir.exists() && !QDir().mkpath(path))
        return QString();
    return QFileInfo(path).isDir() ? path : QString();
}

void OSConfig::cleanTmpImagePath() const
{
    const QString path = getTmpImagePath(false);
    if (!path.isEmpty() && QFileInfo::exists(path))
        Util::removeDir(path);
}

bool OSConfig::isAutoStart() const
{
    return isAutoStart(readAutoFlashingImagePathOrRawFile());
}

bool OSConfig::isAutoStart(const QString &autoPath) const
{
    const QString a = Util::removeDirRightSeparator(autoPath);
    if (a.isEmpty())
        return false;
    QString p = imagePath;
    if (osType == RawImage)
        p += QLatin1Char('/') + os_raw_img;
    // The configured path is named as the board names it; so is ours once
    // any simulation root is stripped.
    return unSysPath(a) == unSysPath(p.simplified());
}

QString getFileExtension(const QString &name)
{
    const QString base = name.mid(name.lastIndexOf(QLatin1Char('/')) + 1);
    const qsizetype dot = base.lastIndexOf(QLatin1Char('.'));
    return dot < 0 ? QString() : base.mid(dot + 1);
}

QString removeQuotes(const QString &text)
{
    if (text.startsWith(QLatin1Char('"')) && text.endsWith(QLatin1Char('"')))
        return text.size() <= 2 ? QString() : text.mid(1, text.size() - 2);
    return text;
}

bool isSupportTargetDeviceSetting(const OSConfig &os)
{
    return QFileInfo::exists(sysPath(os.imagePath + QLatin1String("/dtbo.img")))
        && os.os_partmap_txt == QLatin1String("parameter.txt")
        && os.osType != RawImage && os.osType != OpenHarmony && os.osType != Android;
}
