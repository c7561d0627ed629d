#include "ui/autozoomlabel.h"

#include <QPainter>

namespace {
constexpr int kMinPixelSize = 12;
}

AutoZoomLabel::AutoZoomLabel(QWidget *parent) : QLabel(parent)
{
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);
}

int AutoZoomLabel::fittedPixelSize() const
{
    QFont f = font();
    int size = f.pixelSize() > 0 ? f.pixelSize() : QFontInfo(f).pixelSize();
    const int available = contentsRect().width();
    while (size > kMinPixelSize) {
        f.setPixelSize(size);
        if (QFontMetrics(f).horizontalAdvance(text()) <= available)
            break;
        --size;
    }
    return size;
}

void AutoZoomLabel::paintEvent(QPaintEvent *)
{
    QPainter p(this);
    QFont f = font();
    f.setPixelSize(fittedPixelSize());
    p.setFont(f);
    p.setPen(palette().color(QPalette::WindowText));
    const QRect r = contentsRect();
    p.drawText(r, Qt::AlignLeft | Qt::AlignVCenter, QFontMetrics(f).elidedText(text(), Qt::ElideRight, r.width()));
}
