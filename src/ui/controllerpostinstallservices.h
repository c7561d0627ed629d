// The post-install board services as the main controller offers them, called
// by name so that a controller still without one of them is reported in the
// log instead of failing the build.
#pragma once

#include <QPointer>

#include "frontend/postinstallservices.h"

class QObject;

class ControllerPostInstallServices : public PostInstallServices
{
public:
    explicit ControllerPostInstallServices(QObject *controller);

    void reNewCurrentOSInfo() override;
    void resetRockchipUbootMacAddress() override;
    void resetRK3399MacAddress() override;
    bool isBoardUnableToReadPartition() override;
    int doScriptsInPath(const QString &scriptDirectory, const QString &wrapperFile) override;

private:
    bool call(const char *method);

    QPointer<QObject> m_controller;
};
