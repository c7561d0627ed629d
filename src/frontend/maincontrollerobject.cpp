#include "frontend/maincontrollerobject.h"

#include "frontend/consolelinkevent.h"
#include "frontend/consolelinkmessageevent.h"
#include "frontend/usblcdevent.h"
#include "frontend/usblcdkeyevent.h"
#include "frontend/usblcdstatusline.h"
#include "util/debugmode.h"

#include <QCoreApplication>
#include <QDebug>

#include <atomic>

namespace {
// Written on the GUI thread at construction and destruction of the
// controller, read by every posting thread.
std::atomic<QObject *> gReceiver{nullptr};
} // namespace

void setMainControllerObject(QObject *receiver)
{
    gReceiver.store(receiver);
}

QObject *mainControllerObject()
{
    return gReceiver.load();
}

void postToMainController(QEvent *event)
{
    QObject *receiver = gReceiver.load();
    if (!receiver) {
        delete event;
        return;
    }
    QCoreApplication::postEvent(receiver, event);
}

void ConsoleLinkEvent::showTextToConsoleLink(const QStringList &lines, const QStringList &acceptedInputs)
{
    postToMainController(new ConsoleLinkEvent(lines, acceptedInputs));
}

void ConsoleLinkMessageEvent::sendConsoleLinkMessageEvent(const QString &text)
{
    postToMainController(new ConsoleLinkMessageEvent(text));
}

void USBLCDEvent::showTextToUSBLCD(const QStringList &lines, const QStringList &terminalLines, bool newLine)
{
    writeUSBLCDStatusLine(lines, terminalLines, newLine);
    postToMainController(new USBLCDEvent(lines));
}

void USBLCDKeyEvent::sendUsbLCDKeyPressedEvent(int key)
{
    if (debugMode())
        qDebug() << "#### USBLCDKeyPressed: " << key;
    postToMainController(new USBLCDKeyEvent(key));
}
