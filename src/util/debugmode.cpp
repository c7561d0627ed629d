#include "util/debugmode.h"

bool isDebugMode = false;
int gLCD4USBDebug = 0;

bool debugMode()
{
    return isDebugMode;
}
