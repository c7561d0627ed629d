// Entry point of imgsmith-gui: the start-up sequence up to the user
// interface.
#include "board/boardhardwareinfo.h"
#include "frontend/rockchipvendorstorage.h"
#include "startup/cmdline.h"
#include "startup/globals.h"
#include "startup/imgsmithconf.h"
#include "startup/quitsignal.h"
#include "ui/consolelink.h"
#include "ui/imframe.h"
#include "ui/tmainwidget.h"
#include "util/log2file.h"
#include "util/util.h"

#include <QApplication>
#include <QDebug>
#include <QFont>
#include <QStringList>

#include <cstdio>

namespace {

// Debug lines belong on standard error even when the process has no
// terminal (a service, a test): Qt would otherwise hand them to the journal.
void messagesToStderr(QtMsgType type, const QMessageLogContext &context, const QString &message)
{
    const QByteArray line = qFormatLogMessage(type, context, message).toLocal8Bit();
    fprintf(stderr, "%s\n", line.constData());
    fflush(stderr);
}

} // namespace

int main(int argc, char *argv[])
{
    installQuitSignalHandlers();
    qInstallMessageHandler(messagesToStderr);
    log2file("imgsmith-gui started (build: %s, %s).\n", __DATE__, __TIME__);
    queue_debug_env();

    QApplication app(argc, argv);
    watchQuitSignals(&app);

    initBoardType();
    gCurrentBoardInfo = GetBoardType();

    QStringList args = app.arguments();
    CommandLineRequest request;
    const int rc = runArgumentPasses(args, request, gCurrentBoardInfo->getOnboardFlashType(),
                                     dumpSupportedBoards);
    if (rc != kContinueStartup)
        return rc;

    // Without its file an unattended start would sit in the menu, or never
    // quit, while the caller waits for an install that never begins.
    if (request.installConfNeeded && !writeInstallImgSmithConf(request.installPath, request.autoExit)) {
        qDebug() << "Error: cannot write " << QString::fromLatin1(kInstallConfFileName);
        log2file("cannot write %s\n", kInstallConfFileName);
        return kExitStartupFailure;
    }

    setCopyBufferSize(copyBufferSizeForCpu(gCurrentBoardInfo->cpuName));

    gConsoleLink = new ConsoleLink;

    gOnboardFlashSize = gCurrentBoardInfo->getOnboardFlashSize();
    const QString onboardDevice = gCurrentBoardInfo->getOnboardFlashDevFullName();
    Util::getPartitionInfo(onboardDevice, gOnboardFlashLabels, gOnboardFlashFSTypes);
    gCurrentOSInOnboardFlash = Util::getCurrntOSInOnboardFlash(gOnboardFlashLabels, gOnboardFlashFSTypes);
    log2file("onboard storage %s: %lld KiB, current OS: %s\n", qPrintable(onboardDevice),
             static_cast<long long>(gOnboardFlashSize), qPrintable(gCurrentOSInOnboardFlash));

    if (debugMode())
        RockchipVendorStorage::dumpRockchipVendorStorage();

    QFont font(QStringLiteral("Droid Sans Fallback"), 12, QFont::Normal, false);
    QApplication::setFont(font);
    QApplication::setQuitOnLastWindowClosed(true);

    auto *mainWidget = new TMainWidget;

    // Follows the focus from now on: text fields get the on-screen keyboard.
    gIM = new IMFrame(&app);

    mainWidget->setWindowFlags(mainWidget->windowFlags() | Qt::FramelessWindowHint);
    mainWidget->showFullScreen();
    const int result = app.exec();
    log2file("imgsmith-gui event loop ended: %d\n", result);

    delete gConsoleLink;
    gConsoleLink = nullptr;
    delete mainWidget;
    delete gIM;
    gIM = nullptr;
    return result;
}
