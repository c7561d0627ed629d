// The installer's end of the console client link: the local socket server
// and the shared memory segment holding the current console screen.
#pragma once

#include <QByteArray>
#include <QObject>
#include <QString>
#include <QStringList>

class QSharedMemory;
class TLocalServer;

class ConsoleLink : public QObject
{
    Q_OBJECT
public:
    static const QString console_Title_SplitText;
    static const QString console_Tail_SplitText;
    static const QString console_UseChoose_PrefixText;
    static const QString console_spaces;

    explicit ConsoleLink(QObject *parent = nullptr);
    ~ConsoleLink() override;

    // True once the segment exists; without it no screen is published.
    bool isReady() const { return m_ready; }

    // Publishes a screen to the segment and tells every client.
    void displayTextToConsoleLink(const QStringList &lines);

    // The bytes a screen occupies in the segment, before its NUL.
    static QByteArray segmentText(const QStringList &lines);

public slots:
    void socketTextReceived(const QString &text);

private:
    bool createSegment();

    TLocalServer *m_server;
    QSharedMemory *m_sharedMemory;
    bool m_ready = false;
};
