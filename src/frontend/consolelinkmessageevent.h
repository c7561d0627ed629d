// One command typed on the console client, already simplified, on its way
// from the socket to the main controller.
#pragma once

#include <QEvent>
#include <QString>

class ConsoleLinkMessageEvent : public QEvent
{
public:
    static constexpr QEvent::Type CONSOLELINK_MESSAGE_EVENT_TYPE = static_cast<QEvent::Type>(1105);

    explicit ConsoleLinkMessageEvent(const QString &text)
        : QEvent(CONSOLELINK_MESSAGE_EVENT_TYPE), m_text(text)
    {
    }

    const QString &text() const { return m_text; }

    // Posts the text to gMainWidget; dropped when no controller exists yet.
    static void sendConsoleLinkMessageEvent(const QString &text);

private:
    QString m_text;
};
