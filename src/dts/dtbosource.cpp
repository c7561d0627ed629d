// Overlay sources: the kernel argument string of each boot medium, the
// source file around it, and the per-SoC sets of files.
#include "dts/dtbo.h"

#include "util/debugmode.h"
#include "util/log2file.h"

#include <QFile>

namespace {

const char *const k_cgroup_args = "cgroup_enable=cpuset cgroup_memory=1 cgroup_enable=memory";
const char *const k_default_extra = "consoleblank=0";
const char *const k_fiq_console = "console=ttyFIQ0 consoleblank=0";

struct OverlayFile
{
    const char *name;
    const char *root;
    const char *data;
    const char *rootFlags;
};

const OverlayFile k_rk3328_files[] = {
    {"dto-mmc0.dts", "/dev/mmcblk2p8", "/dev/mmcblk2p9", "discard"},
    {"dto-mmc1.dts", "/dev/mmcblk0p8", "/dev/mmcblk0p9", ""},
};
const OverlayFile k_rk3399_files[] = {
    {"dto-mmc0.dts", "/dev/mmcblk2p8", "/dev/mmcblk2p9", "discard"},
    {"dto-mmc1.dts", "/dev/mmcblk1p8", "/dev/mmcblk1p9", ""},
};
const OverlayFile k_rk35xx_files[] = {
    {"dto-mmc0.dts", "/dev/mmcblk2p8", "/dev/mmcblk2p9", "discard"},
    {"dto-mmc1.dts", "/dev/mmcblk0p8", "/dev/mmcblk0p9", ""},
};
const OverlayFile k_rk3576_files[] = {
    {"dto-mmc0.dts", "/dev/mmcblk2p8", "/dev/mmcblk2p9", "discard"},
    {"dto-mmc1.dts", "/dev/mmcblk0p8", "/dev/mmcblk0p9", ""},
    {"dto-ufs.dts", "/dev/sda8", "/dev/sda9", "discard"},
};

// Text inside a DTS string literal: quotes and backslashes from the user's
// arguments must not end the string early or start an escape, and control
// characters have no place on a kernel command line.
QString dtsString(const QString &text)
{
    QString out;
    out.reserve(text.size() + 8);
    for (QChar c : text) {
        if (c == u'"' || c == u'\\')
            out += u'\\';
        out += c.unicode() < 0x20 || c.unicode() == 0x7F ? QChar(u' ') : c;
    }
    return out;
}

bool writeText(const QString &path, const QByteArray &text, QIODevice::OpenMode mode)
{
    QFile f(path);
    if (!f.open(mode))
        return false;
    const bool written = f.write(text) == text.size() && f.flush();
    f.close();
    return written && f.error() == QFileDevice::NoError;
}

QString merged_bootargs(const QString &root, const QString &data, const QString &rootFlags,
                        const QString &extra, const QMap<QString, QString> &userMap,
                        const QStringList &userList, bool noDataArg)
{
    QMap<QString, QString> defaults;
    defaults.insert("root", root);
    defaults.insert("rootfstype", "ext4");
    if (!rootFlags.isEmpty())
        defaults.insert("rootflags", rootFlags);
    if (!data.isEmpty() && !noDataArg)
        defaults.insert("data", data);
    for (const QString &token : extra.split(u' ', Qt::SkipEmptyParts)) {
        const QStringList kv = token.split(u'=');
        if (kv.size() == 2)
            defaults.insert(kv[0], kv[1]);
        else
            defaults.insert(token, QString());
    }
    // One key: the last insertion wins, leaving cgroup_enable=memory.
    defaults.insert("cgroup_enable", "cpuset");
    defaults.insert("cgroup_memory", "1");
    defaults.insert("cgroup_enable", "memory");

    QStringList defaultList{"rw"};
    if (userList.contains("ro") || userList.contains("rw")) {
        defaultList.removeAll("ro");
        defaultList.removeAll("rw");
    }
    if (userList.contains("quiet") || userList.contains("debug") || userList.contains("loglevel")) {
        for (const char *k : {"quiet", "debug", "loglevel"}) {
            defaultList.removeAll(k);
            defaults.remove(k);
        }
    }
    for (auto it = userMap.cbegin(); it != userMap.cend(); ++it)
        defaults.remove(it.key());
    for (const QString &flag : userList)
        defaultList.removeAll(flag);

    QStringList out;
    auto addMap = [&](const QMap<QString, QString> &m) {
        for (auto it = m.cbegin(); it != m.cend(); ++it) {
            if (it.value().isEmpty() || (noDataArg && it.key() == "data"))
                continue;
            out << it.key() + "=" + it.value();
        }
    };
    addMap(defaults);
    out << defaultList;
    addMap(userMap);
    out << userList;
    return out.join(u' ');
}

bool gen_files(const QString &cpu, const QString &workDir, const QString &rootDev,
               const QString &dataDev, const QMap<QString, QString> &userArgsMap,
               const QStringList &userArgsList, bool noDataArg, const OverlayFile *files,
               int count, const QString &extra, bool rebootModes)
{
    for (int i = 0; i < count; i++) {
        const OverlayFile &f = files[i];
        if (!generate_core_dts(cpu, rootDev.isEmpty() ? f.root : rootDev,
                               dataDev.isEmpty() ? f.data : dataDev,
                               workDir + "/" + f.name, f.rootFlags, extra, userArgsMap,
                               userArgsList, noDataArg))
            return false;
    }
    // Only after every source exists, and in file order, so that a failure
    // never leaves a later file with a node and an earlier one without.
    if (rebootModes)
        for (int i = 0; i < count; i++)
            if (!append_reboot_mode(workDir + "/" + files[i].name))
                return false;
    return true;
}

} // namespace

QString dtbo_bootargs(const QString &rootDev, const QString &dataDev, const QString &rootFlags,
                      const QString &extraArgs, const QMap<QString, QString> &userArgsMap,
                      const QStringList &userArgsList, bool noDataArg)
{
    const QString extra = extraArgs.isEmpty() ? QString(k_default_extra) : extraArgs;
    if (!noDataArg && userArgsMap.isEmpty()) {
        const QString fs = rootFlags.isEmpty() ? QString("rootfstype=ext4")
                                               : "rootfstype=ext4 rootflags=" + rootFlags;
        return "root=" + rootDev + " rw " + fs + " data=" + dataDev + " " + extra + " "
            + k_cgroup_args;
    }
    return merged_bootargs(rootDev, dataDev, rootFlags, extra, userArgsMap, userArgsList,
                           noDataArg);
}

bool generate_core_dts(const QString &cpu, const QString &rootDev, const QString &dataDev,
                       const QString &path, const QString &rootFlags, const QString &extraArgs,
                       const QMap<QString, QString> &userArgsMap,
                       const QStringList &userArgsList, bool noDataArg)
{
    const QString args = dtbo_bootargs(rootDev, dataDev, rootFlags, extraArgs, userArgsMap,
                                       userArgsList, noDataArg);
    // The SoC name only labels the comment; keep it from closing the comment.
    QString soc;
    for (QChar c : cpu.toLower())
        if (c.isLetterOrNumber() || c == u'-' || c == u'_')
            soc += c;
    QString text;
    text += "// SPDX-License-Identifier: (GPL-2.0+ OR MIT)\n";
    text += "/*\n";
    text += " * Kernel arguments for " + soc + ", generated by imgsmith.\n";
    text += " * Rebuilt on every install; edits are lost.\n";
    text += " */\n\n";
    text += "/dts-v1/;\n";
    text += "/plugin/;\n\n";
    text += "&chosen {\n";
    text += "    bootargs_ext = \"" + dtsString(args) + "\";\n";
    text += "};\n";
    if (!writeText(path, text.toUtf8(), QIODevice::WriteOnly | QIODevice::Truncate)) {
        log2file("dtbo: Cannot open file for writing: %s\n", qPrintable(path));
        return false;
    }
    if (debugMode())
        log2file("bootargs in dtbo.img: %s\n", qPrintable(args));
    return true;
}

bool append_reboot_mode(const QString &path)
{
    static const char k_node[] =
        "\n&reboot_mode {\n"
        "    mode-bootloader = <0x5242C309>;\n"
        "    mode-charge = <0x5242C30B>;\n"
        "    mode-fastboot = <0x5242C303>;\n"
        "    mode-loader = <0x5242C301>;\n"
        "    mode-normal = <0x5242C300>;\n"
        "    mode-recovery = <0x5242C303>;\n"
        "};\n";
    if (!writeText(path, QByteArray(k_node), QIODevice::WriteOnly | QIODevice::Append)) {
        log2file("dtbo: Cannot open file for writing: %s\n", qPrintable(path));
        return false;
    }
    return true;
}

bool gen_core_dts_rk3328(const QString &cpu, const QString &workDir, const QString &rootDev,
                         const QString &dataDev, const QMap<QString, QString> &userArgsMap,
                         const QStringList &userArgsList, bool noDataArg)
{
    return gen_files(cpu, workDir, rootDev, dataDev, userArgsMap, userArgsList, noDataArg,
                     k_rk3328_files, 2, k_fiq_console, false);
}

bool gen_main_dts_rk3328(const QString &cpu, const QString &workDir, const QString &rootDev,
                         const QString &dataDev, const QMap<QString, QString> &userArgsMap,
                         const QStringList &userArgsList, bool noDataArg)
{
    return gen_files(cpu, workDir, rootDev, dataDev, userArgsMap, userArgsList, noDataArg,
                     k_rk3328_files, 2,
                     "console=ttyS2,1500000 earlycon=uart8250,mmio32,0xff130000 consoleblank=0",
                     false);
}

bool gen_core_dts_rk3399(const QString &cpu, const QString &workDir, const QString &rootDev,
                         const QString &dataDev, const QMap<QString, QString> &userArgsMap,
                         const QStringList &userArgsList, bool noDataArg)
{
    return gen_files(cpu, workDir, rootDev, dataDev, userArgsMap, userArgsList, noDataArg,
                     k_rk3399_files, 2, k_fiq_console, false);
}

bool gen_main_dts_rk3399(const QString &cpu, const QString &workDir, const QString &rootDev,
                         const QString &dataDev, const QMap<QString, QString> &userArgsMap,
                         const QStringList &userArgsList, bool noDataArg)
{
    return gen_files(cpu, workDir, rootDev, dataDev, userArgsMap, userArgsList, noDataArg,
                     k_rk3399_files, 2,
                     "console=ttyS2,1500000 earlycon=uart8250,mmio32,0xff1a0000 consoleblank=0",
                     true);
}

bool gen_core_dts_rk35xx(const QString &cpu, const QString &workDir, const QString &rootDev,
                         const QString &dataDev, const QMap<QString, QString> &userArgsMap,
                         const QStringList &userArgsList, bool noDataArg)
{
    return gen_files(cpu, workDir, rootDev, dataDev, userArgsMap, userArgsList, noDataArg,
                     k_rk35xx_files, 2, QString(), true);
}

bool gen_core_dts_rk3576(const QString &cpu, const QString &workDir, const QString &rootDev,
                         const QString &dataDev, const QMap<QString, QString> &userArgsMap,
                         const QStringList &userArgsList, bool noDataArg)
{
    return gen_files(cpu, workDir, rootDev, dataDev, userArgsMap, userArgsList, noDataArg,
                     k_rk3576_files, 3, QString(), false);
}
