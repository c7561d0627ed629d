#include "frontend/rockchipvendorstorage.h"

#include <QDebug>

#include <cstring>

#include "board/boardhardwareinfo.h"
#include "storage/rkimage.h"
#include "util/log2file.h"
#include "util/qpaths.h"

QString RockchipVendorStorage::onboardDevice()
{
    return gCurrentBoardInfo ? gCurrentBoardInfo->getOnboardFlashDevFullName() : QString();
}

static bool isVendorStorage(const char *sector)
{
    return memcmp(sector, "DVKR", 4) == 0;
}

static bool hasEthaddr(const char *sector)
{
    static const char key[] = "ethaddr=";
    return memmem(sector, RockchipVendorStorage::SectorBytes, key, sizeof key - 1) != nullptr;
}

bool RockchipVendorStorage::resetSector(qint64 offset, bool (*recognised)(const char *sector))
{
    const QByteArray dev = sysPath(onboardDevice()).toLocal8Bit();
    char sector[SectorBytes];
    // A sector that cannot be read whole, or is not what we expect, is left
    // as it is: zeroing an unknown sector could break the boot loader.
    if (global_mmc_read(dev.constData(), offset, SectorBytes, sector) != SectorBytes || !recognised(sector)) {
        log2file("#### Fail to reset mac-address.\n");
        return false;
    }
    const int fd = global_mmc_open(dev.constData());
    if (fd < 0) {
        log2file("#### fail to open %s\n", dev.constData());
        return false;
    }
    const char zeros[SectorBytes] = {};
    const bool written = global_mmc_write(fd, dev.constData(), offset, SectorBytes, zeros) == SectorBytes;
    const bool released = global_mmc_release(fd) == 0;
    log2file(written && released ? "#### Reset mac-address ok.\n" : "#### Fail to reset mac-address.\n");
    return written && released;
}

bool RockchipVendorStorage::resetRockchipUbootMacAddress()
{
    if (!gCurrentBoardInfo || !gCurrentBoardInfo->cpuName.toUpper().startsWith(QLatin1String("RK")))
        return false;
    return resetSector(VendorStorageOffset, isVendorStorage);
}

bool RockchipVendorStorage::resetRK3399MacAddress()
{
    return resetSector(UbootEnvOffset, hasEthaddr);
}

void RockchipVendorStorage::dumpRockchipVendorStorage()
{
    const QByteArray dev = sysPath(onboardDevice()).toLocal8Bit();
    char sector[SectorBytes];
    if (global_mmc_read(dev.constData(), VendorStorageOffset, SectorBytes, sector) != SectorBytes) {
        qDebug() << "#### fail to read" << dev;
        return;
    }
    const QByteArray bytes(sector, SectorBytes);
    QString printable;
    for (char c : bytes)
        printable += (c >= 0x20 && c < 0x7f) ? QChar(c) : QChar('.');
    const QString rule(30, QLatin1Char('-'));
    qDebug().noquote() << rule;
    qDebug().noquote() << QString::fromLatin1(bytes.toHex());
    qDebug().noquote() << rule;
    qDebug().noquote() << printable;
    qDebug().noquote() << (isVendorStorage(sector) ? "#### it is a valid rockchip vendor storage."
                                                   : "#### it is not a valid Rockchip vendor storage.");
}
