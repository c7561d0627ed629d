// QString face of the path resolver (see util/paths.h).
#pragma once

#include <QString>

#include "util/paths.h"

inline QString sysPath(const QString &path)
{
    return QString::fromStdString(imgsmith::sysPath(path.toStdString()));
}

inline QString unSysPath(const QString &path)
{
    return QString::fromStdString(imgsmith::unSysPath(path.toStdString()));
}
