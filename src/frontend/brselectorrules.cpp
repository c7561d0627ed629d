#include "frontend/brselectorrules.h"

#include "backup/udiskstatus.h"
#include "util/util.h"

BackupMedium BackupMedium::fromUDisk(const UDiskStatus &status)
{
    BackupMedium m;
    m.present = status.isPresent();
    m.mounted = status.isMounted();
    m.readOnly = status.isReadOnly();
    m.fsType = status.filesystemType();
    m.totalSize = status.totalSize();
    m.availableSize = status.availableSize();
    return m;
}

BackupMedium BackupMedium::tfCard(const QString &mountPoint, qint64 totalKiB, qint64 freeKiB)
{
    BackupMedium m;
    char type[255] = "", opts[255] = "";
    m.mounted = Util::getMountPointStatus(mountPoint, type, sizeof type, opts, sizeof opts, nullptr, nullptr) == 1;
    m.fsType = QString::fromLocal8Bit(type);
    m.readOnly = UDiskStatus::isReadOnlyOptions(QString::fromLocal8Bit(opts));
    m.totalSize = totalKiB;
    m.availableSize = freeKiB;
    return m;
}

static QString human(qint64 kib)
{
    return Util::size_human(kib * 1024);
}

BRSelectorView BRSelectorRules::view(int chosen, qint64 onboardKiB, const QString &onboardKind,
                                     const BackupMedium &usb, const BackupMedium &tf)
{
    BRSelectorView v;
    v.showUDiskFormat = chosen == USBDisk && usb.present;
    v.showTFCardFormat = chosen == TFCard;
    v.statusIsError = true;
    if (onboardKiB == 0) {
        v.status = QStringLiteral("Not found %1.").arg(onboardKind);
        return v;
    }
    v.sizeText = QStringLiteral("%1 Size: ").arg(onboardKind) + human(onboardKiB);
    const bool usbChosen = chosen == USBDisk;
    const BackupMedium &m = usbChosen ? usb : tf;
    if (usbChosen && !m.present) {
        v.status = QStringLiteral("No removable disk were found!");
    } else if (!m.mounted) {
        v.status = usbChosen ? QStringLiteral("Can not mount your removable disk, it is recommended that you "
                                              "format the disk to ext4 format.")
                             : QStringLiteral("Can not mount your TF card, try to re-format it or reboot device.");
    } else if (m.readOnly) {
        v.status = QStringLiteral("%1's file system mounted as read-only, please repair your disk with fsck on a "
                                  "linux/windows pc.")
                       .arg(usbChosen ? QStringLiteral("USB Disk") : QStringLiteral("TF card"));
    } else if (m.fsType.startsWith(QLatin1String("vfat"), Qt::CaseInsensitive)) {
        v.status = QStringLiteral("%1's file system is FAT, it dose not support that big files, please format it "
                                  "to exFAT or NTFS.")
                       .arg(usbChosen ? QStringLiteral("USB Disk") : QStringLiteral("TF card"));
    } else if (usbChosen && m.totalSize == 0) {
        v.status = QStringLiteral("Unable to check removable disk size.");
    } else {
        v.sizeText += (usbChosen ? QStringLiteral(", Removable disk size: ") : QStringLiteral(", TF card size: ")) +
            human(m.totalSize) + QStringLiteral(" (Total), ") + human(m.availableSize) + QStringLiteral(" (Free)") +
            QStringLiteral(", ") + m.fsType;
        v.sizeIsError = m.availableSize < onboardKiB;
        v.statusIsError = false;
        v.backupEnabled = true;
    }
    return v;
}

QString BRSelectorRules::backupRefusal(int chosen, qint64 onboardKiB, const BackupMedium &medium,
                                       const QString &tfPartition)
{
    if (medium.availableSize <= 0 || medium.availableSize >= onboardKiB)
        return QString();
    if (chosen == USBDisk)
        return QStringLiteral("There is not enough free disk space on your removable disk, it requires at least %1 "
                              "of free disk space. ")
            .arg(human(onboardKiB));
    return QStringLiteral("There is not enough free disk space on your TF card (%1), it requires at least %2 of free "
                          "disk space. ")
        .arg(tfPartition, human(onboardKiB));
}
