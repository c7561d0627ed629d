// A one-line label whose font shrinks until the text fits its width, down to
// a floor that stays readable.
#pragma once

#include <QLabel>

class AutoZoomLabel : public QLabel
{
    Q_OBJECT
public:
    explicit AutoZoomLabel(QWidget *parent = nullptr);

    // The pixel size the text is drawn with after shrinking.
    int fittedPixelSize() const;

protected:
    void paintEvent(QPaintEvent *event) override;
};
