#include "uitestboard.h"

#include "board/boardhardwareinfo.h"
#include "startup/globals.h"
#include "util/paths.h"

#include <QDir>
#include <QProcess>
#include <QTemporaryDir>

#include <cstdlib>

namespace uitest {

namespace {
QTemporaryDir *gDir = nullptr;
}

QString root()
{
    return gDir->path() + QStringLiteral("/board");
}

bool sh(const QString &commandLine)
{
    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("ROOT"), root());
    p.setProcessEnvironment(env);
    p.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    p.start(QStringLiteral("/bin/bash"), {QStringLiteral("-c"), commandLine});
    return p.waitForFinished(120000) && p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
}

void setUpBoard(bool withUDisk)
{
    gDir = new QTemporaryDir;
    const QString src = QStringLiteral(IMGSMITH_SOURCE_DIR);
    if (!sh(QStringLiteral("%1/scripts/make-sim-board.sh --sets none \"$ROOT\" >/dev/null && "
                           "%1/tests/ui/make-scan-tree.sh %2 \"$ROOT\"")
                               .arg(src, withUDisk ? QString() : QStringLiteral("--no-udisk"))))
        qFatal("cannot build the simulated board");
    qputenv("IMGSMITH_ROOT", root().toLocal8Bit());
    qputenv("PATH", (src + QStringLiteral("/scripts/sim-tools:") + qEnvironmentVariable("PATH")).toLocal8Bit());
    imgsmith::resetSimRootCache();
    initBoardType();
    gCurrentBoardInfo = GetBoardType();
}

QStringList expectedScanOrder()
{
    return {QStringLiteral("/mnt/sdcard/ubuntu-noble-desktop-arm64"), QStringLiteral("/mnt/sdcard/a-ubuntu-jammy"),
            QStringLiteral("/mnt/sdcard/debian-bookworm"),         QStringLiteral("/mnt/sdcard/debian-bookworm/extra"),
            QStringLiteral("/mnt/sdcard/loose-with-map"),          QStringLiteral("/mnt/sdcard/loose/boot.img"),
            QStringLiteral("/mnt/sdcard/loose/rootfs.img"),        QStringLiteral("/mnt/sdcard/single/disk.raw")};
}

} // namespace uitest
