// One image set on the OS selection screen: a card with the kind's icon,
// title, version and size (icon style) or a row (list style), and the
// auto-install badge when "autoStart" names this set.
#pragma once

#include "imageset/osconfig.h"

#include <QAbstractButton>

class OSButton : public QAbstractButton
{
    Q_OBJECT
public:
    enum ViewStyle { IconStyle, ListStyle };

    explicit OSButton(const OSConfig &os, QWidget *parent = nullptr);

    const OSConfig &osConfig() const { return m_os; }
    bool isAutoFlashing() const { return m_autoFlashing; }
    void setAutoFlashing(bool on);
    ViewStyle viewStyle() const { return m_style; }
    void setViewStyle(ViewStyle style);
    // 1.0 on a 480 px high screen.
    void setScale(double scale);

    // "1.2 GB": the sum of the set's files.
    QString sizeText() const;
    // Second line: version and where the set lies.
    QString detailText() const;

    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    void paintIcon(QPainter &p, const QRect &r) const;
    void paintBadge(QPainter &p, const QRect &card) const;

    OSConfig m_os;
    ViewStyle m_style = ListStyle;
    double m_scale = 1.0;
    bool m_autoFlashing = false;
};
