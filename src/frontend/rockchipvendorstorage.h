// The sectors of the onboard storage where Rockchip boards keep their MAC
// address: the vendor storage (512 bytes at 0x380000, starting "DVKR") and,
// on RK3399, the boot loader's environment (512 bytes at 0x3F8000). After a
// back-up of another board is restored, clearing them makes the board
// generate its own MAC address instead of sharing the other board's.
#pragma once

#include <QString>
#include <QtGlobal>

class RockchipVendorStorage
{
public:
    static constexpr qint64 VendorStorageOffset = 0x380000;
    static constexpr qint64 UbootEnvOffset = 0x3F8000;
    static constexpr int SectorBytes = 512;

    // The onboard device as the system names it ("/dev/mmcblk2", "/dev/sda").
    static QString onboardDevice();

    // Zeroes the vendor storage sector when it starts with "DVKR" (Rockchip
    // boards only). True when it was reset.
    static bool resetRockchipUbootMacAddress();
    // Zeroes the boot loader environment sector when it holds "ethaddr=".
    static bool resetRK3399MacAddress();
    // Logs the vendor storage sector as hex and text (debug aid).
    static void dumpRockchipVendorStorage();

private:
    // Reads the sector at `offset` and zeroes it when `recognised` says so.
    static bool resetSector(qint64 offset, bool (*recognised)(const char *sector));
};
