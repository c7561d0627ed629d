// The object that front-end events are posted to: the main controller
// (gMainWidget) in the program, a stand-in in tests. QtCore code cannot see
// the widget class, so the controller registers itself here as a QObject.
#pragma once

class QObject;
class QEvent;

void setMainControllerObject(QObject *receiver);
QObject *mainControllerObject();

// Hands `event` to the registered object's queue (which then owns it), or
// deletes it when none is registered. Safe from any thread.
void postToMainController(QEvent *event);
