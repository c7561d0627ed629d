// One console screen: the lines the console client shows and the inputs it
// accepts. Screens share one layout (split line, title, split line, message
// lines, tail line, prompt), which build() produces.
#pragma once

#include <QString>
#include <QStringList>

struct ConsoleScreen
{
    QStringList lines;
    QStringList acceptedInputs;

    static const QString &titleSplitText();   // 70 "-"
    static const QString &tailSplitText();    // 70 "-"
    static const QString &choosePrefixText(); // ">>>"
    static const QString &spaces();           // two blanks

    // The standard layout; the prompt line is the choose prefix followed by
    // `prompt`. `acceptedInputs` gets "reboot", "poweroff" and "c" added.
    static ConsoleScreen build(const QString &title, const QStringList &messages,
                               const QString &prompt, const QStringList &extraInputs = QStringList());

    // Sends the screen to the main controller (any thread).
    void show() const;

    // The text the shared memory segment holds for `lines`: split lines and
    // the prompt as they are, every other line indented by two blanks.
    static QString publishedText(const QStringList &lines);
};
