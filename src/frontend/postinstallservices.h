// The board services the post-install steps call on the main controller:
// re-reading the onboard system, the Rockchip MAC address resets and the
// user scripts kept beside a restored back-up. The main controller provides
// them; tests stand in for it.
#pragma once

#include <QString>

class PostInstallServices
{
public:
    virtual ~PostInstallServices() = default;

    virtual void reNewCurrentOSInfo() = 0;
    virtual void resetRockchipUbootMacAddress() = 0;
    virtual void resetRK3399MacAddress() = 0;
    // The new partitions cannot be read before a reboot (RK3399).
    virtual bool isBoardUnableToReadPartition() = 0;
    // Runs the "*.sh" scripts of `scriptDirectory` through `wrapperFile`:
    // 0 done (or nothing to run), -2 partitions unreadable, else failure.
    virtual int doScriptsInPath(const QString &scriptDirectory, const QString &wrapperFile) = 0;
};
