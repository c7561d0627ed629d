// imgsmith-install: runs the install job on one image set without the user
// interface and prints its events. With IMGSMITH_ROOT set it installs onto a
// simulated board.
#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>

#include <csignal>
#include <cstdio>

#include "board/boardhardwareinfo.h"
#include "board/targetdevice.h"
#include "imageset/osconfig.h"
#include "install/installevents.h"
#include "install/sdupdatethread.h"
#include "installprinter.h"
#include "storage/mmc.h"
#include "util/qpaths.h"

namespace {

SDUpdateThread *g_job = nullptr;

void on_signal(int)
{
    // Only an atomic store: the job notices it between chunks.
    if (g_job)
        g_job->cancel();
}

TargetDevice device_from_name(const QString &name)
{
    if (name.isEmpty() || name == "null" || name == "none")
        return TargetDevice();
    int kind = TargetDeviceEMMC;
    if (name.startsWith("nvme"))
        kind = TargetDeviceNVMe;
    else if (name.startsWith("sd"))
        kind = TargetDeviceUSBDisk;
    return TargetDevice(kind, name);
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName("imgsmith-install");
    // Line by line even into a pipe or file, so a watcher sees every event.
    setvbuf(stdout, nullptr, _IOLBF, 0);
    QCommandLineParser parser;
    parser.setApplicationDescription(
        "Installs an image set (a directory with partmap.txt or parameter.txt, or one raw image file) "
        "onto the board's storage. Paths are those of the running system; set IMGSMITH_ROOT to use a "
        "simulated board.");
    parser.addHelpOption();
    parser.addPositionalArgument("image-set", "image set directory or raw image file, e.g. /mnt/sdcard/debian");
    parser.addPositionalArgument("boot-device", "kernel name of the boot device (default mmcblk2)");
    parser.addPositionalArgument("system-device", "kernel name of a separate system device (default none)");
    QCommandLineOption lowFormat("low-format", "erase every target device before writing");
    QCommandLineOption noOverlay("no-overlayfs", "install without the overlay file system");
    QCommandLineOption exclude("exclude", "do not write this image file (repeatable)", "file");
    QCommandLineOption quiet("quiet", "print only the result");
    QCommandLineOption cancelAt("cancel-at", "cancel when file N reaches P percent", "N:P");
    QCommandLineOption bufferSize("buffer-kib", "chunk size of the streamed copy in KiB", "kib");
    parser.addOptions({lowFormat, noOverlay, exclude, quiet, cancelAt, bufferSize});
    parser.process(app);

    const QStringList args = parser.positionalArguments();
    if (args.isEmpty() || args.size() > 3) {
        fprintf(stderr, "%s", qPrintable(parser.helpText()));
        return 2;
    }

    initBoardType();
    gCurrentBoardInfo = GetBoardType();
    if (parser.isSet(bufferSize))
        BUFFER_SIZE = parser.value(bufferSize).toInt() * 1024;

    QString setPath = QDir::cleanPath(args[0]);
    QFileInfo info(sysPath(setPath));
    if (!info.exists()) {
        fprintf(stderr, "imgsmith-install: %s not found\n", qPrintable(setPath));
        return 2;
    }
    OSConfig config;
    if (info.isDir()) {
        QStringList names = QDir(info.filePath()).entryList(QDir::Files, QDir::Name);
        config = OSConfig(setPath, names);
    } else {
        config = OSConfig(QFileInfo(setPath).path(), QFileInfo(setPath).fileName());
    }
    if (!config.isValid)
        fprintf(stderr, "imgsmith-install: warning: %s is not a valid image set for this board\n", qPrintable(setPath));

    TargetDevice boot = device_from_name(args.size() > 1 ? args[1] : QStringLiteral("mmcblk2"));
    TargetDevice system = device_from_name(args.size() > 2 ? args[2] : QString());
    fprintf(stdout, "Installing %s (%s) to %s\n", qPrintable(setPath), qPrintable(config.title),
            qPrintable(boot.getFullDevName()));

    SDUpdateThread job(config, boot, system);
    job.setLowFormat(parser.isSet(lowFormat));
    job.setOverlayfsDisabled(parser.isSet(noOverlay));
    job.setExcludedFiles(parser.values(exclude));
    InstallPrinter printer(&job);
    printer.setQuiet(parser.isSet(quiet));
    if (parser.isSet(cancelAt)) {
        QStringList np = parser.value(cancelAt).split(':');
        if (np.size() == 2) {
            const int file = np[0].toInt();
            const int percent = np[1].toInt();
            // In step with the copy, so the cancel lands at that point.
            job.setProgressObserver([&job, file, percent](int fileIndex, int pct) {
                if (fileIndex == file && pct >= percent && !job.isCancelled()) {
                    fprintf(stdout, "cancelling at %d%% of file %d\n", pct, fileIndex);
                    job.cancel();
                }
            });
        }
    }
    job.setEventReceiver(&printer);
    QObject::connect(&job, &QThread::finished, &app, &QCoreApplication::quit, Qt::QueuedConnection);
    g_job = &job;
    signal(SIGINT, on_signal);
    signal(SIGTERM, on_signal);
    job.start();
    app.exec();
    job.wait();
    QCoreApplication::sendPostedEvents(&printer);
    g_job = nullptr;
    setInstallEventReceiver(nullptr);
    if (printer.terminalEvents() != 1) {
        fprintf(stderr, "imgsmith-install: the job ended with %d terminal events\n", printer.terminalEvents());
        return 3;
    }
    return printer.exitCode();
}
