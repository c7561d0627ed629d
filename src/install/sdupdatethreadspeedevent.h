// Transfer speed of the current copy of the install job. The receiver
// computes the rate; the job only reports bytes and elapsed time.
#pragma once

#include <QEvent>
#include <QString>

class SDUpdateThreadSpeedEvent : public QEvent
{
public:
    static constexpr QEvent::Type SDUPDATE_SPEED_EVENT_TYPE = static_cast<QEvent::Type>(1101);

    SDUpdateThreadSpeedEvent(const QString &imageName, const QString &partitionName,
                             qint64 bytesDone, qint64 bytesTotal, double elapsedMs)
        : QEvent(SDUPDATE_SPEED_EVENT_TYPE),
          m_imageName(imageName),
          m_partitionName(partitionName),
          m_bytesDone(bytesDone),
          m_bytesTotal(bytesTotal),
          m_elapsedMs(elapsedMs)
    {
    }

    const QString &imageName() const { return m_imageName; }
    const QString &partitionName() const { return m_partitionName; }
    qint64 bytesDone() const { return m_bytesDone; }
    qint64 bytesTotal() const { return m_bytesTotal; }
    // Milliseconds since the start of the current file.
    double elapsedMs() const { return m_elapsedMs; }

private:
    QString m_imageName;
    QString m_partitionName;
    qint64 m_bytesDone = 0;
    qint64 m_bytesTotal = 0;
    double m_elapsedMs = 0;
};
