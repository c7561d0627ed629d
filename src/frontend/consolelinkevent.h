// A console screen on its way to the console client: the lines to publish
// and the inputs that screen accepts. Posted to the main controller from any
// thread; the controller keeps the accepted inputs for the interpreter.
#pragma once

#include <QEvent>
#include <QStringList>

class ConsoleLinkEvent : public QEvent
{
public:
    static constexpr QEvent::Type CONSOLELINK_EVENT_TYPE = static_cast<QEvent::Type>(1104);

    ConsoleLinkEvent(const QStringList &lines, const QStringList &acceptedInputs)
        : QEvent(CONSOLELINK_EVENT_TYPE), m_lines(lines), m_acceptedInputs(acceptedInputs)
    {
    }

    const QStringList &lines() const { return m_lines; }
    const QStringList &acceptedInputs() const { return m_acceptedInputs; }

    // Posts a screen to gMainWidget; dropped when no controller exists yet.
    static void showTextToConsoleLink(const QStringList &lines, const QStringList &acceptedInputs);

private:
    QStringList m_lines;
    QStringList m_acceptedInputs;
};
