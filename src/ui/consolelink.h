// The console client link: a local socket server for commands and a shared
// memory segment holding the current console screen. This build has no
// console front-end yet; the class keeps the start-up and controller seam.
#pragma once

#include <QObject>
#include <QString>
#include <QStringList>

class ConsoleLink : public QObject
{
    Q_OBJECT
public:
    static const QString console_Title_SplitText;
    static const QString console_Tail_SplitText;
    static const QString console_UseChoose_PrefixText;
    static const QString console_spaces;

    explicit ConsoleLink(QObject *parent = nullptr);

    void displayTextToConsoleLink(const QStringList &lines);

public slots:
    void socketTextReceived(const QString &text);
};
