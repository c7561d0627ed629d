// build_dtbo_img: sources into a work directory, a generated script that
// compiles them with dtc and packs them with mkdtimg, the result copied out.
#include "dts/dtbo.h"

#include "util/log2file.h"
#include "util/qpaths.h"
#include "util/shellquote.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cstdlib>

namespace {

typedef bool (*VariantFn)(const QString &, const QString &, const QString &, const QString &,
                          const QMap<QString, QString> &, const QStringList &, bool);

// The directory that holds an executable `name`: a directory of PATH, else
// "/opt". Empty when there is none.
QString findToolDir(const QString &name)
{
    const QStringList dirs = QString::fromLocal8Bit(qgetenv("PATH")).split(u':', Qt::SkipEmptyParts);
    for (const QString &dir : dirs) {
        const QFileInfo fi(dir + "/" + name);
        if (fi.isFile() && fi.isExecutable())
            return dir;
    }
    const QString opt = sysPath(QStringLiteral("/opt"));
    const QFileInfo fi(opt + "/" + name);
    if (fi.isFile() && fi.isExecutable())
        return opt;
    return QString();
}

VariantFn chooseVariant(const QString &cpu, bool useMainDts)
{
    const QString soc = cpu.toLower();
    if (soc == "rk3328")
        return useMainDts ? gen_main_dts_rk3328 : gen_core_dts_rk3328;
    if (soc == "rk3399")
        return useMainDts ? gen_main_dts_rk3399 : gen_core_dts_rk3399;
    if (soc == "rk3576")
        return gen_core_dts_rk3576;
    if (soc == "rk3528" || soc == "rk3568" || soc == "rk3566" || soc == "rk3588")
        return gen_core_dts_rk35xx;
    return nullptr;
}

// The script runs with the caller's PATH; a tool found only in "/opt" needs
// that directory added. Every path is quoted: the output path lies in an
// image set directory named on removable media.
QString scriptText(const QString &workDir, const QString &outPath, bool withUfs,
                   const QStringList &extraPathDirs)
{
    QStringList l;
    l << "#!/bin/bash" << "";
    for (const QString &dir : extraPathDirs)
        l << "export PATH=\"$PATH\":" + shellQuote(dir);
    l << "(cd " + shellQuote(workDir) + " && {";
    l << "    rm -f dtbo.img ok.txt";
    l << "    dtc -a 16 -@ -O dtb -o temp-mmc0.dtbo dto-mmc0.dts && \\";
    l << "    dtc -a 16 -@ -O dtb -o temp-mmc1.dtbo dto-mmc1.dts && \\";
    if (withUfs) {
        l << "    dtc -a 16 -@ -O dtb -o temp-ufs.dtbo dto-ufs.dts && \\";
        l << "    mkdtimg create dtbo.img temp-mmc0.dtbo temp-mmc1.dtbo temp-ufs.dtbo && \\";
    } else {
        l << "    mkdtimg create dtbo.img temp-mmc0.dtbo temp-mmc1.dtbo && \\";
    }
    l << "    touch ok.txt";
    l << "    [ -f ok.txt ] && cp -f dtbo.img " + shellQuote(outPath);
    l << "})";
    return l.join(u'\n') + "\n";
}

bool writeScript(const QString &path, const QString &text)
{
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return false;
    const QByteArray bytes = text.toUtf8();
    const bool written = f.write(bytes) == bytes.size() && f.flush();
    f.close();
    return written && f.error() == QFileDevice::NoError;
}

// Whether `path` now holds exactly the image the script built. A file that
// merely exists could be an older image that cp failed to replace.
bool sameContent(const QString &built, const QString &path)
{
    QFile a(built), b(path);
    if (!QFileInfo(path).isFile() || !a.open(QIODevice::ReadOnly) || !b.open(QIODevice::ReadOnly))
        return false;
    return a.size() == b.size() && a.readAll() == b.readAll();
}

} // namespace

int build_dtbo_img(const QString &cpu, const QString &outPath, bool useMainDts,
                   const QString &rootDev, const QString &dataDev,
                   const QMap<QString, QString> &userArgsMap,
                   const QStringList &userArgsList, bool noDataArg)
{
    QStringList extraPathDirs;
    const QString opt = sysPath(QStringLiteral("/opt"));
    const char *const tools[] = {"dtc", "mkdtimg"};
    for (int i = 0; i < 2; i++) {
        const QString dir = findToolDir(tools[i]);
        if (dir.isEmpty()) {
            log2file("dtbo: Command not found: %s\n", tools[i]);
            return i == 0 ? DTBO_NO_DTC : DTBO_NO_MKDTIMG;
        }
        if (dir == opt && !extraPathDirs.contains(dir))
            extraPathDirs << dir;
    }

    QByteArray tmpl = (sysPath(QStringLiteral("/tmp")) + "/dtbo.XXXXXX").toLocal8Bit();
    if (!mkdtemp(tmpl.data())) {
        log2file("dtbo: Failed to mkdtemp: %s\n", tmpl.constData());
        return DTBO_NO_WORKDIR;
    }
    const QString workDir = QString::fromLocal8Bit(tmpl);

    const VariantFn variant = chooseVariant(cpu, useMainDts);
    if (!variant) {
        log2file("dtbo: Does not support CPU: %s\n", qPrintable(cpu));
        // Nothing was written into it yet; leave no empty directory behind.
        QDir().rmdir(workDir);
        return DTBO_UNSUPPORTED_CPU;
    }
    if (!variant(cpu, workDir, rootDev, dataDev, userArgsMap, userArgsList, noDataArg)) {
        log2file("dtbo: Failed to gen_core_dts\n");
        return DTBO_SOURCE_FAILED;
    }

    const QString okFile = workDir + "/ok.txt";
    QFile::remove(okFile);
    const QString out = sysPath(outPath);
    const QString script = workDir + "/rebuild-dtbo.sh";
    if (!writeScript(script, scriptText(workDir, out, variant == gen_core_dts_rk3576, extraPathDirs))) {
        log2file("dtbo: Failed to create temp script.\n");
        return DTBO_SCRIPT_FAILED;
    }
    const QString cmd = QString("chmod 755 %1; %2;").arg(shellQuote(script), shellQuote(script));
    // The exit status is not the verdict: only the marker the script leaves
    // after every step succeeded is.
    const int status = system(cmd.toLocal8Bit().constData());
    if (!QFileInfo::exists(okFile)) {
        log2file("dtbo: Failed to gen dtbo.img, unknow reason.\n");
        log2file("dtbo: rebuild script status %d\n", status);
        return DTBO_BUILD_FAILED;
    }
    if (!sameContent(workDir + "/dtbo.img", out)) {
        log2file("dtbo: Failed to gen dtbo.img, unknow reason.\n");
        return DTBO_NO_OUTPUT;
    }
    if (!QDir(workDir).removeRecursively())
        log2file("dtbo: Failed to remove tmpdir: %s\n", qPrintable(workDir));
    return DTBO_OK;
}
