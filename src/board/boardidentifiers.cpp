// Identifiers of the running board's parts: eMMC CID and model, Bluetooth
// and WiFi MAC addresses.
#include <QDebug>
#include <QFile>
#include <QFileInfo>

#include <cstdio>
#include <mutex>

#include "board/boardhardwareinfo.h"
#include "util/util.h"
#include "util/qpaths.h"

static QString readRaw(const QString &path)
{
    QFile f(sysPath(path));
    if (!f.open(QIODevice::ReadOnly))
        return QString();
    return QString::fromUtf8(f.readAll());
}

QString BoardHardwareInfo::getEMMCID() const
{
    if (emmcMode == 0)
        return QString();
    const QString cpu = cpuName.toUpper();
    if (cpu.startsWith(QLatin1String("H"))) {
        if (Util::isKernelVersionAtLeast4())
            return readRaw(QStringLiteral("/sys/class/mmc_host/mmc1/mmc1:0001/cid")).simplified();
        return readRaw(QStringLiteral("/sys/devices/platform/sunxi-mmc.2/mmc_host/mmc2/mmc2:0001/cid")).simplified();
    }
    if (cpu.startsWith(QLatin1String("S5P")))
        return readRaw(QStringLiteral("/sys/class/mmc_host/mmc0/mmc0:0001/cid"));
    if (cpu.startsWith(QLatin1String("RK"))) {
        if (cpu == QLatin1String("RK3399"))
            return readRaw(QStringLiteral("/sys/devices/platform/fe330000.sdhci/mmc_host/mmc1/mmc1:0001/cid")).simplified();
        return readRaw(QStringLiteral("/sys/class/block/%1/device/cid").arg(getOnboardEMMCDevName())).simplified();
    }
    return QString();
}

namespace {
struct EMMCPart
{
    const char *partNumber;
    const char *productName;   // as the CID reports it
};

// Ascending part numbers: where two parts share a product name the first wins.
const EMMCPart kSamsungEMMCParts[] = {
    {"KLM4G1FEPD-B031", "4FPD3R"}, {"KLM4G1YEMD-B031", "4YMD3R"},
    {"KLM8G1GEME-B041", "8GME4R"}, {"KLM8G1GETF-B041", "8GTF4R"},
    {"KLM8G1WEMB-B031", "8WMB3R"}, {"KLM8G1WEPD-B031", "8WPD3R"},
    {"KLM8G1WEPT-B031", "8WPD3R"}, {"KLMAG1JENB-B041", "AJNB4R"},
    {"KLMAG1JETD-B041", "AJTD4R"}, {"KLMAG2WEMB-B031", "AWMB3R"},
    {"KLMAG2WEPD-B031", "AWPD3R"}, {"KLMBG2JENB-B041", "BJNB4R"},
    {"KLMBG2JETD-B041", "BJTD4R"}, {"KLMBG4WEBD-B031", "BWBD3R"},
    {"KLMCG4JENB-B041", "CJNB4R"}, {"KLMCG4JETD-B041", "CJT4R"},
    {"KLMDG8JENB-B041", "DJNB4R"},
};

std::mutex s_modelMutex;
bool s_modelKnown = false;
QString s_model;
} // namespace

static QString lookUpEMMCModel(const QString &emmcName)
{
    const QString name = readRaw(QStringLiteral("/sys/class/block/%1/device/name").arg(emmcName)).simplified();
    if (name.isEmpty())
        return QStringLiteral("Unknow");
    const QByteArray bytes = name.toLatin1();
    qDebug().nospace() << "emmckey: " << bytes.toHex().toUpper().constData();
    for (const EMMCPart &p : kSamsungEMMCParts) {
        if (bytes == p.productName)
            return QString::fromLatin1(p.partNumber);
    }
    return QStringLiteral("Unknow(%1)").arg(name);
}

QString BoardHardwareInfo::getEMMCModel() const
{
    // Workers and the GUI thread may ask at once; the part cannot change
    // while the process runs.
    std::lock_guard<std::mutex> lock(s_modelMutex);
    if (!s_modelKnown) {
        s_model = lookUpEMMCModel(getOnboardEMMCDevName());
        s_modelKnown = true;
    }
    return s_model;
}

void BoardHardwareInfo::resetEMMCModelCacheForTest()
{
    std::lock_guard<std::mutex> lock(s_modelMutex);
    s_modelKnown = false;
    s_model.clear();
}

QString BoardHardwareInfo::getBTMacAddress() const
{
    const QString cpu = cpuName.toUpper();
    if (cpu.startsWith(QLatin1String("H")))
        return readRaw(QStringLiteral("/tmp/bt_macaddress"));
    if (cpu.startsWith(QLatin1String("S5P")))
        return readRaw(QStringLiteral("/tmp/brcm_mac.txt"));
    if (cpu == QLatin1String("RK3399"))
        return readRaw(QStringLiteral("/sys/class/bluetooth/hci0/address"));
    return QString();
}

bool BoardHardwareInfo::isWiFiChipExist() const
{
    return QFileInfo(sysPath(QStringLiteral("/sys/class/net/") + wifiIfPrefix + QStringLiteral("0"))).isDir();
}

// The permanent address ethtool reports; empty when it reports none.
static QString permanentAddressByEthtool(const QString &ifName)
{
    // The interface name comes from the compiled-in table, never from media.
    const QByteArray cmd = "ethtool -P " + ifName.toLocal8Bit();
    FILE *p = popen(cmd.constData(), "r");
    if (!p)
        return QString();
    QByteArray out;
    char buf[1024];
    while (out.size() < 4096) {
        const size_t want = qMin<size_t>(1023, size_t(4096 - out.size()));
        const size_t n = fread(buf, 1, want, p);
        if (n == 0)
            break;
        out.append(buf, qsizetype(n));
    }
    if (pclose(p) == -1)
        qDebug() << "ethtool: pclose failed";
    const QByteArray prefix = "Permanent address: ";
    if (!out.startsWith(prefix))
        return QString();
    return QString::fromLocal8Bit(out.mid(prefix.size())).simplified();
}

QString BoardHardwareInfo::getWiFiMacAddress()
{
    if (!wifiMacCache.isEmpty())
        return wifiMacCache;
    const QString ifName = wifiIfPrefix + QStringLiteral("0");
    wifiMacCache = permanentAddressByEthtool(ifName);
    if (wifiMacCache.isEmpty()) {
        char buffer[49];
        if (Util::getMacAddress(ifName.toLocal8Bit().constData(), buffer, int(sizeof buffer)) == 0)
            wifiMacCache = QString::fromLatin1(buffer);
    }
    return wifiMacCache;
}
