#include "startup/cmdline.h"

#include "startup/globals.h"
#include "storage/mmc.h"
#include "util/log2file.h"
#include "util/qpaths.h"

#include <QDebug>
#include <QDir>
#include <QFileInfo>

namespace {

bool isOption(const QString &arg, const char *shortName, const char *longName)
{
    return (shortName && arg == QLatin1String(shortName)) || arg == QLatin1String(longName);
}

// The debug channel quotes a QString argument; messages keep that form so
// that a path with blanks stays readable.
int rejectWith(const char *text)
{
    qDebug() << text;
    return kExitUsageError;
}

int rejectWith(const char *text, const QString &arg)
{
    qDebug() << text << arg;
    return kExitUsageError;
}

int rejectWith(const char *text, const QString &arg, const char *tail)
{
    qDebug() << text << arg << tail;
    return kExitUsageError;
}

// Scans from the last argument down; -g ends the scan, so options before it
// are left to the later passes.
int preScan(QStringList &args, CommandLineRequest &request, const QString &onboardFlashType,
            void (*listBoards)())
{
    for (int i = args.size() - 1; i >= 1; --i) {
        const QString a = args.at(i);
        if (isOption(a, "-h", "--help")) {
            printUsage(onboardFlashType);
            return kExitOk;
        }
        if (isOption(a, "-g", "--gui")) {
            args.removeAt(i);
            break;
        }
        if (isOption(a, "-l", "--list-devices")) {
            if (listBoards)
                listBoards();
            return kExitOk;
        }
        if (isOption(a, "-v", "--version")) {
            printVersion();
            return kExitOk;
        }
        if (isOption(a, nullptr, "--low-format")) {
            args.removeAt(i);
            isNeedLowFormat = true;
        } else if (isOption(a, nullptr, "--auto-exit")) {
            args.removeAt(i);
            request.autoExit = true;
            request.installConfNeeded = true;
        } else if (isOption(a, nullptr, "--disable-overlayfs")) {
            args.removeAt(i);
            isOverlayfsDisabled = true;
        }
    }
    return kContinueStartup;
}

// The generated configuration resolves a relative autoStart against the
// media mount points, not the current directory, so the path is stored the
// way the running system names it.
QString absoluteSystemPath(const QString &path)
{
    if (QDir::isAbsolutePath(path))
        return path;
    return unSysPath(QDir::cleanPath(QDir::current().absoluteFilePath(path)));
}

int installPass(QStringList &args, CommandLineRequest &request)
{
    for (int i = 1; i < args.size(); ++i) {
        if (!isOption(args.at(i), "-i", "--install"))
            continue;
        if (i + 1 >= args.size())
            return rejectWith("Error: missing args, please specify the path where the img files is located.");
        const QString path = args.at(i + 1);
        const QFileInfo fi(sysPath(path));
        if (!fi.exists())
            return rejectWith("Error: not found: ", path);
        if (!fi.isDir() && !fi.isFile())
            return rejectWith("Error: not a directory or file: ", path);
        request.installPath = absoluteSystemPath(path);
        request.installConfNeeded = true;
        args.removeAt(i + 1);
        args.removeAt(i);
        break;
    }
    return kContinueStartup;
}

QString withoutTrailingSeparators(QString path)
{
    while (path.size() > 1 && (path.endsWith(QLatin1Char('/')) || path.endsWith(QLatin1Char('\\'))))
        path.chop(1);
    return path;
}

int excludeFiles(const QString &list, const QString &installPath)
{
    const QString base = withoutTrailingSeparators(installPath);
    const QStringList parts = list.split(QLatin1Char(','));
    for (const QString &raw : parts) {
        const QString part = raw.simplified();
        if (part.isEmpty())
            continue;
        const bool absolute = part.startsWith(QLatin1Char('/')) || part.startsWith(QLatin1Char('\\'));
        if (absolute && !part.startsWith(base))
            return rejectWith("Error: the file to be excluded must be in ", installPath, ".");
        const QString path = absolute ? part : base + QLatin1Char('/') + part;
        const QString name = QFileInfo(path).fileName();
        if (name == QLatin1String(".") || name == QLatin1String(".."))
            continue;
        // Only the bare name is kept, so a file of a sibling directory that
        // merely shares the prefix, or one reached through "..", would
        // silently exclude a same-named file of the image set.
        if (!QDir::cleanPath(path).startsWith(base + QLatin1Char('/')))
            return rejectWith("Error: the file to be excluded must be in ", installPath, ".");
        const QFileInfo fi(sysPath(path));
        if (fi.isDir())
            return rejectWith("Error: file only, but it is a directory: ", path, ".");
        if (!fi.exists())
            return rejectWith("Error: file not found: ", path, ".");
        excludeFilesList << name;
    }
    return kContinueStartup;
}

int remainingPass(QStringList &args, const CommandLineRequest &request)
{
    while (args.size() > 1) {
        const QString a = args.at(1);
        if (isOption(a, "-c", "--conf")) {
            if (args.size() < 3)
                return rejectWith("Error: missing args, please specify config filename.");
            const QString name = args.at(2);
            if (!QFileInfo::exists(sysPath(name)))
                return rejectWith("Error: file not found: ", name);
            imgsmithConfFileName = name;
        } else if (isOption(a, "-e", "--exclude")) {
            if (args.size() < 3)
                return rejectWith("Error: missing args, you need to specify the files to exclude.");
            if (request.installPath.isEmpty())
                return rejectWith("Error: you did not specify the --install parameter.");
            const int rc = excludeFiles(args.at(2), request.installPath);
            if (rc != kContinueStartup)
                return rc;
        } else {
            return rejectWith("Error: unknow args: ", a);
        }
        args.removeAt(2);
        args.removeAt(1);
    }
    return kContinueStartup;
}

void reportDebugSwitch(const char *name)
{
    bool ok = false;
    const int value = qEnvironmentVariable(name).toInt(&ok, 10);
    if (!ok || value < 1)
        return;
    isDebugMode = true;
    qDebug() << "# DebugMode(ImgSmith): On";
    if (value != 1) {
        gLCD4USBDebug = 1;
        qDebug() << "# DebugMode(LCD4USB): On";
    }
}

} // namespace

void queue_debug_env()
{
    reportDebugSwitch("debug_imgsmith");
    reportDebugSwitch("imgsmith_debug");
}

void printUsage(const QString &onboardFlashType)
{
    qDebug() << "-------------------------------------------------------";
    qDebug() << "USAGE: imgsmith [-i, --install <arg>]";
    qDebug() << "";
    qDebug() << "OPTIONAL:";
    qDebug() << QStringLiteral("-i, --install <path>:  Install OS to %1 without UI operation").arg(onboardFlashType);
    qDebug() << "-e, --exclude <files>: Ignore certain files, multiple files separated by commas";
    qDebug() << "--low-format:          Low format the flash before burning";
    qDebug() << "--auto-exit:           Automatically exit imgsmiht after burning or restoring";
    qDebug() << "--disable-overlayfs:   Disable overlay filesystem";
    qDebug() << "-c, --conf <arg>:      Set imgsmith configuration file";
    qDebug() << "-l, --list-devices:    List the supported board models";
    qDebug() << "-v, --version:         Output version information";
    qDebug() << "-h, --help:            Show this usage";
    qDebug() << "-g, --gui:             Start imgsmith gui";
    qDebug() << "";
}

void printVersion()
{
    qDebug() << completeVersion;
}

int runArgumentPasses(QStringList &args, CommandLineRequest &request,
                      const QString &onboardFlashType, void (*listBoards)())
{
    int rc = preScan(args, request, onboardFlashType, listBoards);
    if (rc != kContinueStartup)
        return rc;
    // The install pass runs before the remaining options so that -e may
    // stand before -i on the command line.
    rc = installPass(args, request);
    if (rc != kContinueStartup)
        return rc;
    return remainingPass(args, request);
}

int copyBufferSizeForCpu(const QString &cpuName)
{
    const QString cpu = cpuName.toUpper();
    if (cpu == QLatin1String("H3") || cpu == QLatin1String("A64") || cpu == QLatin1String("H5")
        || cpu == QLatin1String("H6"))
        return 0x800000;
    return 0x4000000;
}

void setCopyBufferSize(int bytes)
{
    BUFFER_SIZE = bytes;
    log2file("copy buffer size: %d bytes\n", BUFFER_SIZE);
}
