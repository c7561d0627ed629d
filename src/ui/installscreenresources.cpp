#include "ui/installscreenresources.h"

#include <QFile>

static void initInstallScreensQrc()
{
    Q_INIT_RESOURCE(installscreens);
}

void InstallScreenResources::init()
{
    static const bool done = (initInstallScreensQrc(), true);
    Q_UNUSED(done);
}

QString InstallScreenResources::styleSheet(const QString &resource)
{
    init();
    QFile f(resource);
    return f.open(QIODevice::ReadOnly) ? QString::fromUtf8(f.readAll()) : QString();
}
