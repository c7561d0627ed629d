// The install job's stages for boards that boot a Rockchip SoC from UFS.
//
// The data unit of the UFS device ("/dev/sda") takes the system like any
// other target; the boot ROM, however, loads the IDB loader from boot unit A,
// which appears as "/dev/sdb" only once the device has been provisioned.
// These stages find the loader (from the image set, or built in for the SoC),
// provision the device when the boot unit is missing, and write the loader
// there after the system has been written.
//
// Each stage returns true to let the install go on, or false with *error set
// to the one message the job posts before it stops. Paths in messages are
// shown as the running system names them.
#pragma once

#include <QString>

class BoardHardwareInfo;
class TargetDevice;

// What the UFS stages of one install share. Owned by the install job for the
// whole run; the generated loader's directory is removed when the plan goes
// (or earlier through ufsRemoveTempDir).
struct UfsBootPlan
{
    UfsBootPlan() = default;
    ~UfsBootPlan();
    UfsBootPlan(const UfsBootPlan &) = delete;
    UfsBootPlan &operator=(const UfsBootPlan &) = delete;

    bool isRockchipUfs = false;
    QString bootUnit;       // "/dev/sdb"
    QString loaderPath;     // the IDB loader to write there
    QString tmpDir;         // holds a generated loader; empty when none was made
};

// Polling for the boot unit after provisioning: `attempts` looks,
// `intervalMs` apart.
struct UfsPollPolicy
{
    int attempts = 10;
    int intervalMs = 200;
};

// The board boots from UFS (its record says so) and has a Rockchip SoC.
bool ufsBoardNeedsBootLoader(const BoardHardwareInfo &board);

// Chooses the loader for a UFS boot. `idbloaderName` is the set's loader
// file name (may be empty); `imagePath` the set's directory. Leaves
// plan->isRockchipUfs false when the board does not boot from UFS or the
// user chose a boot device other than the UFS device.
bool ufsPrepareBootLoader(const BoardHardwareInfo &board, const QString &imagePath,
                          const QString &idbloaderName, const TargetDevice &bootDevice,
                          UfsBootPlan *plan, QString *error);

// Provisions the UFS device when its boot unit is missing and waits for the
// unit to appear; then the loader must be there. Nothing to do unless
// plan.isRockchipUfs.
bool ufsBringUp(const UfsBootPlan &plan, QString *error,
                const UfsPollPolicy &poll = UfsPollPolicy());

// Writes the loader into the IDB area of the boot unit (both copies) and
// forces it out. Releases a device the job still holds open first. Nothing
// to do unless plan.isRockchipUfs and a boot device is set.
bool ufsWriteBootLoader(const UfsBootPlan &plan, const TargetDevice &bootDevice, QString *error);

// Removes the generated loader's directory, if any ("cleanup tmpdir: ..."
// in the log). Safe to call more than once.
void ufsRemoveTempDir(UfsBootPlan *plan);
