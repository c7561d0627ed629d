#include "board/allwinnerboardid.h"

#include <QFile>
#include <QStringList>

#include "util/qpaths.h"

QString readAllwinnerBoardID()
{
    QFile f(sysPath(QStringLiteral("/sys/class/sunxi_info/sys_info")));
    if (!f.open(QIODevice::ReadOnly | QIODevice::Text))
        return QString();
    while (!f.atEnd()) {
        const QString line = QString::fromUtf8(f.readLine()).simplified();
        const QStringList parts = line.split(QLatin1Char(':'));
        if (parts.size() != 2)
            continue;
        if (parts.at(0).simplified().toLower() == QLatin1String("sunxi_board_id"))
            return parts.at(1).simplified().toLower();
    }
    return QString();
}
