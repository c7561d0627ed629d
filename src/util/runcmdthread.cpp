#include "util/runcmdthread.h"

#include <QCoreApplication>
#include <QMutexLocker>
#include <QProcess>
#include <QStringDecoder>

RunCmdThread::RunCmdThread(const QString &program, const QStringList &arguments, bool lineMode,
                           QEvent::Type eventType, QObject *receiver, QObject *parent)
    : QThread(parent),
      m_program(program),
      m_arguments(arguments),
      m_eventType(eventType),
      m_receiver(receiver),
      m_lineMode(lineMode)
{
}

void RunCmdThread::cleanResult()
{
    {
        QMutexLocker l(&m_stdoutMutex);
        m_stdout.clear();
    }
    {
        QMutexLocker l(&m_stderrMutex);
        m_stderr.clear();
    }
    {
        QMutexLocker l(&m_exitCodeMutex);
        m_exitCode = -1;
    }
    QMutexLocker l(&m_linesMutex);
    m_lines.clear();
}

QString RunCmdThread::standardOutput() const
{
    QMutexLocker l(&m_stdoutMutex);
    return m_stdout;
}

QString RunCmdThread::standardError() const
{
    QMutexLocker l(&m_stderrMutex);
    return m_stderr;
}

int RunCmdThread::exitCode() const
{
    QMutexLocker l(&m_exitCodeMutex);
    return m_exitCode;
}

QStringList RunCmdThread::lines() const
{
    QMutexLocker l(&m_linesMutex);
    return m_lines;
}

qint64 RunCmdThread::processId() const
{
    return m_pid.load();
}

void RunCmdThread::deliverLines(const QStringList &lines)
{
    if (lines.isEmpty())
        return;
    if (m_eventType != QEvent::Type(0)) {
        if (m_receiver)
            QCoreApplication::postEvent(m_receiver, new RunCmdThreadEvent(m_eventType, lines));
    } else if (m_lineMode) {
        QMutexLocker l(&m_linesMutex);
        m_lines += lines;
    }
}

void RunCmdThread::run()
{
    QProcess process;
    // One decoder per stream keeps a UTF-8 sequence that straddles two reads
    // intact.
    QStringDecoder outDecoder(QStringDecoder::Utf8);
    QStringDecoder errDecoder(QStringDecoder::Utf8);
    const bool streaming = m_eventType != QEvent::Type(0) || m_lineMode;

    // Lines of everything the process has written so far; a stream that
    // delivered nothing adds no (empty) line.
    auto takeLines = [&]() {
        QStringList lines;
        const QByteArray out = process.readAllStandardOutput();
        const QByteArray err = process.readAllStandardError();
        if (!out.isEmpty())
            lines += QString(outDecoder.decode(out)).split(QLatin1Char('\n'));
        if (!err.isEmpty())
            lines += QString(errDecoder.decode(err)).split(QLatin1Char('\n'));
        return lines;
    };

    process.start(m_program, m_arguments, QIODevice::ReadWrite);
    const bool started = process.waitForStarted(-1);
    if (started) {
        m_pid.store(process.processId());
        // Nothing is ever written to the program; closing its input lets a
        // command that reads standard input see end of file instead of
        // hanging for ever.
        process.closeWriteChannel();
        while (process.waitForReadyRead(-1)) {
            if (streaming)
                deliverLines(takeLines());
        }
        process.waitForFinished(-1);
    }

    if (streaming) {
        // Output that arrived together with the end of the process (or only
        // on standard error) would otherwise be lost.
        deliverLines(takeLines());
    } else {
        const QString out = outDecoder.decode(process.readAllStandardOutput());
        const QString err = errDecoder.decode(process.readAllStandardError());
        {
            QMutexLocker l(&m_stdoutMutex);
            m_stdout += out;
        }
        QMutexLocker l(&m_stderrMutex);
        m_stderr += err;
    }

    int code;
    if (!started)
        code = StartFailedExitCode;
    else if (process.exitStatus() == QProcess::CrashExit)
        code = CrashExitCode;
    else
        code = process.exitCode();
    {
        QMutexLocker l(&m_exitCodeMutex);
        m_exitCode = code;
    }
    // QProcess reaps its own child; a further waitpid() on the number could
    // reap an unrelated child that reused it.
    process.close();
}

// Compiled here rather than in the shared moc unit so that users of the
// runner do not link every other class's meta-object.
#include "moc_runcmdthread.cpp"
