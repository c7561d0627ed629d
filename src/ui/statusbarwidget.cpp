#include "ui/statusbarwidget.h"

#include <QPainter>
#include <QPainterPath>

StatusBarWidget::StatusBarWidget(QWidget *parent) : QWidget(parent)
{
    setObjectName(QStringLiteral("statusBar"));
    setFixedHeight(30);
}

void StatusBarWidget::setTexts(const QStringList &texts)
{
    if (texts == m_texts)
        return;
    m_texts = texts;
    update();
}

void StatusBarWidget::setTextsHidden(bool hidden)
{
    m_textsHidden = hidden;
    update();
}

void StatusBarWidget::setUSBDrivePresent(bool present)
{
    m_usbDrivePresent = present;
    update();
}

void StatusBarWidget::paintEvent(QPaintEvent *)
{
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    p.fillRect(rect(), QColor(0x1F, 0x23, 0x28));
    const int h = height();
    const int pad = h / 3;
    int right = width() - pad;

    if (m_usbDrivePresent) {
        // A small drive: body and connector.
        const qreal u = h / 10.0;
        const QRectF body(right - 8 * u, 3 * u, 5 * u, 5 * u);
        QPainterPath path;
        path.addRoundedRect(body, u, u);
        p.fillPath(path, Qt::white);
        p.fillRect(QRectF(body.right(), 4 * u, 2.5 * u, 3 * u), Qt::white);
        right -= qRound(10 * u);
    }
    if (m_textsHidden || m_texts.isEmpty())
        return;

    QFont f = font();
    f.setPixelSize(qMax(12, h * 45 / 100));
    p.setFont(f);
    p.setPen(Qt::white);
    const QFontMetrics fm(f);
    const int gap = pad * 2;
    const int available = right - pad - gap * (m_texts.size() - 1);
    // The first text (storage) takes what the others leave, elided in the
    // middle; the others are short.
    int others = 0;
    for (int i = 1; i < m_texts.size(); ++i)
        others += fm.horizontalAdvance(m_texts.at(i)) + 4;
    int x = pad;
    for (int i = 0; i < m_texts.size(); ++i) {
        const int w = i == 0 ? qMax(0, available - others) : fm.horizontalAdvance(m_texts.at(i)) + 4;
        const QString t = fm.elidedText(m_texts.at(i), Qt::ElideMiddle, w);
        p.drawText(QRect(x, 0, w, h), Qt::AlignLeft | Qt::AlignVCenter, t);
        x += w + gap;
        if (i + 1 < m_texts.size()) {
            p.setPen(QColor(0x59, 0x63, 0x6E));
            p.drawLine(x - gap / 2, h / 4, x - gap / 2, h * 3 / 4);
            p.setPen(Qt::white);
        }
    }
}
