#include "simulatedboard.h"

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
    return QString::fromStdString(readFile(file("sim-tools.log"))).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
}

void SimulatedBoard::addUsbDrive(const QString &name, const QString &product, int mib) const
{
    const std::string host = "sys/devices/platform/fc800000.usb/usb1/1-" + name.toStdString();
    blockDevice(name.toStdString(), uint64_t(mib) << 20, host.substr(12) + "/1-1:1.0/host0/target0:0:0/0:0:0:0/block");
    SimRoot::put(host + "/product", product.toStdString() + "\n");
    SimRoot::put(host + "/idProduct", "0001\n");
    SimRoot::put(host + "/idVendor", "abcd\n");
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
