#include "imagesettest.h"

#include <QDir>
#include <QMutex>
#include <QMutexLocker>

#include <cstdlib>

#include "util/debugmode.h"
#include "util/paths.h"

using namespace testsupport;

namespace {

QMutex gLinesMutex;
QStringList gLines;

void captureMessages(QtMsgType, const QMessageLogContext &, const QString &msg)
{
    QMutexLocker lock(&gLinesMutex);
    gLines << msg;
}

} // namespace

std::string q2s(const QString &s)
{
    return s.toStdString();
}

QString s2q(const std::string &s)
{
    return QString::fromStdString(s);
}

void ImageSetTest::SetUp()
{
    resetGlobalsForTest();
    m_tmp = std::make_unique<TempDir>();
    m_root = m_tmp->file("root");
    ASSERT_EQ(run("mkdir -p " + shq(m_root + "/tmp") + " " + shq(m_root + "/mnt/sdcard")).status, 0);
    setenv("IMGSMITH_ROOT", m_root.c_str(), 1);
    imgsmith::resetSimRootCache();
    setBoard(QStringLiteral("RK3588"), QStringLiteral("Alpha-R2"));
    gCurrentBoardInfo = &m_board;
    isDebugMode = true;
    takeDebugLines();
    qInstallMessageHandler(captureMessages);
}

void ImageSetTest::TearDown()
{
    qInstallMessageHandler(nullptr);
    gCurrentBoardInfo = nullptr;
    unsetenv("IMGSMITH_ROOT");
    imgsmith::resetSimRootCache();
    resetGlobalsForTest();
    m_tmp.reset();
}

QString ImageSetTest::makeSet(const std::string &name, const std::map<std::string, std::string> &files)
{
    const std::string dir = m_root + "/mnt/sdcard/" + name;
    EXPECT_EQ(run("mkdir -p " + shq(dir)).status, 0);
    for (const auto &f : files)
        writeFile(dir + "/" + f.first, f.second);
    return s2q(dir);
}

QString ImageSetTest::makeSetOf(const std::string &name, const QStringList &files)
{
    std::map<std::string, std::string> m;
    for (const QString &f : files)
        m[q2s(f)] = q2s(f);
    return makeSet(name, m);
}

void ImageSetTest::setBoard(const QString &cpu, const QString &model, bool ufs)
{
    m_board.cpuName = cpu;
    m_board.boardName = model;
    m_board.onboardIsUFS = ufs;
    m_board.storageInterface = 0;
    m_board.RocknixSubDeviceName.clear();
    m_board.DTSFileName.clear();
}

QStringList ImageSetTest::takeDebugLines()
{
    QMutexLocker lock(&gLinesMutex);
    QStringList lines = gLines;
    gLines.clear();
    return lines;
}

bool ImageSetTest::debugHas(const QString &line)
{
    QMutexLocker lock(&gLinesMutex);
    return gLines.contains(line);
}
