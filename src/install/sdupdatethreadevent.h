// Progress or error of the install job, posted to the watching controller.
#pragma once

#include <QEvent>
#include <QString>

class SDUpdateThreadEvent : public QEvent
{
public:
    static constexpr QEvent::Type SDUPDATE_EVENT_TYPE = static_cast<QEvent::Type>(1100);

    // Progress form: percent 0..100 of file fileIndex (1-based) of fileCount.
    SDUpdateThreadEvent(bool erasing, const QString &imageName, const QString &partitionName,
                        int percent, int fileCount, int fileIndex);
    // Error form: every other field empty or zero.
    explicit SDUpdateThreadEvent(const QString &errorMessage);

    bool isErasing() const { return m_erasing; }
    int percent() const { return m_percent; }
    const QString &imageName() const { return m_imageName; }
    const QString &partitionName() const { return m_partitionName; }
    int fileCount() const { return m_fileCount; }
    int fileIndex() const { return m_fileIndex; }
    // Progress of reading the image back after it was written.
    bool isVerifying() const { return m_verifying; }
    void setVerifying(bool on) { m_verifying = on; }
    bool isError() const { return m_isError != 0; }
    const QString &errorMessage() const { return m_errorMessage; }

private:
    bool m_erasing = false;
    bool m_verifying = false;
    int m_percent = 0;
    QString m_imageName;
    QString m_partitionName;
    int m_fileCount = 0;
    int m_fileIndex = 0;
    int m_isError = 0;
    QString m_errorMessage;
};
