// One key of the on-screen keyboard. Keys never take the focus: a tap must
// leave it on the text field that receives the character.
#pragma once

#include <QToolButton>

class Key : public QToolButton
{
    Q_OBJECT

public:
    Key(const QString &text, int width, int height, QWidget *parent = nullptr);
};
