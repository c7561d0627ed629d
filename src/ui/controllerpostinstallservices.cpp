#include "ui/controllerpostinstallservices.h"

#include <QMetaObject>
#include <QObject>

#include "util/log2file.h"

namespace {

void unavailable(const char *method)
{
    log2file("post-install: %s is not available yet on this controller; step skipped\n", method);
    fprintf(stderr, "post-install: %s is not available yet; step skipped\n", method);
}

} // namespace

ControllerPostInstallServices::ControllerPostInstallServices(QObject *controller) : m_controller(controller)
{
}

bool ControllerPostInstallServices::call(const char *method)
{
    if (m_controller && QMetaObject::invokeMethod(m_controller, method, Qt::DirectConnection))
        return true;
    unavailable(method);
    return false;
}

void ControllerPostInstallServices::reNewCurrentOSInfo()
{
    call("reNewCurrentOSInfo");
}

void ControllerPostInstallServices::resetRockchipUbootMacAddress()
{
    call("resetRockchipUbootMacAddress");
}

void ControllerPostInstallServices::resetRK3399MacAddress()
{
    call("resetRK3399MacAddress");
}

bool ControllerPostInstallServices::isBoardUnableToReadPartition()
{
    bool unable = false;
    if (m_controller
        && QMetaObject::invokeMethod(m_controller, "isBoardUnableToReadPartition", Qt::DirectConnection,
                                     Q_RETURN_ARG(bool, unable)))
        return unable;
    unavailable("isBoardUnableToReadPartition");
    return false;
}

int ControllerPostInstallServices::doScriptsInPath(const QString &scriptDirectory, const QString &wrapperFile)
{
    int result = 0;
    if (m_controller
        && QMetaObject::invokeMethod(m_controller, "doScriptsInPath", Qt::DirectConnection, Q_RETURN_ARG(int, result),
                                     Q_ARG(QString, scriptDirectory), Q_ARG(QString, wrapperFile)))
        return result;
    // Not run is not failed: the restore itself is complete.
    unavailable("doScriptsInPath");
    return 0;
}
