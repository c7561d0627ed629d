// Device tree overlay image ("dtbo.img") for Rockchip image sets.
//
// Each overlay sets /chosen/bootargs_ext for one boot medium (two MMC
// controllers and, on RK3576, UFS). build_dtbo_img() writes the overlay
// sources into a fresh work directory under "/tmp", compiles them with the
// external tools dtc and mkdtimg through a generated "rebuild-dtbo.sh", and
// copies the image to the requested path.
#pragma once

#include <QMap>
#include <QString>
#include <QStringList>

// Result codes of build_dtbo_img().
enum DtboResult {
    DTBO_OK = 0,
    DTBO_NO_DTC = -1,
    DTBO_NO_MKDTIMG = -2,
    DTBO_NO_WORKDIR = -3,
    DTBO_UNSUPPORTED_CPU = -4,
    DTBO_SOURCE_FAILED = -5,
    DTBO_SCRIPT_FAILED = -6,
    DTBO_BUILD_FAILED = -7,
    DTBO_NO_OUTPUT = -8,
};

// Builds "dtbo.img" at outPath for the SoC named by cpu (any case: rk3328,
// rk3399, rk3528, rk3566, rk3568, rk3576, rk3588). Empty root/data devices
// take each overlay's defaults. Returns a DtboResult.
int build_dtbo_img(const QString &cpu, const QString &outPath, bool useMainDts,
                   const QString &rootDev, const QString &dataDev,
                   const QMap<QString, QString> &userArgsMap,
                   const QStringList &userArgsList, bool noDataArg);

// The variants: write the overlay sources of one SoC family into workDir.
// True when every file (and every reboot-mode node) was written.
bool gen_core_dts_rk3328(const QString &cpu, const QString &workDir, const QString &rootDev,
                         const QString &dataDev, const QMap<QString, QString> &userArgsMap,
                         const QStringList &userArgsList, bool noDataArg);
bool gen_main_dts_rk3328(const QString &cpu, const QString &workDir, const QString &rootDev,
                         const QString &dataDev, const QMap<QString, QString> &userArgsMap,
                         const QStringList &userArgsList, bool noDataArg);
bool gen_core_dts_rk3399(const QString &cpu, const QString &workDir, const QString &rootDev,
                         const QString &dataDev, const QMap<QString, QString> &userArgsMap,
                         const QStringList &userArgsList, bool noDataArg);
bool gen_main_dts_rk3399(const QString &cpu, const QString &workDir, const QString &rootDev,
                         const QString &dataDev, const QMap<QString, QString> &userArgsMap,
                         const QStringList &userArgsList, bool noDataArg);
bool gen_core_dts_rk35xx(const QString &cpu, const QString &workDir, const QString &rootDev,
                         const QString &dataDev, const QMap<QString, QString> &userArgsMap,
                         const QStringList &userArgsList, bool noDataArg);
bool gen_core_dts_rk3576(const QString &cpu, const QString &workDir, const QString &rootDev,
                         const QString &dataDev, const QMap<QString, QString> &userArgsMap,
                         const QStringList &userArgsList, bool noDataArg);

// The kernel arguments one overlay carries (short form when noDataArg is
// false and the user map is empty, else the merged form).
QString dtbo_bootargs(const QString &rootDev, const QString &dataDev, const QString &rootFlags,
                      const QString &extraArgs, const QMap<QString, QString> &userArgsMap,
                      const QStringList &userArgsList, bool noDataArg);

// Writes one overlay source (truncating) to path. True when written.
bool generate_core_dts(const QString &cpu, const QString &rootDev, const QString &dataDev,
                       const QString &path, const QString &rootFlags, const QString &extraArgs,
                       const QMap<QString, QString> &userArgsMap,
                       const QStringList &userArgsList, bool noDataArg);

// Appends the reboot-mode node to an overlay source. True when appended.
bool append_reboot_mode(const QString &path);
