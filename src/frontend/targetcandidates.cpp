#include "frontend/targetcandidates.h"

#include <QDebug>
#include <QFile>

#include "board/boardhardwareinfo.h"
#include "startup/globals.h"
#include "util/qpaths.h"
#include "util/usbdevice.h"
#include "util/util.h"

namespace {

QString firstLineOf(const QString &path)
{
    QFile f(sysPath(path));
    if (!f.open(QIODevice::ReadOnly | QIODevice::Text))
        return QString();
    return QString::fromUtf8(f.readLine()).trimmed();
}

QString cut(const QString &text, int keep, int longest)
{
    return text.size() > longest ? text.left(keep) + QStringLiteral("...") : text;
}

void appendUsbDrives(QList<TargetDevice> &out, const BoardHardwareInfo *board)
{
    for (const QString &name : board->getAllUdiskDevNames()) {
        if (!Util::isDeviceInPartitions(name))
            continue;
        char product[256], pid[32], vid[32];
        const QByteArray node = (QStringLiteral("/dev/") + name).toLocal8Bit();
        int kind = TargetDeviceUSBDisk;
        QString model;
        if (get_usbdevice_product(node.constData(), product, sizeof(product), pid, vid, sizeof(pid)) == 0) {
            model = QString::fromUtf8(product).trimmed();
            if (Util::isUSBCardReader(model, QString::fromLatin1(pid), QString::fromLatin1(vid)))
                kind = TargetDeviceSDCard;
        }
        out << TargetDevice(kind, name, model);
    }
}

} // namespace

TargetDevice TargetCandidates::defaultTarget()
{
    const BoardHardwareInfo *board = gCurrentBoardInfo;
    if (!board)
        return TargetDevice();
    const QString name = board->getOnboardFlashDevName();
    if (!Util::isDeviceInPartitions(name))
        return TargetDevice();
    return TargetDevice(board->isOnboardUFS() ? TargetDeviceUFS : TargetDeviceEMMC, name);
}

QList<TargetDevice> TargetCandidates::candidates(int type)
{
    QList<TargetDevice> out;
    const BoardHardwareInfo *board = gCurrentBoardInfo;
    if (!board)
        return {TargetDevice()};
    const QString onboard = board->getOnboardFlashDevName();
    if (Util::isDeviceInPartitions(onboard) && board->isOnboardUFS())
        out << TargetDevice(TargetDeviceUFS, onboard);
    else if (Util::isDeviceInPartitions(onboard) && (board->emmcSelectable || board->emmcMode == 1 || board->emmcMode == 2))
        out << TargetDevice(TargetDeviceEMMC, onboard);
    else if (debugMode())
        qDebug() << "boot: not found onboard flash: " << onboard;

    appendUsbDrives(out, board);

    if (type == SystemDevice) {
        for (const QString &name : board->getAllM2SataDevNames())
            out << TargetDevice(TargetDeviceSATA, name,
                                firstLineOf(QStringLiteral("/sys/block/%1/device/model").arg(name)));
        for (const QString &name : board->getAllNVMEDevNames()) {
            QString controller = name;
            if (controller.endsWith(QLatin1String("n1")))
                controller.chop(2);
            out << TargetDevice(TargetDeviceNVMe, name,
                                firstLineOf(QStringLiteral("/sys/class/nvme/%1/model").arg(controller)));
        }
    }
    out << TargetDevice();
    return out;
}

QString TargetCandidates::longName(const TargetDevice &dev)
{
    return dev.model.isEmpty() ? dev.getFullDevName() : cut(dev.model, 21, 24);
}

QString TargetCandidates::buttonText(const QString &prefix, const TargetDevice &dev)
{
    if (dev.isNone())
        return QStringLiteral("%1 Skip Flashing").arg(prefix);
    const qint64 kib = gCurrentBoardInfo ? gCurrentBoardInfo->getDiskSize(dev.devName) : 0;
    return QStringLiteral("%1 %2 (%3) [%4]")
        .arg(prefix, longName(dev), dev.kindName(), Util::size_human(kib * 1024));
}

QString TargetCandidates::shortText(const TargetDevice &dev)
{
    const QString name = dev.model.isEmpty() ? dev.getFullDevName() : dev.model;
    return QStringLiteral("%1 (%2)").arg(cut(name, 11, 14), dev.kindName());
}

QString TargetCandidates::identity(const TargetDevice &dev)
{
    return QStringLiteral("type:%1-devname:%2").arg(dev.kindName(), dev.devName);
}
