// OSConfig: the description of one image set on the SD card or USB drive,
// built from its file names and the identified board. A plain value type,
// copied freely (signals, the install job).
#pragma once

#include <QList>
#include <QMetaType>
#include <QString>
#include <QStringList>

// Kinds of image set. The numbers are stored and compared elsewhere; keep them.
enum OSType : qint32 {
    Android = 0,
    Ubuntu = 1,
    Lumabase = 2,
    Lumadesk = 3,
    Lubuntu = 4,
    OpenWrt = 5,
    Lumaroute = 6,
    Debian = 7,
    OpenMediaVault = 8,
    Proxmox = 9,
    OpenHarmony = 10,
    Rocknix = 11,
    Alpine = 12,
    Buildroot = 13,
    Linux = 14,
    RawImage = 15,
};

class OSConfig
{
public:
    // An empty, invalid description (containers and queued signals need it).
    OSConfig();
    // A directory image set: `fileNames` are the bare names of its files in
    // the order the scanner listed them.
    OSConfig(const QString &imagePath, const QStringList &fileNames);
    // One raw image file lying in `imagePath`.
    OSConfig(const QString &imagePath, const QString &rawFileName);

    bool isMatchBoard() const;
    // Whether this set is the one named for automatic installing, against the
    // configuration file's automatic-install path, or against `autoPath`.
    bool isAutoStart() const;
    bool isAutoStart(const QString &autoPath) const;

    // The set's working directory "/tmp/<imagePath without punctuation>";
    // empty when it does not exist (create false) or cannot be made.
    QString getTmpImagePath(bool create) const;
    void cleanTmpImagePath() const;

    qint64 sizeOfFile(const QString &name) const;          // bytes, 0 when missing
    QString sizeHumanOfFile(const QString &name) const;
    QString getCPUNameUpper() const;

    void reSetTitleFromConfFile(const QString &fileName);
    void reSetS5Pxx18KernelVersion();

    // Boot environment (bootenv.cpp).
    QString getEnvConf(bool removeDataArg) const;
    void dumpBootArgsExt() const;

    OSType osType = Linux;
    QString title;
    QString icon;
    QStringList imageFiles;
    QStringList imageFileSizeTexts;
    QList<qint64> imageFileSizes;
    QString version;
    QStringList requireBoards;
    bool disableAutoIdbloader = false;
    QStringList androidLoaders;
    QStringList androidBootloaders;
    QStringList androidBootImages;
    QStringList androidCacheImages;
    QStringList androidSystemImages;
    QStringList androidUserdataImages;
    QStringList linuxLoaders;
    QStringList linuxBootloaders;
    QStringList linuxBootImages;
    QStringList linuxRootfsImages;
    QStringList linuxUserdataImages;
    QStringList linuxOptImages;
    QStringList linuxStorageImages;
    QString os_partmap_txt;
    qint32 s5pxx18KernelVersion = -1;
    QString os_raw_img;
    QString os_idbloader_img;
    QString os_rocknix_uboot_bin;
    QString os_rocknix_dtb;
    QString os_env_conf;
    QString imagePath;
    bool isValid = false;
    bool isRocknix = false;
    bool noLowFormat = false;
    bool noResizeFs = false;
    QString bootArgsExt;
    QStringList rootfsFsTypes;       // per linuxRootfsImages entry: "btrfs", "ext4" or "unknow"

private:
    void classifyAndroid(const QStringList &fileNames);
    void classifyLinux(const QStringList &fileNames, const QString &rocknixUboot,
                       const QString &rocknixDtb);
    void setKindFromPath();
    void rebuildImageFiles();
    void appendImageFile(const QString &name, qint64 size);
};

Q_DECLARE_METATYPE(OSConfig)

// The text after the last dot of a file name; empty when there is none.
QString getFileExtension(const QString &name);
// `text` without one leading and one trailing double quote when it both
// starts and ends with one (a lone quote gives ""); else unchanged.
QString removeQuotes(const QString &text);
// Whether the boot and the system device may be chosen separately.
bool isSupportTargetDeviceSetting(const OSConfig &os);
