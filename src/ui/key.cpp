#include "ui/key.h"

#include <QFont>

Key::Key(const QString &text, int width, int height, QWidget *parent)
    : QToolButton(parent)
{
    setObjectName(QStringLiteral("KEYBOARD"));
    setText(text);
    setFixedSize(width, height);
    setFont(QFont(QStringLiteral("helvetica"), 10, QFont::Bold));
    setFocusPolicy(Qt::NoFocus);
    setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
}
