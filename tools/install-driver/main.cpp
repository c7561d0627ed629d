// imgsmith-install: the install job of imgsmith-gui without a screen, for
// headless boards and scripts. With IMGSMITH_ROOT set it installs onto a
// simulated board.
//
// Exit status: 0 done, 1 install failed, 2 usage error (also a set or device
// that does not exist or is not one), 3 plan shown but nothing written
// because a real device needs --yes.
#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <unistd.h>

#include "board/boardhardwareinfo.h"
#include "install/installevents.h"
#include "install/sdupdatethread.h"
#include "installplan.h"
#include "installprinter.h"
#include "listings.h"
#include "startup/cmdline.h"
#include "startup/globals.h"
#include "util/paths.h"
#include "util/qpaths.h"

namespace {

enum ExitStatus { kDone = 0, kFailed = 1, kUsage = 2, kNotConfirmed = 3 };

SDUpdateThread *g_job = nullptr;

void on_signal(int)
{
    // Only an atomic store: the job notices it between chunks.
    if (g_job)
        g_job->cancel();
}

// Board detection and the storage layer speak through qDebug(); like the
// screens, show that only in debug mode, warnings always.
void messagesToStderr(QtMsgType type, const QMessageLogContext &context, const QString &message)
{
    if ((type == QtDebugMsg || type == QtInfoMsg) && !debugMode())
        return;
    fprintf(stderr, "%s\n", qFormatLogMessage(type, context, message).toLocal8Bit().constData());
}

// The bytes of the command-line argument that Qt decoded to `decoded`, or
// "" when none is found.
QByteArray rawArgument(int argc, char **argv, const QString &decoded)
{
    for (int i = 1; i < argc; ++i) {
        if (QString::fromLocal8Bit(argv[i]) == decoded)
            return QByteArray(argv[i]);
    }
    return QByteArray();
}

// A set name that is not text in the locale's encoding (file-system bytes
// that are not UTF-8) cannot pass through QString unchanged. The set is
// reached through a link of a text name that keeps the set's suffix, in a
// private directory that is removed at exit; the link points at the bytes.
QString reachableSetPath(const QString &decoded, const QByteArray &raw, QTemporaryDir &linkDir)
{
    if (raw.isEmpty() || QString::fromLocal8Bit(raw).toLocal8Bit() == raw || !linkDir.isValid())
        return decoded;
    QString name = QFileInfo(QDir::cleanPath(decoded)).fileName();
    name.replace(QChar::ReplacementCharacter, QLatin1Char('_'));
    const std::string target = raw.startsWith('/') ? imgsmith::sysPath(raw.toStdString())
                                                   : QDir::currentPath().toStdString() + "/" + raw.toStdString();
    const QString link = linkDir.path() + QLatin1Char('/') + name;
    if (symlink(target.c_str(), QFile::encodeName(link).constData()) != 0)
        return decoded;
    return unSysPath(link);
}

int usageError(const QCommandLineParser &parser, const QString &message)
{
    fprintf(stderr, "imgsmith-install: %s\n\n%s", qPrintable(message), qPrintable(parser.helpText()));
    return kUsage;
}

// Our own lines go to the real standard output; the storage layer's
// diagnostics on standard output (GPT UUIDs, parser remarks) would mix with
// them, so they go to standard error in debug mode and are dropped otherwise
// (the log file keeps the trace).
FILE *takeStandardOutput()
{
    const int own = dup(STDOUT_FILENO);
    FILE *out = own >= 0 ? fdopen(own, "w") : nullptr;
    if (!out)
        return stdout;
    const int sink = debugMode() ? dup(STDERR_FILENO) : open("/dev/null", O_WRONLY | O_CLOEXEC);
    if (sink >= 0) {
        fflush(stdout);
        dup2(sink, STDOUT_FILENO);
        close(sink);
    }
    // Line by line even into a pipe or file, so a watcher sees every step.
    setvbuf(out, nullptr, _IOLBF, 0);
    return out;
}

} // namespace

int main(int argc, char **argv)
{
    queue_debug_env();
    qInstallMessageHandler(messagesToStderr);
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("imgsmith-install"));
    QCoreApplication::setApplicationVersion(getImgSmithVersion());
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Installs an image set (a directory with partmap.txt or parameter.txt, or a raw image file) onto the "
        "board's storage, as imgsmith-gui does. Devices are kernel names (mmcblk2, nvme0n1, sda); the system "
        "device defaults to the boot device, \"none\" leaves it out. A real device is written only with --yes; "
        "without it the plan is shown and the exit status is 3. With IMGSMITH_ROOT set, installs onto that "
        "simulated board.\n"
        "Exit status: 0 done, 1 install failed, 2 usage error, 3 not confirmed."));
    parser.addHelpOption();
    parser.addVersionOption();
    parser.addPositionalArgument(QStringLiteral("image-set"), QStringLiteral("image set directory or raw image file, e.g. /mnt/sdcard/debian"));
    parser.addPositionalArgument(QStringLiteral("boot-device"), QStringLiteral("kernel name of the boot device, e.g. mmcblk2"));
    parser.addPositionalArgument(QStringLiteral("system-device"), QStringLiteral("kernel name of the system device, or none (default: the boot device)"),
                                 QStringLiteral("[system-device]"));
    const QCommandLineOption yes({QStringLiteral("y"), QStringLiteral("yes")}, QStringLiteral("write a real device without asking"));
    const QCommandLineOption lowFormat(QStringLiteral("low-format"), QStringLiteral("erase every target device before writing"));
    const QCommandLineOption noOverlay(QStringLiteral("no-overlayfs"), QStringLiteral("install without the overlay file system"));
    const QCommandLineOption verify(QStringLiteral("verify"), QStringLiteral("read every image back after writing it; a difference fails the install"));
    const QCommandLineOption exclude(QStringLiteral("exclude"), QStringLiteral("do not write this image file (repeatable)"), QStringLiteral("file"));
    const QCommandLineOption quiet(QStringLiteral("quiet"), QStringLiteral("print only the plan and the result"));
    const QCommandLineOption cancelAt(QStringLiteral("cancel-at"), QStringLiteral("cancel when step N reaches P percent (tests)"), QStringLiteral("N:P"));
    const QCommandLineOption bufferSize(QStringLiteral("buffer-kib"), QStringLiteral("copy memory in KiB (default: 8 MiB on the small Allwinner SoCs, else 64 MiB)"), QStringLiteral("kib"));
    const QCommandLineOption listSets(QStringLiteral("list-sets"), QStringLiteral("list the image sets on the mounted media, and exit"));
    const QCommandLineOption listDevices(QStringLiteral("list-devices"), QStringLiteral("list the devices an install can write to, and exit"));
    parser.addOptions({yes, lowFormat, noOverlay, verify, exclude, quiet, cancelAt, bufferSize, listSets, listDevices});
    if (!parser.parse(app.arguments()))
        return usageError(parser, parser.errorText());
    if (parser.isSet(QStringLiteral("help")))
        parser.showHelp(kDone);
    if (parser.isSet(QStringLiteral("version")))
        parser.showVersion();
    const bool terminal = isatty(STDOUT_FILENO);
    FILE *out = takeStandardOutput();

    const QStringList args = parser.positionalArguments();
    if (parser.isSet(listSets) || parser.isSet(listDevices)) {
        if (!args.isEmpty())
            return usageError(parser, QStringLiteral("--list-sets and --list-devices take no arguments"));
        initBoardType();
        gCurrentBoardInfo = GetBoardType();
        if (parser.isSet(listSets))
            listImageSets(out);
        if (parser.isSet(listDevices))
            listTargetDevices(out);
        return kDone;
    }
    if (args.size() < 2 || args.size() > 3)
        return usageError(parser, args.isEmpty() ? QStringLiteral("no image set given")
                                  : args.size() == 1 ? QStringLiteral("no boot device given")
                                                     : QStringLiteral("too many arguments"));
    int cancelFile = 0, cancelPercent = 0;
    if (parser.isSet(cancelAt)) {
        const QStringList np = parser.value(cancelAt).split(QLatin1Char(':'));
        bool okFile = false, okPercent = false;
        if (np.size() == 2) {
            cancelFile = np[0].toInt(&okFile);
            cancelPercent = np[1].toInt(&okPercent);
        }
        if (!okFile || !okPercent)
            return usageError(parser, QStringLiteral("--cancel-at wants N:P, e.g. 3:20"));
    }

    initBoardType();
    gCurrentBoardInfo = GetBoardType();
    int copyBytes = copyBufferSizeForCpu(gCurrentBoardInfo->cpuName);
    if (parser.isSet(bufferSize)) {
        bool ok = false;
        const int kib = parser.value(bufferSize).toInt(&ok);
        if (!ok || kib < 64 || kib > 1024 * 1024)
            return usageError(parser, QStringLiteral("--buffer-kib wants 64 to 1048576"));
        copyBytes = kib * 1024;
    }
    setCopyBufferSize(copyBytes);

    InstallPlan plan;
    QString error;
    QTemporaryDir linkDir(sysPath(QStringLiteral("/tmp/imgsmith-install.XXXXXX")));
    const QString setPath = reachableSetPath(args[0], rawArgument(argc, argv, args[0]), linkDir);
    if (!plan.loadImageSet(setPath, error) || !plan.setDevices(args[1], args.value(2), error)) {
        fprintf(stderr, "imgsmith-install: %s\n", qPrintable(error));
        return kUsage;
    }
    const QStringList excluded = parser.values(exclude);
    plan.print(out, excluded, parser.isSet(lowFormat));
    if (qEnvironmentVariableIsEmpty("IMGSMITH_ROOT") && !parser.isSet(yes)) {
        fprintf(out, "Nothing was written: run again with --yes to write these devices.\n");
        return kNotConfirmed;
    }

    SDUpdateThread job(plan.config(), plan.bootDevice(), plan.systemDevice());
    job.setLowFormat(parser.isSet(lowFormat));
    job.setOverlayfsDisabled(parser.isSet(noOverlay));
    job.setVerifyAfterWrite(parser.isSet(verify));
    job.setExcludedFiles(excluded);
    InstallPrinter printer(out, terminal);
    printer.setQuiet(parser.isSet(quiet));
    printer.setExcludedFiles(excluded);
    printer.setHasSystemPartitions(plan.splitsSystemPartitions());
    if (parser.isSet(cancelAt)) {
        // In step with the copy, so the cancel lands at that point.
        job.setProgressObserver([&job, cancelFile, cancelPercent](int fileIndex, int pct) {
            if (fileIndex == cancelFile && pct >= cancelPercent && !job.isCancelled())
                job.cancel();
        });
    }
    job.setEventReceiver(&printer);
    QObject::connect(&job, &QThread::finished, &app, &QCoreApplication::quit, Qt::QueuedConnection);
    g_job = &job;
    signal(SIGINT, on_signal);
    signal(SIGTERM, on_signal);
    printer.start();
    job.start();
    app.exec();
    job.wait();
    QCoreApplication::sendPostedEvents(&printer);
    g_job = nullptr;
    setInstallEventReceiver(nullptr);
    if (printer.terminalEvents() != 1) {
        // Never let a job that did not say how it ended pass for a success.
        fprintf(out, "error: the install job ended with %d final reports instead of one\n", printer.terminalEvents());
        return kFailed;
    }
    if (printer.exitCode() != 0)
        return kFailed;
    for (const WrittenImage &w : job.writtenImages())
        if (!w.hash.isEmpty())
            fprintf(out, "  verified: %s (%s), %lld bytes, XXH3 %s\n", qPrintable(w.image), qPrintable(w.partition),
                    static_cast<long long>(w.bytes), qPrintable(w.hash));
    return kDone;
}
