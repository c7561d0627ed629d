// SIGTERM and SIGINT end imgsmith-gui like the menu's quit: the event loop
// returns and start-up tears down the console link and the controller (a
// service manager stopping the installer must not leave the shared memory
// segment or the LCD half-written). The handler only writes to a pipe; the
// GUI thread reads it.
#pragma once

class QObject;

// Installs the handlers; call first thing in main(), before any thread.
void installQuitSignalHandlers();
// Starts reading the pipe on the GUI thread (needs the application object).
// A signal that arrived earlier is acted on as soon as the loop runs.
void watchQuitSignals(QObject *parent);
