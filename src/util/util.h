// Helpers shared by the whole program. Nothing here keeps state between
// calls; failures come back as empty strings, 0, -1 or false, never as
// exceptions. Debug lines go to standard error in debug mode only.
//
// Path rule: the functions that read a fixed system file ("/proc/mounts",
// "/proc/partitions", "/sys/class/leds/...", "/dev/...") resolve it through
// sysPath(); functions that take a file path from the caller use it as given
// (callers resolve their own fixed paths).
#pragma once

#include <QMap>
#include <QString>
#include <QStringList>
#include <QtGlobal>

class Util
{
public:
    // Sizes: "1023 bytes", "1 KB", "1.5 GB", "2.00 TB" (binary steps of 1024
    // for size_human, decimal steps of 1000 for size_human1000).
    static QString size_human(qint64 bytes);
    static QString size_human1000(qint64 bytes);

    // Durations from a count of seconds (negative counts read as 0).
    static QString seconds_to_DHMS(qint64 seconds);      // "5分3秒", "1时0分5秒", "1天1时0分0秒"
    static QString seconds_to_DHMS_US(qint64 seconds);   // "00:00:7", "5m3s", "1h0m5s", "1d1h0m"
    static QString seconds_to_DHMS_US2(qint64 seconds);  // "01:02:05", "1d1h0m"

    // Small file operations.
    static QString readFile(const QString &path);
    // Writes only into an existing file (sysfs attributes); true when the
    // whole text was written.
    static bool writeFile(const QString &path, const QString &text);
    static void removeFile(const QString &path);
    static bool removeDir(const QString &path);
    static QString removeDirRightSeparator(const QString &path);
    static QStringList removeSameItem(const QStringList &list);
    static QStringList getAllFileInPath(const QString &dir, const QString &ext);
    static bool searchStringInFile(const QString &path, const QString &text);
    static QString readFileAsHex(const QString &path, int count);
    static bool writeResourceToFile(const QString &resource, const QString &path);

    // Text helpers.
    static qint64 hexStringToLongLong(const QString &text, bool *ok);
    static QString int64ToHexString(qint64 value);
    static bool isdigitstr(const QString &text);
    static void printCharacters(const QString &text);

    // True when a file `name` exists in one of the directories of $PATH.
    static bool hasCommandFound(const QString &name);

    // Network: 0 and a NUL-terminated text in `buffer` on success, else -1.
    static int getMacAddress(const char *ifname, char *buffer, int size);
    static int getIPAddress(const char *ifname, char *buffer, int size);

    // Memory.
    static bool isEnableSingleCPUCore();
    static QString getCustomeMemTestSizeMB();
    static int GetMemInfoMB();
    static int GetFreeMemMB();

    // Mount table ("/proc/mounts"). `path` matches an entry's mount directory
    // or its device, given either as the running system names it or already
    // resolved below the simulation root. 1 mounted, 0 not, -1 table unreadable.
    static int isMountPoint(const QString &path);
    // As isMountPoint(); on a match also fills the type and option buffers
    // (always NUL-terminated, truncated to their lengths) and the two numbers.
    static int getMountPointStatus(const QString &path, char *typeBuf, int typeLen,
                                   char *optsBuf, int optsLen, int *freq, int *passno);
    // Mount options ("rw,relatime") read as read-only: the first of "ro"
    // and "rw" decides.
    static bool isReadOnlyMountOptions(const QString &options);

    // Partitions.
    static bool isDeviceInPartitions(const QString &name);
    static int getDiskLastPartitionNumber(const QString &disk);
    // Probes the partitions of `device` ("/dev/mmcblk2") with libblkid and
    // fills label and filesystem type per partition path ("/dev/mmcblk2p1").
    // Returns the number of partitions, -1 when the device has no readable
    // partition table.
    static int getPartitionInfo(const QString &device, QMap<QString, QString> &labels,
                                QMap<QString, QString> &types);
    // Name of the last partition of `disk` in "/proc/partitions" ("mmcblk2p8"),
    // never an eMMC boot area; empty when none.
    static QString getLastPartitionName(const QString &disk);
    // "android", "linux" or "unknow".
    static QString getCurrntOSInOnboardFlash(const QMap<QString, QString> &labels,
                                             const QMap<QString, QString> &types);

    // Kernel release numbers: -1 for a null array, -2 when the release cannot
    // be read, else 0 with up to `count` purely numeric fields stored.
    static int getKernelVersion(int *numbers, int count);
    static bool isKernelVersionAtLeast4();

    // "sunxi_board_id" of "/sys/class/sunxi_info/sys_info", lower case; empty
    // when absent.
    static QString readAllwinnerBoardID();

    // Board LEDs; LEDs the board lacks are skipped silently.
    static void setStatusLEDAlwaysOn();
    static void setStatusLEDSlowFlash();
    static void setStatusLEDQuickFlash();
    static void setStatusLEDHeartbeat();
    static void setNetworkLEDAlwayOff();
    static void setNetworkLEDAlwayOn();

    // A USB storage device that is an SD card reader (by product text, or by
    // product and vendor id from a table of known readers).
    static bool isUSBCardReader(const QString &product, const QString &pid, const QString &vid);
};
