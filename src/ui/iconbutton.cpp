#include "ui/iconbutton.h"

#include <QPainter>
#include <QPainterPath>

IconButton::IconButton(Shape shape, QWidget *parent) : QAbstractButton(parent), m_shape(shape)
{
    setFocusPolicy(Qt::NoFocus);
    setToolTip(shape == Menu ? tr("Menu") : tr("Back"));
}

void IconButton::paintEvent(QPaintEvent *)
{
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    const QRectF r = QRectF(rect()).adjusted(1, 1, -1, -1);
    QPainterPath bg;
    bg.addRoundedRect(r, 8, 8);
    p.fillPath(bg, isDown() ? QColor(0xDD, 0xE1, 0xE6) : QColor(0xFF, 0xFF, 0xFF));
    p.setPen(QPen(QColor(0xDD, 0xE1, 0xE6), 1));
    p.drawPath(bg);

    const qreal unit = r.width() / 12.0;
    QPen pen(QColor(0x1F, 0x23, 0x28), qMax<qreal>(2.0, unit * 0.9), Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
    p.setPen(pen);
    const QPointF c = r.center();
    if (m_shape == Menu) {
        for (int i = -1; i <= 1; ++i)
            p.drawLine(QPointF(c.x() - 3.5 * unit, c.y() + i * 2.6 * unit), QPointF(c.x() + 3.5 * unit, c.y() + i * 2.6 * unit));
    } else {
        p.drawLine(QPointF(c.x() + 3 * unit, c.y()), QPointF(c.x() - 3 * unit, c.y()));
        p.drawLine(QPointF(c.x() - 3 * unit, c.y()), QPointF(c.x(), c.y() - 3 * unit));
        p.drawLine(QPointF(c.x() - 3 * unit, c.y()), QPointF(c.x(), c.y() + 3 * unit));
    }
}
