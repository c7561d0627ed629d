#include "frontend/osmenutexts.h"

#include "util/util.h"

namespace {

bool isFat(const QString &fsType)
{
    const QString t = fsType.toLower();
    return t == QLatin1String("vfat") || t == QLatin1String("msdos") || t == QLatin1String("fat");
}

} // namespace

QString OSMenuTexts::mediumText(const BackupMedium &m, const QString &devName, bool usbDrive)
{
    QString text;
    if (!m.present) {
        text = QStringLiteral("<none>");
    } else if (!m.mounted) {
        text = QStringLiteral("<failed to mount>");
    } else if (m.availableSize < 1 || m.totalSize < 1) {
        text = usbDrive ? QStringLiteral("<unable to check removable disk size>")
                        : QStringLiteral("<unable to check tf card size>");
    } else {
        text = devName + QStringLiteral(" - ") + Util::size_human(m.availableSize * 1024) + QStringLiteral(" free - ")
             + Util::size_human(m.totalSize * 1024) + QStringLiteral(" total - ") + m.fsType;
        if (m.readOnly)
            text += QStringLiteral(" - <readonly>");
    }
    return QStringLiteral(" (%1)").arg(text);
}

QString OSMenuTexts::backupWarning(const OSMenuModel &m)
{
    const bool lowSpace = m.onboardSizeKiB > 0;
    if (m.backupTarget == 2) {
        const BackupMedium &u = m.usb;
        if (!u.present)
            return QStringLiteral("  No removable disk were found");
        if (!u.mounted)
            return QStringLiteral("  Can not mount your removable disk (recommended: ext4)");
        if (u.readOnly)
            return QStringLiteral("  USB Disk's file system mounted as read-only");
        if (u.availableSize < 1 || u.totalSize < 1)
            return QStringLiteral("  Unable to check removable disk size");
        if (lowSpace && u.availableSize < m.onboardSizeKiB)
            return QStringLiteral("  There is not enough free disk space on your removable disk");
        if (isFat(u.fsType))
            return QStringLiteral("  USB Disk's file system is FAT, it dose not support that big files");
        return QString();
    }
    const BackupMedium &t = m.tf;
    if (!t.mounted)
        return QStringLiteral("  Can not mount your TF card");
    if (t.readOnly)
        return QStringLiteral("  TF card's file system mounted as read-only");
    if (isFat(t.fsType))
        return QStringLiteral("  TF card's file system is FAT, it dose not support that big files");
    if (t.availableSize >= 1 && lowSpace && t.availableSize < m.onboardSizeKiB)
        return QStringLiteral("  Not enough free disk space on your TF card");
    return QString();
}

ConsoleScreen OSMenuTexts::consoleMenu(const OSMenuModel &m)
{
    ConsoleScreen s;
    const QString &split = ConsoleScreen::titleSplitText();
    if (!m.hasOnboardStorage) {
        s.lines << split << QStringLiteral("No %1 detected").arg(m.onboardType) << ConsoleScreen::tailSplitText();
        s.acceptedInputs << QStringLiteral("reboot") << QStringLiteral("poweroff");
        return s;
    }
    QStringList keys;
    s.lines << split << QStringLiteral("ImgSmith %1 running on %2").arg(m.version, m.boardName)
            << QStringLiteral("Every option is described in the imgsmith README.") << split
            << QStringLiteral("  %1: ").arg(m.onboardType) + Util::size_human(m.onboardSizeKiB * 1024) << QString();

    s.lines << QStringLiteral("# Select an OS to install:");
    if (m.osNames.isEmpty())
        s.lines << QStringLiteral("  No image files found");
    for (int i = 0; i < m.osNames.size(); ++i) {
        s.lines << QStringLiteral("  %1) ").arg(i + 1) + m.osNames.at(i);
        keys << QString::number(i + 1);
    }
    s.lines << QString();

    const bool tf = m.backupTarget != 2;
    s.lines << QStringLiteral("# Select your backup target device:")
            << QStringLiteral("   tf) [%1] TF card %2").arg(tf ? QStringLiteral("*") : QStringLiteral(" "),
                                                           mediumText(m.tf, m.tfDevName, false))
            << QStringLiteral("  usb) [%1] USB disk %2").arg(tf ? QStringLiteral(" ") : QStringLiteral("*"),
                                                            mediumText(m.usb, m.usbDevName, true))
            << QString();
    keys << QStringLiteral("tf") << QStringLiteral("usb");

    s.lines << (tf ? QStringLiteral("# Backup %1 to TF card:") : QStringLiteral("# Backup %1 to USB removable disk:"))
                       .arg(m.onboardType);
    const QString warning = backupWarning(m);
    if (warning.isEmpty()) {
        s.lines << QStringLiteral("  bk) Start backup, use \"%1\" as the file name").arg(m.backupFileName);
        keys << QStringLiteral("bk");
    } else {
        s.lines << warning;
    }
    s.lines << QString();

    s.lines << QStringLiteral("# Configure automatic job:")
            << QStringLiteral("  %1) Automatic installing (Curr:%2)")
                   .arg(QStringLiteral("aui"), m.autoInstallPath.isEmpty() ? QStringLiteral("Off") : m.autoInstallPath)
            << QString();
    keys << QStringLiteral("aui");

    s.lines << QStringLiteral("# Format drive")
            << QStringLiteral("  %1) %2").arg(QStringLiteral("fud"), QStringLiteral("Re-layout and format USB Disk"))
            << QStringLiteral("  %1) %2").arg(QStringLiteral("ftf"), QStringLiteral("Format TF card to its original size"));
    keys << QStringLiteral("fud") << QStringLiteral("ftf");

    s.lines << ConsoleScreen::tailSplitText()
            << QStringLiteral("%1 Enter an option (%2), press ctrl+c to exit:")
                   .arg(ConsoleScreen::choosePrefixText(), keys.join(QLatin1Char('/')));
    s.acceptedInputs << keys << QStringLiteral("reboot") << QStringLiteral("poweroff") << QStringLiteral("c");
    return s;
}

QStringList OSMenuTexts::lcdMenu(bool hasOnboardStorage, const QString &onboardType, const QStringList &items,
                                 int selected)
{
    if (!hasOnboardStorage)
        return {QStringLiteral("No %1 detected").arg(onboardType), QStringLiteral(" "), QStringLiteral(" "),
                QStringLiteral(" ")};
    if (items.isEmpty())
        return {QStringLiteral("No image files!"), QStringLiteral(" "), QStringLiteral("Pls check SD card"),
                QStringLiteral("or plug USB disk.")};
    if (items.size() <= 4) {
        QStringList lines;
        for (int i = 0; i < items.size(); ++i)
            lines << (i == selected ? QStringLiteral(">>") : QStringLiteral("  ")) + items.at(i);
        return lines;
    }
    const int sel = qBound(0, selected, items.size() - 1);
    return {QStringLiteral(">>") + items.at(sel), QStringLiteral(" "), QStringLiteral(" "),
            QStringLiteral("[%1/%2]").arg(sel + 1).arg(items.size())};
}
