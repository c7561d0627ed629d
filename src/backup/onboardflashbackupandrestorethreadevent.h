// Progress or error of the back-up job. An error event ends a run; its
// message is empty unless isError.
#pragma once

#include <QEvent>
#include <QString>

class OnboardFlashBackupAndRestoreThreadEvent : public QEvent
{
public:
    static constexpr QEvent::Type ONBOARDFLASH_BR_EVENT_TYPE = static_cast<QEvent::Type>(1200);

    OnboardFlashBackupAndRestoreThreadEvent(int action, int percent, bool isError, const QString &message)
        : QEvent(ONBOARDFLASH_BR_EVENT_TYPE), m_action(action), m_percent(percent), m_isError(isError),
          m_message(message)
    {
    }

    int action() const { return m_action; }
    int percent() const { return m_percent; }
    bool isError() const { return m_isError; }
    const QString &message() const { return m_message; }

private:
    int m_action;
    int m_percent;
    bool m_isError;
    QString m_message;
};
