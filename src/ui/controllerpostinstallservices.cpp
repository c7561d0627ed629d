#include "ui/controllerpostinstallservices.h"

#include <QMetaObject>
#include <QObject>
#include <QProcess>

#include "frontend/boardservices.h"
#include "frontend/maincontrollerobject.h"
#include "frontend/rockchipvendorstorage.h"
#include "util/log2file.h"

ControllerPostInstallServices::ControllerPostInstallServices(QObject *controller) : m_controller(controller)
{
}

void ControllerPostInstallServices::reNewCurrentOSInfo()
{
    BoardServices::reNewCurrentOSInfo();
}

void ControllerPostInstallServices::resetRockchipUbootMacAddress()
{
    RockchipVendorStorage::resetRockchipUbootMacAddress();
}

void ControllerPostInstallServices::resetRK3399MacAddress()
{
    RockchipVendorStorage::resetRK3399MacAddress();
}

bool ControllerPostInstallServices::isBoardUnableToReadPartition()
{
    return BoardServices::isBoardUnableToReadPartition();
}

int ControllerPostInstallServices::doScriptsInPath(const QString &scriptDirectory, const QString &wrapperFile)
{
    int result = 0;
    QObject *controller = m_controller ? m_controller.data() : mainControllerObject();
    if (controller
        && QMetaObject::invokeMethod(controller, "doScriptsInPath", Qt::DirectConnection, Q_RETURN_ARG(int, result),
                                     Q_ARG(QString, scriptDirectory), Q_ARG(QString, wrapperFile)))
        return result;
    log2file("post-install: the controller's script dialog is not available; scripts run without it\n");
    return BoardServices::doScriptsInPath(scriptDirectory, wrapperFile, [](const QString &wrapper) {
        return QProcess::execute(QStringLiteral("/bin/bash"), {wrapper});
    });
}
