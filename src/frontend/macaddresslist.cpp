#include "frontend/macaddresslist.h"

#include "board/boardhardwareinfo.h"
#include "util/qpaths.h"
#include "util/util.h"

#include <QFile>
#include <QFileInfo>


MacAddressList::MacAddressList(const QString &drivePath, const BoardHardwareInfo &board)
    : m_drivePath(drivePath), m_board(board)
{
}

bool MacAddressList::isRequested() const
{
    for (const char *name : {"SAVE_MAC_ADDRESS", "SAVE_MAC_ADDRESS.txt", "save_mac_address", "save_mac_address.txt"}) {
        if (QFileInfo(sysPath(m_drivePath + QLatin1Char('/') + QLatin1String(name))).isFile())
            return true;
    }
    return false;
}

QString MacAddressList::fileName() const
{
    return QStringLiteral("%1/%2_mac_addresses.txt").arg(m_drivePath, m_board.boardName.toLower());
}

QString MacAddressList::line() const
{
    QString text = m_board.getCPUID();
    for (int i = 0; i < m_board.ethPortCount; ++i) {
        const QByteArray ifname = (m_board.ethIfPrefix + QString::number(i)).toLatin1();
        char mac[64];
        text += QLatin1Char(',');
        text += Util::getMacAddress(ifname.constData(), mac, sizeof mac) == 0 && mac[0]
                    ? QString::fromLatin1(mac)
                    : QStringLiteral("00:00:00:00:00:00");
    }
    return text;
}

QString MacAddressList::save() const
{
    const QString text = line();
    const QString cpuId = text.section(QLatin1Char(','), 0, 0);
    QFile f(sysPath(fileName()));
    if (f.open(QIODevice::ReadOnly)) {
        while (!f.atEnd()) {
            if (QString::fromLatin1(f.readLine()).trimmed().section(QLatin1Char(','), 0, 0) == cpuId)
                return QStringLiteral("Already added.");
        }
        f.close();
    }
    char type[64] = {0};
    char opts[512] = {0};
    int freq = 0;
    int passno = 0;
    if (Util::getMountPointStatus(m_drivePath, type, sizeof type, opts, sizeof opts, &freq, &passno) == 1
        && QString::fromLatin1(opts).split(QLatin1Char(',')).contains(QLatin1String("ro")))
        return QStringLiteral("Failed to save, usb drive is read-only.");
    if (!f.open(QIODevice::Append | QIODevice::Text))
        return QStringLiteral("Failed to save, unknow reason.");
    const QByteArray data = text.toLatin1() + '\n';
    const bool ok = f.write(data) == data.size() && f.flush();
    f.close();
    return ok ? QStringLiteral("Saving complete.") : QStringLiteral("Failed to save, unknow reason.");
}
