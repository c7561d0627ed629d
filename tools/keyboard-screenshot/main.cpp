// imgsmith-keyboard-screenshot <out.png>
//
// An 800x480 screen with a file-name dialog whose field has the focus, so
// the on-screen keyboard comes up as it does on a board; the window, the
// dialog and the keyboard are grabbed and laid over each other as the
// screen shows them.
#include "ui/imframe.h"
#include "ui/keyboard.h"

#include <QApplication>
#include <QDialog>
#include <QDialogButtonBox>
#include <QFont>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QScreen>
#include <QTimer>
#include <QVBoxLayout>

#include <cstdio>

int main(int argc, char **argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    if (app.arguments().size() != 2) {
        fprintf(stderr, "usage: imgsmith-keyboard-screenshot <out.png>\n");
        return 2;
    }
    QApplication::setFont(QFont(QStringLiteral("Droid Sans Fallback"), 12, QFont::Normal, false));
    const QSize size(800, 480);

    QWidget screen;
    screen.setStyleSheet(QStringLiteral("background: #F5F6F8;"));
    screen.setFixedSize(size);
    screen.show();

    QDialog dialog(&screen);
    dialog.setStyleSheet(QStringLiteral(
        "QDialog { background: #FFFFFF; border: 1px solid #DDE1E6; border-radius: 8px; }"
        "QLabel { color: #1F2328; font-size: 16px; }"
        "QLineEdit { font-size: 16px; padding: 6px; border: 1px solid #1769AA; border-radius: 6px; }"));
    auto *layout = new QVBoxLayout(&dialog);
    layout->addWidget(new QLabel(QStringLiteral("Back-up file name:"), &dialog));
    auto *field = new QLineEdit(QStringLiteral("emmc-backup-20261206"), &dialog);
    layout->addWidget(field);
    layout->addWidget(new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, &dialog));
    dialog.setFixedWidth(480);

    IMFrame im;
    dialog.open();
    field->setFocus();
    dialog.move((size.width() - dialog.width()) / 2, 30);

    int status = 3;
    QTimer::singleShot(200, &app, [&] {
        Keyboard *keyboard = im.keyboard();
        if (!keyboard->isVisible()) {
            fprintf(stderr, "the keyboard did not come up\n");
            QCoreApplication::exit(1);
            return;
        }
        QPixmap shot = screen.grab();
        QPainter painter(&shot);
        painter.drawPixmap(dialog.pos(), dialog.grab());
        // Placed on the bottom edge of an 800 x 480 panel, as on a board.
        painter.drawPixmap(0, size.height() - keyboard->height(), keyboard->grab());
        painter.end();
        status = shot.save(app.arguments().at(1)) ? 0 : 1;
        QCoreApplication::exit(status);
    });
    return app.exec();
}
