// Util: size and duration texts, small file operations, text helpers.
#include "util/util.h"

#include <QByteArray>
#include <QDebug>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSet>
#include <QTextStream>

#include "util/debugmode.h"

namespace {

QString sizeText(qint64 bytes, float step)
{
    static const char *const units[] = {"bytes", "KB", "MB", "GB", "TB"};
    static const int decimals[] = {0, 0, 0, 1, 2};
    const int last = int(sizeof(units) / sizeof(units[0])) - 1;
    float value = float(bytes);
    int unit = 0;
    while (value >= step && unit < last) {
        value /= step;
        ++unit;
    }
    return QString::number(double(value), 'f', decimals[unit]) + QLatin1Char(' ')
        + QLatin1String(units[unit]);
}

struct Dhms
{
    qint64 days, hours, minutes, seconds;
};

Dhms splitSeconds(qint64 total)
{
    if (total < 0)
        total = 0;
    Dhms d;
    d.days = total / 86400;
    d.hours = (total % 86400) / 3600;
    d.minutes = (total % 3600) / 60;
    d.seconds = total % 60;
    return d;
}

} // namespace

QString Util::size_human(qint64 bytes)
{
    return sizeText(bytes, 1024.0f);
}

QString Util::size_human1000(qint64 bytes)
{
    return sizeText(bytes, 1000.0f);
}

QString Util::seconds_to_DHMS(qint64 seconds)
{
    const Dhms d = splitSeconds(seconds);
    if (d.days == 0 && d.hours == 0)
        return QStringLiteral("%1分%2秒").arg(d.minutes).arg(d.seconds);
    if (d.days == 0)
        return QStringLiteral("%1时%2分%3秒").arg(d.hours).arg(d.minutes).arg(d.seconds);
    return QStringLiteral("%1天%2时%3分%4秒").arg(d.days).arg(d.hours).arg(d.minutes).arg(d.seconds);
}

QString Util::seconds_to_DHMS_US(qint64 seconds)
{
    const Dhms d = splitSeconds(seconds);
    if (d.days == 0 && d.hours == 0 && d.minutes == 0)
        return QStringLiteral("00:00:%1").arg(d.seconds);
    if (d.days == 0 && d.hours == 0)
        return QStringLiteral("%1m%2s").arg(d.minutes).arg(d.seconds);
    if (d.days == 0)
        return QStringLiteral("%1h%2m%3s").arg(d.hours).arg(d.minutes).arg(d.seconds);
    return QStringLiteral("%1d%2h%3m").arg(d.days).arg(d.hours).arg(d.minutes);
}

QString Util::seconds_to_DHMS_US2(qint64 seconds)
{
    const Dhms d = splitSeconds(seconds);
    if (d.days == 0)
        return QString::asprintf("%02lld:%02lld:%02lld", static_cast<long long>(d.hours),
                                 static_cast<long long>(d.minutes),
                                 static_cast<long long>(d.seconds));
    return QStringLiteral("%1d%2h%3m").arg(d.days).arg(d.hours).arg(d.minutes);
}

QString Util::readFile(const QString &path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly | QIODevice::Text)) {
        if (debugMode())
            qDebug() << "open file error: " << path;
        return QString();
    }
    return QString::fromUtf8(f.readAll());
}

bool Util::writeFile(const QString &path, const QString &text)
{
    // Opening with WriteOnly would create the file; sysfs attributes that do
    // not exist must stay absent, so existence is checked first.
    if (!QFileInfo::exists(path))
        return false;
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::ExistingOnly))
        return false;
    const QByteArray data = text.toUtf8();
    const bool ok = f.write(data) == data.size();
    f.close();
    return ok && f.error() == QFileDevice::NoError;
}

void Util::removeFile(const QString &path)
{
    if (QFileInfo::exists(path))
        QFile::remove(path);
}

bool Util::removeDir(const QString &path)
{
    return QDir(path).removeRecursively();
}

QString Util::removeDirRightSeparator(const QString &path)
{
    QString p = path;
    while (p.size() > 1 && (p.endsWith(QLatin1Char('/')) || p.endsWith(QLatin1Char('\\'))))
        p.chop(1);
    return p;
}

QStringList Util::removeSameItem(const QStringList &list)
{
    QStringList out;
    QSet<QString> seen;
    for (const QString &s : list) {
        if (!seen.contains(s)) {
            seen.insert(s);
            out << s;
        }
    }
    return out;
}

QStringList Util::getAllFileInPath(const QString &dir, const QString &ext)
{
    QDir d(dir);
    if (!d.exists())
        return QStringList();
    return d.entryList(QStringList() << QStringLiteral("*.%1").arg(ext), QDir::Files);
}

bool Util::searchStringInFile(const QString &path, const QString &text)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly | QIODevice::Text)) {
        if (debugMode())
            qDebug() << "Failed to open file" << path;
        return false;
    }
    return QString::fromUtf8(f.readAll()).contains(text);
}

QString Util::readFileAsHex(const QString &path, int count)
{
    if (path.isEmpty() || count <= 0)
        return QString();
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) {
        if (debugMode())
            qDebug() << "open file error: " << path;
        return QString();
    }
    return QString::fromLatin1(f.read(count).toHex());
}

bool Util::writeResourceToFile(const QString &resource, const QString &path)
{
    QFile in(resource);
    if (!in.open(QIODevice::ReadOnly)) {
        qDebug() << "Cannot open resource file:" << resource;
        return false;
    }
    QFile out(path);
    if (!out.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
        qDebug() << "Cannot open disk file:" << path;
        return false;
    }
    const QByteArray data = in.readAll();
    if (out.write(data) != data.size() || !out.flush()) {
        qDebug() << "Cannot write disk file:" << path;
        return false;
    }
    out.close();
    return out.error() == QFileDevice::NoError;
}

qint64 Util::hexStringToLongLong(const QString &text, bool *ok)
{
    QString s = text.trimmed();
    if (s.startsWith(QLatin1String("0x"), Qt::CaseInsensitive))
        s = s.mid(2);
    if (debugMode())
        qDebug() << "HEXString: " << s;
    return s.toLongLong(ok, 16);
}

QString Util::int64ToHexString(qint64 value)
{
    return QStringLiteral("0x")
        + QStringLiteral("%1").arg(static_cast<quint64>(value), 8, 16, QLatin1Char('0')).toUpper();
}

bool Util::isdigitstr(const QString &text)
{
    if (text.isEmpty())
        return false;
    for (const QChar c : text) {
        if (c < QLatin1Char('0') || c > QLatin1Char('9'))
            return false;
    }
    return true;
}

void Util::printCharacters(const QString &text)
{
    if (!debugMode())
        return;
    QString line;
    for (const QChar c : text)
        line += QStringLiteral("'%1'").arg(c);
    qDebug().noquote() << line;
}

bool Util::hasCommandFound(const QString &name)
{
    if (name.isEmpty())
        return false;
    const QString path = QString::fromLocal8Bit(qgetenv("PATH"));
    if (debugMode())
        qDebug() << "PATH: " << path;
    for (const QString &dir : path.split(QLatin1Char(':'), Qt::SkipEmptyParts)) {
        QFileInfo fi(dir + QLatin1Char('/') + name);
        if (fi.exists() && fi.isFile())
            return true;
    }
    return false;
}

bool Util::isEnableSingleCPUCore()
{
    return false;
}

QString Util::getCustomeMemTestSizeMB()
{
    return QStringLiteral("30M");
}
