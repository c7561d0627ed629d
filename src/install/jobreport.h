// The record an install or a back-up leaves on the removable medium it used:
// one JSON object per line in "imgsmith-report.jsonl" at the medium's root.
// The jobs fill it as they go and append it once when they end, whatever
// the outcome; a medium that cannot take it is skipped with a log line and
// never changes the job's own result.
#pragma once

#include <QElapsedTimer>
#include <QJsonArray>
#include <QJsonObject>
#include <QString>

class TargetDevice;

class JobReport
{
public:
    enum Result { Ok, Failed, Cancelled };

    // Takes the start time and the running board (gCurrentBoardInfo).
    // `operation` is "install" or "backup".
    explicit JobReport(const QString &operation);

    // A restore is an install of a back-up; the record says which.
    void setOperation(const QString &operation) { m_operation = operation; }
    // Paths as the running system names them; they are reported with every
    // link resolved, so a set reached through a link shows where it lies.
    void setImageSet(const QString &path, const QString &kind);
    // `role` says what the device is to the job: "boot", "system", "source".
    // Its size is `bytes` when the job measured it, else what sysfs says.
    void addDevice(const QString &role, const TargetDevice &device, qint64 bytes = -1);
    // One image that was written whole: `bytes` as they went onto the
    // device (a sparse or gzip image expanded). `hash` (XXH3-64, hex) only
    // when the written data was read back and compared.
    void addImage(const QString &name, const QString &partition, qint64 bytes, const QString &hash);
    // A back-up's image file and its SHA-256.
    void addBackupImage(const QString &file, qint64 bytes, const QString &sha256);
    void setLowFormat(bool on) { m_lowFormat = on; }
    // Ends the record: result, error text (empty on success) and duration.
    void finish(Result result, const QString &error);

    QJsonObject toJson() const;
    // Appends the record to the report file of the medium holding
    // `pathOnMedium` (a system path). False, with a log line, when there is
    // no such medium, it is mounted read-only or the write fails.
    bool appendToMediumOf(const QString &pathOnMedium) const;

    // The mount point (as the system names it) of the medium holding
    // `path`: the SD card, the USB drive, or another drive mounted below
    // /mnt or /media. Empty for anything else.
    static QString mediumOf(const QString &path);
    // Appends `line` (without its newline) to `file` with one write() and
    // makes it durable. A file whose last line was cut short gets a newline
    // first, so the cut line stays alone. 0, or a negated errno value.
    static int appendLine(const QString &file, const QByteArray &line);
    // Machine name of an image set kind ("Debian", "RawImage").
    static QString kindName(int osType);

    static const char *const kFileName;   // "imgsmith-report.jsonl"

private:
    QString m_operation;
    QString m_time;
    QElapsedTimer m_clock;
    QJsonObject m_board;
    QJsonObject m_imageSet;
    QJsonArray m_devices;
    QJsonArray m_images;
    qint64 m_bytes = 0;
    bool m_lowFormat = false;
    qint64 m_elapsedMs = 0;
    QString m_result;
    QString m_error;
};
