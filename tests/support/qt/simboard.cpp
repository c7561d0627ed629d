#include "support/qt/simboard.h"

#include <QCoreApplication>
#include <QDir>
#include <QEventLoop>
#include <QMutex>
#include <QThread>

#include <gtest/gtest.h>

#include "board/boardhardwareinfo.h"
#include "imageset/osconfig.h"
#include "startup/globals.h"

void PrintTo(const QString &s, std::ostream *os)
{
    *os << '"' << s.toStdString() << '"';
}

namespace testsupport {

SimBoard::SimBoard(const std::string &subdir)
    : SimRoot(subdir)
{
    resetBoardStateForTest();
    resetGlobalsForTest();
}

SimBoard::~SimBoard()
{
    resetBoardStateForTest();
    resetGlobalsForTest();
}

BoardHardwareInfo *SimBoard::identify()
{
    resetBoardStateForTest();
    initBoardType();
    gCurrentBoardInfo = GetBoardType();
    return gCurrentBoardInfo;
}

BoardHardwareInfo *SimBoard::row(const QString &name)
{
    for (BoardHardwareInfo *b : std::as_const(gAllBoardHardwareInfo))
        if (b->boardKey == name || b->boardName == name)
            return b;
    ADD_FAILURE() << "no board table row " << name.toStdString();
    return nullptr;
}

OSConfig SimBoard::scanSet(const std::string &name) const
{
    const QString dir = QString::fromStdString(file("mnt/sdcard/" + name));
    return OSConfig(dir, QDir(dir).entryList(QDir::Files, QDir::Name));
}

static QMutex s_captureMutex;
static QStringList s_captured;
static QtMessageHandler s_previous = nullptr;

static void captureHandler(QtMsgType type, const QMessageLogContext &, const QString &msg)
{
    if (type != QtDebugMsg)
        return;
    QMutexLocker lock(&s_captureMutex);
    s_captured << msg;
}

DebugCapture::DebugCapture()
{
    clear();
    s_previous = qInstallMessageHandler(captureHandler);
}

DebugCapture::~DebugCapture()
{
    qInstallMessageHandler(s_previous);
}

QStringList DebugCapture::lines() const
{
    QMutexLocker lock(&s_captureMutex);
    return s_captured;
}

void DebugCapture::clear()
{
    QMutexLocker lock(&s_captureMutex);
    s_captured.clear();
}

void runThreadToEnd(QThread &job, const std::function<void()> &start, QObject *receiver)
{
    QEventLoop loop;
    QObject::connect(&job, &QThread::finished, &loop, &QEventLoop::quit, Qt::QueuedConnection);
    if (start)
        start();
    else
        job.start();
    loop.exec();
    job.wait();
    QCoreApplication::sendPostedEvents(receiver);
}

} // namespace testsupport
