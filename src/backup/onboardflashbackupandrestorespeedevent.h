// Bytes copied so far by the back-up job and the time it took; the
// receiver computes the rate.
#pragma once

#include <QEvent>

class OnboardFlashBackupAndRestoreSpeedEvent : public QEvent
{
public:
    static constexpr QEvent::Type ONBOARDFLASH_BR_SPEED_EVENT_TYPE = static_cast<QEvent::Type>(1201);

    OnboardFlashBackupAndRestoreSpeedEvent(qint64 bytesTotal, qint64 bytesDone, double elapsedMs)
        : QEvent(ONBOARDFLASH_BR_SPEED_EVENT_TYPE), m_bytesTotal(bytesTotal), m_bytesDone(bytesDone),
          m_elapsedMs(elapsedMs)
    {
    }

    qint64 bytesTotal() const { return m_bytesTotal; }
    qint64 bytesDone() const { return m_bytesDone; }
    // Milliseconds since the copy began.
    double elapsedMs() const { return m_elapsedMs; }

private:
    qint64 m_bytesTotal;
    qint64 m_bytesDone;
    double m_elapsedMs;
};
