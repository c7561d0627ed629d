#include "frontend/installsummary.h"

#include <QFile>
#include <QFileInfo>
#include <QTextStream>

#include "board/boardhardwareinfo.h"
#include "frontend/consolelayout.h"
#include "imageset/bootenv.h"
#include "util/qpaths.h"
#include "util/util.h"

namespace {

const char *const kSummarySection = "<font color=darkblue>%1</font>";
const char *const kSummaryEntry = "&nbsp;&nbsp;&nbsp;&nbsp;<font color=black>%1</font>";
const char *const kConsoleValue = "\t\t%1";

QString section(const QString &title)
{
    return QString::fromLatin1(kSummarySection).arg(title);
}

QString entry(const QString &text)
{
    return QString::fromLatin1(kSummaryEntry).arg(text);
}

qint64 diskSizeBytes(const TargetDevice &dev)
{
    if (dev.isNone() || !gCurrentBoardInfo)
        return 0;
    return gCurrentBoardInfo->getDiskSize(dev.devName) * 1024;
}

} // namespace

InstallSummary::InstallSummary(const OSConfig &os, const TargetDevice &boot, const TargetDevice &system,
                               const QStringList &excludedFiles, bool overlayfsDisabled)
    : m_os(os), m_boot(boot), m_system(system), m_excluded(excludedFiles),
      m_overlayfsDisabled(overlayfsDisabled)
{
}

QString InstallSummary::kindName(int osType)
{
    switch (osType) {
    case Android: return QStringLiteral("Android");
    case Ubuntu: return QStringLiteral("Ubuntu");
    case Lumabase: return QStringLiteral("Lumabase");
    case Lumadesk: return QStringLiteral("Lumadesk");
    case Lubuntu: return QStringLiteral("Lubuntu");
    case OpenWrt: return QStringLiteral("OpenWrt");
    case Lumaroute: return QStringLiteral("Lumaroute");
    case Debian: return QStringLiteral("Debian");
    case OpenMediaVault: return QStringLiteral("OpenMediaVault");
    case Proxmox: return QStringLiteral("Proxmox VE");
    case OpenHarmony: return QStringLiteral("OpenHarmony");
    case Rocknix: return QStringLiteral("ROCKNIX");
    case Alpine: return QStringLiteral("Alpine Linux");
    case Buildroot: return QStringLiteral("Buildroot");
    case Linux: return QStringLiteral("Linux");
    default: return QString();
    }
}

QString InstallSummary::readyTitle(const OSConfig &os)
{
    if (os.osType == RawImage)
        return QStringLiteral("Ready to Write RAW Image");
    return QStringLiteral("Ready to Go with ") + kindName(os.osType);
}

QString InstallSummary::setupTitle(const OSConfig &os)
{
    if (os.osType == RawImage)
        return QStringLiteral("Writing RAW Image");
    return QStringLiteral("Setup ") + kindName(os.osType);
}

QString InstallSummary::installingTitle(const OSConfig &os)
{
    if (os.osType == RawImage)
        return QStringLiteral("Writing RAW Image ...");
    return QStringLiteral("Installing ") + kindName(os.osType) + QStringLiteral(" ...");
}

QString InstallSummary::lcdShortTitle(const OSConfig &os)
{
    switch (os.osType) {
    case RawImage:
        return QStringLiteral("Ready to restore");
    case OpenMediaVault:
    case Proxmox:
    case Rocknix:
    case Alpine:
    case Buildroot:
        return QString();
    default:
        return QStringLiteral("Ready to ") + kindName(os.osType);
    }
}

QString InstallSummary::targetKindText(int kind)
{
    switch (kind) {
    case TargetDeviceEMMC: return QStringLiteral("eMMC");
    case TargetDeviceUFS: return QStringLiteral("UFS Drive");
    case TargetDeviceSDCard: return QStringLiteral("SD card (in the USB card reader)");
    case TargetDeviceUSBDisk: return QStringLiteral("USB Drive");
    case TargetDeviceSATA: return QStringLiteral("SATA Drive");
    case TargetDeviceNVMe: return QStringLiteral("NVMe");
    case TargetDeviceNone: return QStringLiteral("Null device");
    default: return QStringLiteral("UNKNOW");
    }
}

qint64 InstallSummary::totalSize() const
{
    qint64 total = 0;
    for (qint64 size : m_os.imageFileSizes)
        total += size;
    return total;
}

QString InstallSummary::fileSystemType() const
{
    for (const QString &type : m_os.rootfsFsTypes) {
        if (type.compare(QLatin1String("btrfs"), Qt::CaseInsensitive) == 0)
            return QStringLiteral("btrfs");
    }
    return QStringLiteral("ext4");
}

QStringList InstallSummary::kernelParameterLines() const
{
    QStringList lines;
    if (m_os.os_env_conf.isEmpty())
        return lines;
    QFile f(sysPath(m_os.imagePath + QLatin1Char('/') + m_os.os_env_conf));
    if (!f.open(QIODevice::ReadOnly | QIODevice::Text))
        return lines;
    // The job drops "data=" from these kinds only (see OSConfig::getEnvConf).
    const bool dropData = m_overlayfsDisabled && m_os.osType != RawImage && m_os.osType != OpenHarmony
        && m_os.osType != Android;
    QTextStream in(&f);
    QString line;
    while (in.readLineInto(&line)) {
        line = line.simplified();
        if (line.isEmpty() || line.startsWith(QLatin1Char('#')))
            continue;
        if (dropData && line.startsWith(QLatin1String("bootargs")))
            line = getNexellNewCmdLineRemovedUserData(line);
        lines << line;
    }
    return lines;
}

QList<InstallSummary::FileEntry> InstallSummary::fileEntries() const
{
    QStringList all;
    if (m_os.osType == RawImage) {
        all = m_os.imageFiles;
    } else if (m_os.osType == Android || m_os.osType == OpenHarmony) {
        all << m_os.androidLoaders << m_os.androidBootloaders << m_os.androidBootImages
            << m_os.androidCacheImages << m_os.androidSystemImages << m_os.androidUserdataImages;
    } else {
        all << m_os.linuxLoaders << m_os.linuxBootloaders << m_os.linuxBootImages << m_os.linuxRootfsImages
            << m_os.linuxUserdataImages << m_os.linuxOptImages << m_os.linuxStorageImages;
    }
    QList<FileEntry> entries;
    for (const QString &name : all) {
        FileEntry e;
        e.name = name;
        const qsizetype at = m_os.imageFiles.indexOf(name);
        e.size = at >= 0 && at < m_os.imageFileSizes.size() ? m_os.imageFileSizes.at(at) : m_os.sizeOfFile(name);
        e.written = at >= 0 && !m_excluded.contains(name);
        // A raw set's IDB loader is appended by the set itself; without the
        // file beside the image the installer writes its built-in one.
        e.autoGenerated = m_os.osType == RawImage && !m_os.os_idbloader_img.isEmpty()
            && name == m_os.os_idbloader_img
            && !QFileInfo(sysPath(m_os.imagePath + QLatin1Char('/') + name)).isFile();
        entries << e;
    }
    return entries;
}

QString InstallSummary::targetLine(const TargetDevice &dev) const
{
    return QStringLiteral("%1 (%2, %3)")
        .arg(dev.getFullDevName(), targetKindText(dev.kind), Util::size_human(diskSizeBytes(dev)));
}

QString InstallSummary::html() const
{
    QStringList out;
    out << QStringLiteral("<font color=green><b>Installation Summary</b></font>");
    out << section(QStringLiteral("Version:")) << entry(m_os.version.toHtmlEscaped());
    out << section(QStringLiteral("Path:")) << entry(m_os.imagePath.toHtmlEscaped());
    out << section(QStringLiteral("Image files:"));
    for (const FileEntry &e : fileEntries()) {
        QString name = e.name.toHtmlEscaped();
        if (e.autoGenerated)
            name = QStringLiteral("%1, auto-gen").arg(name);
        out << entry(QStringLiteral("%1%2 <font color=grey>%3</font>")
                         .arg(e.written ? QStringLiteral("[&radic;] ") : QStringLiteral("[&times;] "), name,
                              Util::size_human(e.size)));
    }
    out << section(QStringLiteral("Exclede files:"));
    for (const QString &name : m_excluded)
        out << entry(name.toHtmlEscaped());
    out << section(QStringLiteral("File system summary:"))
        << entry(QStringLiteral("Type: %1").arg(fileSystemType()))
        << entry(QStringLiteral("Total size: %1").arg(Util::size_human(totalSize())));
    out << section(QStringLiteral("Kernel parameter:"));
    for (const QString &line : kernelParameterLines())
        out << entry(line.toHtmlEscaped());
    out << section(QStringLiteral("Boot args extra:"));
    if (!m_os.bootArgsExt.isEmpty())
        out << entry(m_os.bootArgsExt.toHtmlEscaped());
    out << section(QStringLiteral("Target devices:"))
        << entry(QStringLiteral("Boot from ") + targetLine(m_boot).toHtmlEscaped())
        << entry(QStringLiteral("System on ") + targetLine(m_system).toHtmlEscaped());
    return out.join(QStringLiteral("<br>"));
}

QStringList InstallSummary::consoleLines() const
{
    const QString value = QString::fromLatin1(kConsoleValue);
    QStringList body;
    body << QStringLiteral("Ready to install");
    body << QStringLiteral("Version:") << value.arg(m_os.version);
    body << QStringLiteral("Path:") << value.arg(m_os.imagePath);
    body << QStringLiteral("Image files:");
    for (int i = 0; i < m_os.imageFiles.size(); ++i)
        body << QStringLiteral("\t\t%1 %2").arg(m_os.imageFiles.at(i), m_os.imageFileSizeTexts.value(i));
    // Sections with nothing to list are left out: the console has few lines.
    if (!m_excluded.isEmpty()) {
        body << QStringLiteral("Exclede files:");
        for (const QString &name : m_excluded)
            body << value.arg(name);
    }
    body << QStringLiteral("File system summary:") << value.arg(QStringLiteral("Type: %1").arg(fileSystemType()))
         << value.arg(QStringLiteral("Total size: %1").arg(Util::size_human(totalSize())));
    const QStringList kernel = kernelParameterLines();
    if (!kernel.isEmpty()) {
        body << QStringLiteral("Kernel parameter:");
        for (const QString &line : kernel)
            body << value.arg(line);
    }
    if (!m_os.bootArgsExt.isEmpty())
        body << QStringLiteral("Boot args extra:") << value.arg(m_os.bootArgsExt);
    body << QStringLiteral("Target devices:") << value.arg(QStringLiteral("Boot from ") + targetLine(m_boot))
         << value.arg(QStringLiteral("System on ") + targetLine(m_system));
    return ConsoleLayout::screen(readyTitle(m_os), body, QStringLiteral("Do you wish to continue? (yes/no) :"));
}

QStringList InstallSummary::consoleInputs()
{
    return {QStringLiteral("yes"), QStringLiteral("no")};
}

QStringList InstallSummary::lcdLines() const
{
    return {lcdShortTitle(m_os), QStringLiteral(" "), QStringLiteral("Total size:"), Util::size_human(totalSize())};
}

QStringList InstallSummary::lcdStatusLines() const
{
    QStringList lines{readyTitle(m_os), QStringLiteral("Total size: %1").arg(Util::size_human(totalSize()))};
    lines << (m_excluded.isEmpty() ? QString() : QStringLiteral("Exclude files: %1").arg(m_excluded.join(',')));
    return lines;
}
