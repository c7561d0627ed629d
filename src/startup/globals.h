// Process-wide settings of the installer. Written only during start-up (and
// gMainWidget by the main controller's constructor); read everywhere after.
#pragma once

#include <QMap>
#include <QObject>
#include <QString>
#include <QStringList>

#include "util/debugmode.h"   // isDebugMode, gLCD4USBDebug, debugMode()

class BoardHardwareInfo;
class ConsoleLink;
class TMainWidget;
class IMFrame;

extern QString imgsmithConfFileName;
extern QString gSDCardPath;        // "/mnt/sdcard"
extern QString gUDiskPath;         // "/mnt/udisk"
extern bool isNeedLowFormat;
extern bool isOverlayfsDisabled;
extern QStringList excludeFilesList;
extern qint64 gOnboardFlashSize;   // KiB
extern QMap<QString, QString> gOnboardFlashLabels;
extern QMap<QString, QString> gOnboardFlashFSTypes;
extern QString gCurrentOSInOnboardFlash;
extern ConsoleLink *gConsoleLink;
extern TMainWidget *gMainWidget;
extern IMFrame *gIM;

// "v<major>.<minor> b<yymmdd>"
extern const char *const completeVersion;

bool globalIsNeedLowFormat();
bool globalIsOverlayfsDisabled();
QStringList getExcledeFilesList();
QString getImgSmithVersion();

// Puts every setting back to its start-up value (tests).
void resetGlobalsForTest();
