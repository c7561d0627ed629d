// The post-install board services of the main controller. The sector and
// partition work needs no widget and is called directly; the user scripts
// run through the controller's doScriptsInPath (its script dialog), called
// by name so that a controller without it is reported in the log and the
// scripts still run, without the dialog.
#pragma once

#include <QPointer>

#include "frontend/postinstallservices.h"

class QObject;

class ControllerPostInstallServices : public PostInstallServices
{
public:
    // `controller` null: the registered main controller object.
    explicit ControllerPostInstallServices(QObject *controller);

    void reNewCurrentOSInfo() override;
    void resetRockchipUbootMacAddress() override;
    void resetRK3399MacAddress() override;
    bool isBoardUnableToReadPartition() override;
    int doScriptsInPath(const QString &scriptDirectory, const QString &wrapperFile) override;

private:
    QPointer<QObject> m_controller;
};
