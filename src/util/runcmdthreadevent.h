// The event a RunCmdThread posts to its receiver for every chunk of output.
#pragma once

#include <QEvent>
#include <QStringList>

class RunCmdThreadEvent : public QEvent
{
public:
    RunCmdThreadEvent(QEvent::Type type, const QStringList &lines)
        : QEvent(type), m_lines(lines)
    {
    }

    // Lines of one read: standard output first, then standard error; empty
    // parts between line ends are kept.
    const QStringList &lines() const { return m_lines; }

private:
    QStringList m_lines;
};
