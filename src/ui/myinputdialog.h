// The file-name dialog of the back-up mode: a text input covering the whole
// screen (the on-screen keyboard needs the room), opened non-modal so the
// console and the LCD stay live.
#pragma once

#include <QInputDialog>

class MyInputDialog : public QInputDialog
{
    Q_OBJECT
public:
    explicit MyInputDialog(QWidget *parent = nullptr);

    // Label, proposed text; shows the dialog over the whole parent.
    void open(const QString &label, const QString &text);
};
