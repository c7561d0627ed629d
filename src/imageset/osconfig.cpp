// OSConfig constructors: classification of an image set's files, the
// Android/Linux decision, the rejections, the OS kind and the writing order.
#include "imageset/osconfig.h"

#include <QFileInfo>

#include "board/boardhardwareinfo.h"
#include "imageset/imagesetsupport.h"
#include "startup/globals.h"
#include "storage/idbloader_builtin.h"
#include "util/util.h"
#include "util/qpaths.h"

using imageset::debugLine;

namespace {

const QString kInfoConf = QStringLiteral("info.conf");
const QString kImgsmithConf = QStringLiteral("imgsmith.conf");
const QString kIdbloader = QStringLiteral("idbloader.img");
const QString kRocknixIdbloader = QStringLiteral("rocknix_idbloader.img");
const QString kParameterTxt = QStringLiteral("parameter.txt");
const QString kPartmapTxt = QStringLiteral("partmap.txt");
const QString kEnvConf = QStringLiteral("env.conf");

bool isMarker(const QString &name)
{
    const QString upper = name.toUpper();
    return upper.startsWith(QLatin1String("NO_LOW_FORMAT")) || upper.startsWith(QLatin1String("NO_RESIZEFS"));
}

bool in(const QString &name, std::initializer_list<const char *> names)
{
    for (const char *n : names) {
        if (name == QLatin1String(n))
            return true;
    }
    return false;
}

// The board record may be missing (tests, an unidentified board): read its
// fields as empty then.
QString boardField(QString BoardHardwareInfo::*field)
{
    return gCurrentBoardInfo ? gCurrentBoardInfo->*field : QString();
}

bool boardIsRockchip()
{
    return gCurrentBoardInfo && gCurrentBoardInfo->isRockchipCPU();
}

// Booting from UFS on a Rockchip SoC needs an IDB loader at a fixed place.
bool idbloaderRequired()
{
    return gCurrentBoardInfo && gCurrentBoardInfo->isOnboardUFS() && boardIsRockchip();
}

QString quoted(const QString &s)
{
    return QLatin1Char('"') + s + QLatin1Char('"');
}

// Every set needs a partition map, and a loader when the board boots a
// Rockchip SoC from UFS; each missing piece is named in debug mode.
bool checkMapAndLoader(const OSConfig &os, const char *kind)
{
    const QString skip = QLatin1String("\t\t!!! skip ") + QLatin1String(kind) + QLatin1Char(' ') + quoted(os.imagePath);
    bool valid = true;
    if (os.os_partmap_txt.isEmpty()) {
        valid = false;
        debugLine(skip + QLatin1String(", because os_partmap_txt is empty."));
    }
    if (idbloaderRequired() && os.os_idbloader_img.isEmpty()) {
        valid = false;
        debugLine(skip + QLatin1String(", because os_idbloader_img is empty."));
    }
    return valid;
}

struct Kind
{
    OSType type;
    const char *title;
    const char *icon;
};

const Kind kKinds[] = {
    {Android, "Android", ":/androidos.png"},
    {Ubuntu, "Ubuntu", ":/ubuntuos.png"},
    {Lumabase, "Lumabase", ":/ubuntuos.png"},
    {Lumadesk, "Lumadesk", ":/lxde.png"},
    {Lubuntu, "Lubuntu", ":/lxde.png"},
    {OpenWrt, "Lumaroute", ":/openwrt.png"},
    {Lumaroute, "Lumaroute", ":/openwrt.png"},
    {Debian, "Debian", ":/debianos.png"},
    {OpenMediaVault, "OpenMediaVault", ":/openmediavault.png"},
    {Proxmox, "Proxmox VE", ":/proxmox.png"},
    {OpenHarmony, "OpenHarmony", ":/openharmony.png"},
    {Rocknix, "ROCKNIX", ":/rocknix.png"},
    {Alpine, "Alpine Linux", ":/alpine.png"},
    {Buildroot, "Buildroot", ":/buildroot.png"},
    {Linux, "Linux", ":/linuxos.png"},
    {RawImage, "", ":/backup.png"},
};

void setKind(OSConfig *os, OSType type)
{
    os->osType = type;
    os->title = QLatin1String(kKinds[type].title);
    os->icon = QLatin1String(kKinds[type].icon);
}

} // namespace

OSConfig::OSConfig() = default;

OSConfig::OSConfig(const QString &path, const QStringList &fileNames)
    : imagePath(path)
{
    bool androidCandidate = false;
    for (const QString &name : fileNames) {
        if (name == QLatin1String("system.img") || name == QLatin1String("super.img"))
            androidCandidate = true;
        const QString upper = name.toUpper();
        if (upper.startsWith(QLatin1String("NO_LOW_FORMAT")))
            noLowFormat = true;
        if (upper.startsWith(QLatin1String("NO_RESIZEFS")))
            noResizeFs = true;
        if (name == kRocknixIdbloader)
            isRocknix = true;
    }

    const QString subDevice = boardField(&BoardHardwareInfo::RocknixSubDeviceName);
    const QString dtsName = boardField(&BoardHardwareInfo::DTSFileName);
    if (isRocknix) {
        if (subDevice.isEmpty()) {
            debugLine(QLatin1String("\t\t!!! skip rocknix ") + quoted(imagePath)
                      + QLatin1String(", because info->RocknixSubDeviceName is empty."));
            return;
        }
        if (dtsName.isEmpty()) {
            debugLine(QLatin1String("\t\t!!! skip rocknix ") + quoted(imagePath)
                      + QLatin1String(", because info->DTSFileName is empty."));
            return;
        }
        androidCandidate = false;
    }
    // A board without ROCKNIX names must not turn files literally called
    // "_uboot.bin" or ".dtb" into ROCKNIX parts.
    const QString rocknixUboot = subDevice.isEmpty() ? QString() : subDevice + QLatin1String("_uboot.bin");
    const QString rocknixDtb = dtsName.isEmpty() ? QString() : dtsName + QLatin1String(".dtb");

    if (androidCandidate)
        classifyAndroid(fileNames);
    else
        classifyLinux(fileNames, rocknixUboot, rocknixDtb);
    if (!isValid)
        return;

    setKindFromPath();
    rebuildImageFiles();
    reSetTitleFromConfFile(kInfoConf);
    reSetS5Pxx18KernelVersion();
}

void OSConfig::classifyAndroid(const QStringList &fileNames)
{
    const bool rockchip = boardIsRockchip();
    for (const QString &name : fileNames) {
        const QString ext = getFileExtension(name);
        if (name == kInfoConf || ext == QLatin1String("png") || ext == QLatin1String("jpeg")
            || ext == QLatin1String("jpg") || isMarker(name) || name == kImgsmithConf) {
            continue;
        } else if (in(name, {"2ndboot.bin", "idbloader.img", "bl1-mmcboot.bin"})) {
            androidLoaders << name;
            if (name == kIdbloader)
                os_idbloader_img = name;
        } else if (in(name, {"bootloader", "uboot.img", "trust.img", "fip-loader.img", "fip-secure.img",
                             "fip-nonsecure.img", "loader-mmc.img", "bl_mon.img", "bootloader.img"})) {
            androidBootloaders << name;
        } else if (in(name, {"boot.img", "kernel.img", "resource.img", "dtbo.img"})) {
            androidBootImages << name;
        } else if (name == QLatin1String("cache.img")) {
            androidCacheImages << name;
        } else if (name == kParameterTxt) {
            if (rockchip)
                os_partmap_txt = name;
        } else if (name == kPartmapTxt) {
            os_partmap_txt = name;
        } else if (in(name, {"system.img", "misc.img", "recovery.img", "super.img", "vbmeta.img"})) {
            androidSystemImages << name;
        } else if (name == QLatin1String("userdata.img")) {
            androidUserdataImages << name;
        } else if (name == kEnvConf) {
            os_env_conf = name;
        } else {
            debugLine(QLatin1String("\t\tTODO: unsupport image name: ") + name);
        }
    }

    setKind(this, Android);
    isValid = checkMapAndLoader(*this, "android");
}

void OSConfig::classifyLinux(const QStringList &fileNames, const QString &rocknixUboot,
                             const QString &rocknixDtb)
{
    const bool rockchip = boardIsRockchip();
    for (const QString &name : fileNames) {
        if (name == kInfoConf || isMarker(name) || name == kImgsmithConf) {
            continue;
        } else if (in(name, {"2ndboot.bin", "boot0_sdcard.fex", "u-boot-sunxi-with-spl.bin", "sunxi-spl.bin",
                             "bl1-mmcboot.bin", "idbloader.img", "rocknix_idbloader.img"})) {
            linuxLoaders << name;
            if (name == kIdbloader || name == kRocknixIdbloader)
                os_idbloader_img = name;
        } else if (in(name, {"bootloader", "boot_package.fex", "u-boot.fex", "u-boot.itb", "trust.img",
                             "uboot.img", "bootloader.img", "bl_mon.img", "loader-mmc.img",
                             "fip-nonsecure.img", "fip-loader.img", "fip-secure.img", "MiniLoaderAll.bin"})) {
            linuxBootloaders << name;
        } else if (in(name, {"boot.img", "kernel.img", "resource.img", "dtbo.img", "misc.img"})
                   || (!rocknixUboot.isEmpty() && name == rocknixUboot)) {
            linuxBootImages << name;
            if (name == rocknixUboot)
                os_rocknix_uboot_bin = name;
        } else if (!rocknixDtb.isEmpty() && name == rocknixDtb) {
            os_rocknix_dtb = name;
        } else if (name == kParameterTxt) {
            if (rockchip)
                os_partmap_txt = name;
        } else if (name == kPartmapTxt) {
            os_partmap_txt = name;
        } else if (name == QLatin1String("rootfs.img") || name == QLatin1String("system.img")) {
            linuxRootfsImages << name;
            rootfsFsTypes << imageset::probeRootfsType(sysPath(imagePath + QLatin1Char('/') + name));
        } else if (name == QLatin1String("userdata.img")) {
            linuxUserdataImages << name;
        } else if (name == QLatin1String("opt.img")) {
            linuxOptImages << name;
        } else if (name == QLatin1String("storage.img")) {
            linuxStorageImages << name;
        } else if (name == kEnvConf) {
            os_env_conf = name;
        } else {
            debugLine(QLatin1String("\t\tTODO: unsupport image name: ") + name);
        }
    }

    setKind(this, Linux);
    isValid = checkMapAndLoader(*this, "linux");
    if (isRocknix) {
        const QString skipRocknix = QLatin1String("\t\t!!! skip rocknix ") + quoted(imagePath);
        if (os_rocknix_uboot_bin.isEmpty()) {
            isValid = false;
            debugLine(skipRocknix + QLatin1String(", because os_rocknix_uboot_bin is empty."));
        }
        if (os_rocknix_dtb.isEmpty()) {
            isValid = false;
            debugLine(skipRocknix + QLatin1String(", because os_rocknix_dtb is empty."));
        }
    }
}

void OSConfig::setKindFromPath()
{
    // The path as the board names it: a simulation root must not leak into
    // the kind (its directory names are arbitrary).
    const QString path = unSysPath(imagePath).toLower();
    if (osType == Android) {
        if (path.contains(QLatin1String("openharmony")))
            setKind(this, OpenHarmony);
        return;
    }
    // Later matches override earlier ones: "lubuntu" beats "ubuntu",
    // "openmediavault" beats "debian".
    static const struct {
        const char *needle;
        OSType type;
    } rules[] = {
        {"ubuntu", Ubuntu},   {"lumabase", Lumabase},   {"core-qte", Lumabase},
        {"openwrt", OpenWrt}, {"lumaroute", Lumaroute}, {"lumadesk", Lumadesk},
        {"lubuntu", Lubuntu}, {"debian", Debian},       {"proxmox", Proxmox},
        {"openmediavault", OpenMediaVault},             {"alpine", Alpine},
        {"buildroot", Buildroot},                       {"rocknix", Rocknix},
    };
    for (const auto &rule : rules) {
        if (path.contains(QLatin1String(rule.needle)))
            setKind(this, rule.type);
    }
}

void OSConfig::appendImageFile(const QString &name, qint64 size)
{
    imageFiles << name;
    imageFileSizes << size;
    imageFileSizeTexts << Util::size_human(size);
}

void OSConfig::rebuildImageFiles()
{
    QStringList files;
    if (osType == Android || osType == OpenHarmony) {
        files << androidLoaders << androidBootloaders << androidBootImages << androidCacheImages
              << androidSystemImages << androidUserdataImages;
    } else {
        files << linuxLoaders << linuxBootloaders << linuxBootImages << linuxRootfsImages
              << linuxUserdataImages << linuxOptImages << linuxStorageImages;
    }
    const QStringList excluded = getExcledeFilesList();
    imageFiles.clear();
    imageFileSizes.clear();
    imageFileSizeTexts.clear();
    for (const QString &name : files) {
        if (!excluded.contains(name))
            appendImageFile(name, sizeOfFile(name));
    }
}

OSConfig::OSConfig(const QString &path, const QString &rawFileName)
    : osType(RawImage), title(rawFileName), icon(QStringLiteral(":/backup.png")),
      os_raw_img(rawFileName), imagePath(path), isValid(true)
{
    if (rawFileName.toLower().contains(QLatin1String("rocknix"))) {
        title = QStringLiteral("ROCKNIX");
        icon = QStringLiteral(":/rocknix.png");
    }
    const QString ownConf = rawFileName + QLatin1String(".conf");
    if (QFileInfo(sysPath(imagePath + QLatin1Char('/') + ownConf)).isFile())
        reSetTitleFromConfFile(ownConf);
    else
        reSetTitleFromConfFile(kInfoConf);
    reSetS5Pxx18KernelVersion();

    appendImageFile(rawFileName, sizeOfFile(rawFileName));
    if (!disableAutoIdbloader && idbloaderRequired()) {
        os_idbloader_img = kIdbloader;
        const QFileInfo own(sysPath(imagePath + QLatin1Char('/') + kIdbloader));
        const qint64 size = own.isFile()
            ? own.size()
            : static_cast<qint64>(idbloader_builtin_length(getCPUNameUpper().toLatin1().constData()));
        appendImageFile(kIdbloader, size);
    }
}

qint64 OSConfig::sizeOfFile(const QString &name) const
{
    const QFileInfo fi(sysPath(imagePath + QLatin1Char('/') + name));
    return fi.exists() ? fi.size() : 0;
}

QString OSConfig::sizeHumanOfFile(const QString &name) const
{
    return Util::size_human(sizeOfFile(name));
}

QString OSConfig::getCPUNameUpper() const
{
    return boardField(&BoardHardwareInfo::cpuName).toUpper();
}
