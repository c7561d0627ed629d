#include "simulatedboard.h"

#include <QDir>
#include <QFile>

#include <cstdio>

using namespace testsupport;

SimulatedBoard::SimulatedBoard(const QString &options)
{
    const std::string error = makeBoard(options.toStdString());
    m_ok = error.empty();
    if (!m_ok)
        fprintf(stderr, "%s\n", error.c_str());
    setEnv("IMGSMITH_SIM_TOOLS_LOG", file("sim-tools.log"));
    prependPath(sourcePath("scripts/sim-tools"));
    identify();
}

QStringList SimulatedBoard::toolCalls() const
{
    QFile f(QString::fromStdString(file("sim-tools.log")));
    if (!f.open(QIODevice::ReadOnly))
        return {};
    return QString::fromUtf8(f.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
}

void SimulatedBoard::addUsbDrive(const QString &name, const QString &product, int mib) const
{
    const QString host = QStringLiteral("sys/devices/platform/fc800000.usb/usb1/1-%1").arg(name);
    const QString dev = host + QStringLiteral("/1-1:1.0/host0/target0:0:0/0:0:0:0/block/") + name;
    put(host + QStringLiteral("/product"), product.toUtf8() + '\n');
    put(host + QStringLiteral("/idProduct"), "0001\n");
    put(host + QStringLiteral("/idVendor"), "abcd\n");
    put(dev + QStringLiteral("/size"), QByteArray::number(qint64(mib) * 2048) + '\n');
    QDir().mkpath(path(QStringLiteral("sys/block")));
    QDir().mkpath(path(QStringLiteral("sys/class/block")));
    QFile::link(QStringLiteral("../devices/") + dev.mid(12), path(QStringLiteral("sys/block/") + name));
    QFile::link(QStringLiteral("../../devices/") + dev.mid(12), path(QStringLiteral("sys/class/block/") + name));
    put(QStringLiteral("dev/") + name, QByteArray());
    QFile parts(path(QStringLiteral("proc/partitions")));
    if (parts.open(QIODevice::Append))
        parts.write(QStringLiteral("   8        0 %1 %2\n").arg(qint64(mib) * 1024).arg(name).toUtf8());
}

bool SimulatedBoard::addScanTree(bool withUDisk) const
{
    return sh(sourceDir() + QStringLiteral("/tests/ui/make-scan-tree.sh ")
              + (withUDisk ? QString() : QStringLiteral("--no-udisk ")) + QStringLiteral("\"$ROOT\""));
}

bool SimulatedBoard::sh(const QString &commandLine) const
{
    const CmdResult r = run("ROOT=" + shq(root().toStdString()) + "; export ROOT; " + commandLine.toStdString());
    if (r.status != 0)
        fprintf(stderr, "%s: %s\n", qPrintable(commandLine), r.err.c_str());
    return r.status == 0;
}
