// imgsmith-install-screenshot <width>x<height> preview|progress <set> <out.png>
//
// Starts the screens as imgsmith-gui does on the board below IMGSMITH_ROOT,
// chooses the image set <set> (a directory as the board names it) and saves
// the preview, or the progress view of a real install held in the middle of
// a later image once the speed is shown; that install is then cancelled.
#include "../screenshots/screenshotboard.h"
#include "imageset/osconfig.h"
#include "install/sdupdatethread.h"
#include "startup/globals.h"
#include "ui/tdownloaddetailwidget.h"
#include "ui/tmainwidget.h"
#include "ui/tosselectwidget.h"
#include "ui/tprogresswidget.h"
#include "util/qpaths.h"

#include <QApplication>
#include <QDir>
#include <QFont>
#include <QSemaphore>
#include <QTimer>

#include <cstdio>

namespace {

// The install waits halfway through its second or a later image until the
// speed display's delay has passed, then at the next report until the
// picture is taken (worker thread).
QSemaphore g_resume, g_reached, g_release;

void holdInstall(int fileIndex, int percent)
{
    static int stage = 0;
    if (stage == 0 && fileIndex >= 2 && percent >= 50 && percent < 100) {
        stage = 1;
        g_resume.acquire();
    } else if (stage == 1) {
        stage = 2;
        g_reached.release();
        g_release.acquire();
    }
}

} // namespace

int main(int argc, char **argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const QStringList args = app.arguments();
    const QStringList size = args.value(1).split(QLatin1Char('x'));
    const bool progress = args.value(2) == QLatin1String("progress");
    if (args.size() != 5 || size.size() != 2 || (!progress && args.at(2) != QLatin1String("preview"))) {
        fprintf(stderr, "usage: imgsmith-install-screenshot <width>x<height> preview|progress <set> <out.png>\n");
        return 2;
    }
    identifyScreenshotBoard();

    TMainWidget main;
    main.resize(size.at(0).toInt(), size.at(1).toInt());
    main.show();
    TDownloadDetailWidget *detail = main.downloadDetailWidget();
    const QString setPath = args.at(3);
    const QString out = args.at(4);
    int status = 1;
    auto grab = [&]() {
        QCoreApplication::processEvents();
        status = main.grab().save(out) ? 0 : 1;
    };
    QObject::connect(main.osSelectWidget(), &TOSSelectWidget::imageFilesReloaded, &app, [&] {
        static bool once = false;
        if (once)
            return;
        once = true;
        const QStringList files = QDir(sysPath(setPath)).entryList(QDir::Files, QDir::Name);
        main.osSelected(OSConfig(setPath, files));
        if (!progress) {
            grab();
            QCoreApplication::exit(status);
            return;
        }
        detail->progressWidget()->job()->setProgressObserver(holdInstall);
        detail->nextButtonClicked();
        QTimer::singleShot(5500, &app, [&] {
            g_resume.release();
            auto *poll = new QTimer(&app);
            QObject::connect(poll, &QTimer::timeout, &app, [&, poll] {
                if (!g_reached.tryAcquire())
                    return;
                poll->stop();
                // The events posted before the hold are delivered first.
                QTimer::singleShot(200, &app, [&] {
                    grab();
                    detail->cancelFlashing();
                    g_release.release();
                    QObject::connect(detail, &TDownloadDetailWidget::backButtonPressed, &app,
                                     [&] { QCoreApplication::exit(status); });
                });
            });
            poll->start(20);
        });
    });
    QTimer::singleShot(60000, &app, [] { QCoreApplication::exit(3); });
    return app.exec();
}
