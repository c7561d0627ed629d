#include "imageset/bootenv.h"
#include "util/qpaths.h"

#include <QFile>
#include <QFileInfo>
#include <QTextStream>

#include <cstdio>

#include "imageset/imagesetsupport.h"
#include "imageset/osconfig.h"
#include "util/debugmode.h"
#include "util/log2file.h"

namespace {

QString quoted(const QString &s)
{
    return QLatin1Char('"') + s + QLatin1Char('"');
}

} // namespace

QString getNexellNewCmdLineRemovedUserData(const QString &cmdLine)
{
    QStringList kept;
    const QStringList parts = cmdLine.split(QLatin1Char(' '));
    for (const QString &part : parts) {
        const QString p = part.simplified();
        if (!p.startsWith(QLatin1String("data=")))
            kept << p;
    }
    return kept.join(QLatin1Char(' '));
}

void parseBootArgsExt(const QString &text, QMap<QString, QString> &args, QStringList &flags)
{
    args.clear();
    flags.clear();
    const QStringList tokens = text.split(QLatin1Char(' '), Qt::SkipEmptyParts);
    for (const QString &token : tokens) {
        QStringList kv = token.split(QLatin1Char('='));
        if (kv.size() >= 2) {
            const QString key = kv.takeFirst();
            args.insert(key, kv.join(QLatin1Char('=')));
        } else {
            flags << token;
        }
    }
}

QString getRKNewCmdLineResetTargetDevice(const QString &cmdLine, QString &rootfsSize,
                                         QString &userdataSize, bool &hasOpt)
{
    static const QString kMtdparts = QStringLiteral("mtdparts=");
    hasOpt = false;
    const qsizetype at = cmdLine.indexOf(kMtdparts);
    if (at < 0)
        return QString();

    QString out = getNexellNewCmdLineRemovedUserData(cmdLine.left(at)) + kMtdparts;
    QStringList pieces = cmdLine.mid(at + kMtdparts.size()).split(QLatin1Char(':'));
    if (pieces.size() < 2)
        return QString();
    out += pieces.takeFirst() + QLatin1Char(':');

    QStringList kept;
    const QStringList defs = pieces.join(QLatin1Char(':')).split(QLatin1Char(','));
    for (const QString &raw : defs) {
        const QString def = raw.simplified();
        const bool isOpt = def.contains(QLatin1String("opt"));
        if (isOpt)
            hasOpt = true;
        if (isOpt || def.contains(QLatin1String("userdata"))) {
            const QStringList sizeAt = def.split(QLatin1Char('@'));
            if (sizeAt.size() != 2)
                return QString();
            userdataSize = sizeAt.first();
        } else if (def.contains(QLatin1String("rootfs"))) {
            const QStringList sizeAt = def.split(QLatin1Char('@'));
            if (sizeAt.size() != 2)
                return QString();
            rootfsSize = sizeAt.first();
        } else {
            kept << def;
        }
    }
    return out + kept.join(QLatin1Char(','));
}

QString OSConfig::getEnvConf(bool removeDataArg) const
{
    if (os_env_conf.isEmpty())
        return QString();
    const QString source = sysPath(imagePath + QLatin1Char('/') + os_env_conf);
    if (!removeDataArg || osType == RawImage || osType == OpenHarmony || osType == Android)
        return source;

    const QString tmp = getTmpImagePath(true);
    if (tmp.isEmpty() || tmp == imagePath) {
        imageset::debugLine(QLatin1String("Fail to create tmpImgPath: imagePath=") + quoted(imagePath));
        return source;
    }
    const QString target = tmp + QLatin1Char('/') + os_env_conf;
    if (QFileInfo(target).isFile())
        QFile::remove(target);

    QFile in(source);
    if (!in.open(QIODevice::ReadOnly | QIODevice::Text)) {
        imageset::debugLine(QLatin1String("Fail to open ") + quoted(source));
        return source;
    }
    QFile out(target);
    if (!out.open(QIODevice::WriteOnly | QIODevice::Text)) {
        imageset::debugLine(QLatin1String("Fail to create and open ") + quoted(target));
        return source;
    }
    QTextStream reader(&in);
    QTextStream writer(&out);
    while (!reader.atEnd()) {
        const QString line = reader.readLine().simplified();
        if (line.startsWith(QLatin1String("bootargs"))) {
            const QString changed = getNexellNewCmdLineRemovedUserData(line);
            imageset::debugLine(QLatin1String(" old bootargs: ") + line);
            imageset::debugLine(QStringLiteral("   --->"));
            imageset::debugLine(QLatin1String(" new bootargs: ") + changed);
            writer << changed << '\n';
        } else {
            writer << line << '\n';
        }
    }
    writer.flush();
    // A short write (full /tmp) must not hand a truncated environment to
    // the environment writer: fall back to the set's own file.
    if (writer.status() != QTextStream::Ok || !out.flush() || out.error() != QFileDevice::NoError) {
        log2file("Fail to write %s\n", QFile::encodeName(target).constData());
        out.close();
        QFile::remove(target);
        return source;
    }
    out.close();
    imageset::debugLine(QLatin1String("Using new env conf: ") + quoted(target));
    return target;
}

void OSConfig::dumpBootArgsExt() const
{
    QMap<QString, QString> args;
    QStringList flags;
    parseBootArgsExt(bootArgsExt, args, flags);
    QString text = QStringLiteral("## OSConfig::dumpBootArgsExt()\n");
    for (auto it = args.cbegin(); it != args.cend(); ++it)
        text += it.key() + QLatin1Char(':') + it.value() + QLatin1Char('\n');
    for (const QString &flag : flags)
        text += flag + QLatin1Char('\n');
    text += QStringLiteral("##\n");
    const QByteArray bytes = text.toUtf8();
    fwrite(bytes.constData(), 1, static_cast<size_t>(bytes.size()), stdout);
    fflush(stdout);
}
