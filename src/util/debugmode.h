// The process-wide debug switch. Plain C++ so that the storage layer can
// consult it; set once at start-up from "debug_imgsmith"/"imgsmith_debug".
#pragma once

extern bool isDebugMode;
extern int gLCD4USBDebug;

bool debugMode();
