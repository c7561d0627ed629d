#include "startup/globals.h"

QString imgsmithConfFileName;
QString gSDCardPath = QStringLiteral("/mnt/sdcard");
QString gUDiskPath = QStringLiteral("/mnt/udisk");
bool isNeedLowFormat = false;
bool isOverlayfsDisabled = false;
QStringList excludeFilesList;
qint64 gOnboardFlashSize = 0;
QMap<QString, QString> gOnboardFlashLabels;
QMap<QString, QString> gOnboardFlashFSTypes;
QString gCurrentOSInOnboardFlash;
ConsoleLink *gConsoleLink = nullptr;
TMainWidget *gMainWidget = nullptr;
IMFrame *gIM = nullptr;

const char *const completeVersion = "v1.5 b260402";

bool globalIsNeedLowFormat()
{
    return isNeedLowFormat;
}

bool globalIsOverlayfsDisabled()
{
    return isOverlayfsDisabled;
}

QStringList getExcledeFilesList()
{
    return excludeFilesList;
}

QString getImgSmithVersion()
{
    return QString::fromLatin1(completeVersion);
}

void resetGlobalsForTest()
{
    isDebugMode = false;
    gLCD4USBDebug = 0;
    imgsmithConfFileName.clear();
    gSDCardPath = QStringLiteral("/mnt/sdcard");
    gUDiskPath = QStringLiteral("/mnt/udisk");
    isNeedLowFormat = false;
    isOverlayfsDisabled = false;
    excludeFilesList.clear();
    gOnboardFlashSize = 0;
    gOnboardFlashLabels.clear();
    gOnboardFlashFSTypes.clear();
    gCurrentOSInOnboardFlash.clear();
}
