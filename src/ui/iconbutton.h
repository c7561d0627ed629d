// A square picture button for the screens' few tool actions (menu, back),
// drawn flat so that it scales with the screen.
#pragma once

#include <QAbstractButton>

class IconButton : public QAbstractButton
{
    Q_OBJECT
public:
    enum Shape { Menu, Back };

    explicit IconButton(Shape shape, QWidget *parent = nullptr);

    Shape shape() const { return m_shape; }
    QSize sizeHint() const override { return QSize(48, 48); }

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    Shape m_shape;
};
