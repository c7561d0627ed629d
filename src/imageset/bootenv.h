// Boot environment and kernel command line of an image set: the "data="
// removal for "env.conf", the parsed "bootargs-ext" of info.conf, and the
// Rockchip command line that leaves rootfs/userdata/opt to another device.
// OSConfig::getEnvConf and OSConfig::dumpBootArgsExt live in bootenv.cpp.
#pragma once

#include <QMap>
#include <QString>
#include <QStringList>

// `cmdLine` without its "data=" tokens. Splits at every single space and
// keeps empty pieces, so a run of spaces elsewhere survives unchanged.
QString getNexellNewCmdLineRemovedUserData(const QString &cmdLine);

// Splits a "bootargs-ext" text: "key=value" tokens (value = everything after
// the first "=") into `args` (a repeated key keeps its last value), other
// tokens into `flags`. Both are cleared first.
void parseBootArgsExt(const QString &text, QMap<QString, QString> &args, QStringList &flags);

// The Rockchip command line with "data=" dropped and the rootfs, userdata
// and opt partitions removed from its "mtdparts=" list; their size texts go
// to rootfsSize / userdataSize ("-" = grow; opt overwrites userdata when it
// comes later) and hasOpt tells whether an opt partition was there.
// Returns "" for malformed input (no "mtdparts=", no ":" after it, one of
// those partitions without exactly one "@"); the caller must treat "" as
// failure.
QString getRKNewCmdLineResetTargetDevice(const QString &cmdLine, QString &rootfsSize,
                                         QString &userdataSize, bool &hasOpt);
