#include "ui/osbutton.h"

#include "frontend/imagesetscanner.h"
#include "util/qpaths.h"
#include "util/util.h"

#include <QPainter>
#include <QPainterPath>
#include <QPixmap>

namespace {

const QColor kSurface(0xFF, 0xFF, 0xFF);
const QColor kBorder(0xDD, 0xE1, 0xE6);
const QColor kText(0x1F, 0x23, 0x28);
const QColor kSecondary(0x59, 0x63, 0x6E);
const QColor kPrimary(0x17, 0x69, 0xAA);
const QColor kPressedFill(0xE8, 0xF1, 0xF9);

int px(double scale, int v)
{
    return qRound(v * scale);
}

} // namespace

OSButton::OSButton(const OSConfig &os, QWidget *parent) : QAbstractButton(parent), m_os(os)
{
    setText(os.title);
    setFocusPolicy(Qt::NoFocus);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
}

void OSButton::setAutoFlashing(bool on)
{
    if (m_autoFlashing == on)
        return;
    m_autoFlashing = on;
    update();
}

void OSButton::setViewStyle(ViewStyle style)
{
    m_style = style;
    setSizePolicy(style == ListStyle ? QSizePolicy::Expanding : QSizePolicy::Fixed, QSizePolicy::Fixed);
    updateGeometry();
    update();
}

void OSButton::setScale(double scale)
{
    if (qFuzzyCompare(scale, m_scale))
        return;
    m_scale = scale;
    updateGeometry();
    update();
}

QString OSButton::sizeText() const
{
    qint64 total = 0;
    for (qint64 s : m_os.imageFileSizes)
        total += s;
    if (m_os.osType == RawImage)
        total = m_os.sizeOfFile(m_os.os_raw_img);
    return total > 0 ? Util::size_human(total) : QString();
}

QString OSButton::detailText() const
{
    const QString where = unSysPath(ImageSetScanner::autoStartPathOf(m_os));
    return m_os.version.isEmpty() ? where : m_os.version + QStringLiteral("  ·  ") + where;
}

QSize OSButton::sizeHint() const
{
    if (m_style == IconStyle)
        return QSize(px(m_scale, 184), px(m_scale, 176));
    return QSize(px(m_scale, 400), px(m_scale, 62));
}

void OSButton::paintIcon(QPainter &p, const QRect &r) const
{
    const QPixmap pix(m_os.icon);
    if (!pix.isNull()) {
        p.drawPixmap(r, pix.scaled(r.size() * devicePixelRatioF(), Qt::KeepAspectRatio, Qt::SmoothTransformation));
        return;
    }
    // No picture for this kind: a plain tile with the title's initial.
    QPainterPath tile;
    tile.addRoundedRect(r, r.width() * 0.22, r.width() * 0.22);
    p.fillPath(tile, kSecondary);
    QFont f = font();
    f.setPixelSize(r.height() / 2);
    f.setBold(true);
    p.setFont(f);
    p.setPen(Qt::white);
    p.drawText(r, Qt::AlignCenter, m_os.title.left(1).toUpper());
}

void OSButton::paintBadge(QPainter &p, const QRect &card) const
{
    QFont f = font();
    f.setPixelSize(px(m_scale, 11));
    f.setBold(true);
    const QString text = tr("AUTO");
    const int w = QFontMetrics(f).horizontalAdvance(text) + px(m_scale, 14);
    const int h = px(m_scale, 20);
    const QRect badge(card.right() - w - px(m_scale, 8), card.top() + px(m_scale, 8), w, h);
    QPainterPath pill;
    pill.addRoundedRect(badge, h / 2.0, h / 2.0);
    p.fillPath(pill, kPrimary);
    p.setFont(f);
    p.setPen(Qt::white);
    p.drawText(badge, Qt::AlignCenter, text);
}

void OSButton::paintEvent(QPaintEvent *)
{
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    const QRectF card = QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5);
    QPainterPath path;
    path.addRoundedRect(card, px(m_scale, 8), px(m_scale, 8));
    p.fillPath(path, isDown() ? kPressedFill : kSurface);
    p.setPen(QPen(isDown() || m_autoFlashing ? kPrimary : kBorder, m_autoFlashing ? 2 : 1));
    p.drawPath(path);

    QFont titleFont = font();
    titleFont.setPixelSize(px(m_scale, 16));
    titleFont.setBold(true);
    QFont smallFont = font();
    smallFont.setPixelSize(px(m_scale, 13));
    const int pad = px(m_scale, 12);

    if (m_style == ListStyle) {
        const int icon = px(m_scale, 40);
        const QRect iconRect(pad, (height() - icon) / 2, icon, icon);
        paintIcon(p, iconRect);
        const QString size = sizeText();
        p.setFont(smallFont);
        const int sizeWidth = QFontMetrics(smallFont).horizontalAdvance(size) + pad;
        int right = width() - pad - sizeWidth;
        if (m_autoFlashing)
            right -= px(m_scale, 60);
        const QRect text(iconRect.right() + pad, 0, qMax(0, right - iconRect.right() - pad), height());
        p.setPen(kSecondary);
        p.drawText(QRect(width() - pad - sizeWidth, 0, sizeWidth, height()), Qt::AlignRight | Qt::AlignVCenter, size);
        const QRect top(text.left(), px(m_scale, 9), text.width(), height() / 2 - px(m_scale, 9));
        const QRect bottom(text.left(), height() / 2, text.width(), height() / 2 - px(m_scale, 7));
        p.setFont(titleFont);
        p.setPen(kText);
        p.drawText(top, Qt::AlignLeft | Qt::AlignVCenter,
                   QFontMetrics(titleFont).elidedText(m_os.title, Qt::ElideRight, top.width()));
        p.setFont(smallFont);
        p.setPen(kSecondary);
        p.drawText(bottom, Qt::AlignLeft | Qt::AlignVCenter,
                   QFontMetrics(smallFont).elidedText(detailText(), Qt::ElideMiddle, bottom.width()));
        if (m_autoFlashing) {
            const QRect badgeArea(right, (height() - px(m_scale, 36)) / 2, px(m_scale, 60), px(m_scale, 20));
            paintBadge(p, badgeArea.adjusted(0, -px(m_scale, 8), px(m_scale, 8), 0));
        }
        return;
    }

    const int icon = px(m_scale, 72);
    const QRect iconRect((width() - icon) / 2, pad + px(m_scale, 4), icon, icon);
    paintIcon(p, iconRect);
    const int textWidth = width() - 2 * pad;
    int y = iconRect.bottom() + px(m_scale, 8);
    p.setFont(titleFont);
    p.setPen(kText);
    const int titleHeight = QFontMetrics(titleFont).height();
    p.drawText(QRect(pad, y, textWidth, titleHeight), Qt::AlignHCenter | Qt::AlignVCenter,
               QFontMetrics(titleFont).elidedText(m_os.title, Qt::ElideRight, textWidth));
    y += titleHeight + px(m_scale, 2);
    p.setFont(smallFont);
    p.setPen(kSecondary);
    const QString second = m_os.version.isEmpty() ? sizeText() : m_os.version + QStringLiteral("  ·  ") + sizeText();
    p.drawText(QRect(pad, y, textWidth, QFontMetrics(smallFont).height()), Qt::AlignHCenter | Qt::AlignVCenter,
               QFontMetrics(smallFont).elidedText(second, Qt::ElideRight, textWidth));
    // Two sets of one kind share a title; where they lie tells them apart.
    y += QFontMetrics(smallFont).height();
    const QString where = unSysPath(m_os.imagePath).section(QLatin1Char('/'), -1);
    p.drawText(QRect(pad, y, textWidth, QFontMetrics(smallFont).height()), Qt::AlignHCenter | Qt::AlignVCenter,
               QFontMetrics(smallFont).elidedText(where, Qt::ElideMiddle, textWidth));
    if (m_autoFlashing)
        paintBadge(p, rect());
}
