// imgsmith-screenshot <width>x<height> icon|list <out.png>
//
// Starts the screens as imgsmith-gui does (board identified below
// IMGSMITH_ROOT, the main controller at the given size, offscreen), waits for
// the first scan and saves QWidget::grab() of the window.
#include "screenshotboard.h"
#include "startup/globals.h"
#include "ui/tmainwidget.h"
#include "ui/tosselectwidget.h"

#include <QApplication>
#include <QFont>
#include <QTimer>

#include <cstdio>

int main(int argc, char **argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const QStringList args = app.arguments();
    const QStringList size = args.value(1).split(QLatin1Char('x'));
    if (args.size() != 4 || size.size() != 2 || (args.at(2) != QLatin1String("icon") && args.at(2) != QLatin1String("list"))) {
        fprintf(stderr, "usage: imgsmith-screenshot <width>x<height> icon|list <out.png>\n");
        return 2;
    }
    identifyScreenshotBoard();

    TMainWidget main;
    main.resize(size.at(0).toInt(), size.at(1).toInt());
    main.show();
    TOSSelectWidget *select = main.osSelectWidget();
    const auto style = args.at(2) == QLatin1String("icon") ? TOSSelectWidget::ICON_STYLE : TOSSelectWidget::LIST_STYLE;
    int status = 1;
    QObject::connect(select, &TOSSelectWidget::imageFilesReloaded, &app, [&] {
        // The configuration's view style arrives one pass after the scan.
        QTimer::singleShot(50, &app, [&] {
            select->setViewType(style);
            QCoreApplication::processEvents();
            status = main.grab().save(args.at(3)) ? 0 : 1;
            QCoreApplication::exit(status);
        });
    });
    QTimer::singleShot(20000, &app, [] { QCoreApplication::exit(3); });
    return app.exec();
}
