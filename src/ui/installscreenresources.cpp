#include "ui/installscreenresources.h"

#include <QFile>

static void initImgsmithQrc()
{
    Q_INIT_RESOURCE(imgsmith);
}

void InstallScreenResources::init()
{
    static const bool done = (initImgsmithQrc(), true);
    Q_UNUSED(done);
}

QString InstallScreenResources::styleSheet(const QString &resource)
{
    init();
    QFile f(resource);
    return f.open(QIODevice::ReadOnly) ? QString::fromUtf8(f.readAll()) : QString();
}
