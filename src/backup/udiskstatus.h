// What the back-up mode knows about the USB drive: whether it is there,
// mounted, writable, its file system, size and free space. One instance for
// the process (gUdiskStatus), refreshed on hot-plug, at start-up and after
// each back-up; all on the GUI thread.
#pragma once

#include <QString>
#include <QtGlobal>

// Where df's free-space figure for the USB drive is written (system path).
extern const char *const UDISK_FREESPACE_TMP_FILENAME;   // "/tmp/udiskfreesize"

class UDiskStatus
{
public:
    UDiskStatus();

    // 0 for an empty name; -1 when /proc/partitions cannot be read; 2 when
    // "<dev>1" occurs in it, else 1 when `dev` occurs, else 0. A plain text
    // search in the first 2048 bytes, as the kernel lists the drive.
    static int checkUDiskStatus(const QString &dev);
    // Mount options ("rw,relatime") read as read-only.
    static bool isReadOnlyOptions(const QString &options);

    // Presence, partition, mount state, file system and total size of the
    // drive named by the board (getUdiskDevName); the free space back to 0.
    void reCalcUdiskStatus();
    // The free space of the first partition from df; only for a present,
    // mounted, partitioned drive. 0 when df tells nothing usable.
    void reCalcAvailableSize();

    QString filesystemType() const { return QString::fromLocal8Bit(m_fsType); }
    QString mountOptions() const { return QString::fromLocal8Bit(m_mountOptions); }
    bool isPresent() const { return m_present; }
    bool isMounted() const { return m_mounted; }
    bool isReadOnly() const { return m_readOnly; }
    bool hasPartition() const { return m_hasPartition; }
    qint64 totalSize() const { return m_totalSize; }           // KiB
    qint64 availableSize() const { return m_availableSize; }   // KiB, 0 when unknown

private:
    QString devName() const;

    char m_fsType[255];
    char m_mountOptions[255];
    bool m_present = false;
    bool m_mounted = false;
    bool m_readOnly = false;
    qint64 m_totalSize = 0;
    qint64 m_availableSize = 0;
    bool m_hasPartition = false;
};

extern UDiskStatus gUdiskStatus;
