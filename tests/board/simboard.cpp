#include "simboard.h"

#include <QMutex>
#include <QtGlobal>

#include <cstdlib>
#include <filesystem>
#include <gtest/gtest.h>

#include "util/paths.h"

namespace fs = std::filesystem;

SimBoard::SimBoard(const std::string &rootSuffix)
{
    m_root = rootSuffix.empty() ? m_dir.path() : m_dir.file(rootSuffix);
    fs::create_directories(m_root);
    setenv("IMGSMITH_ROOT", m_root.c_str(), 1);
    imgsmith::resetSimRootCache();
    resetBoardStateForTest();
    initBoardType();
}

SimBoard::~SimBoard()
{
    resetBoardStateForTest();
    unsetenv("IMGSMITH_ROOT");
    imgsmith::resetSimRootCache();
}

void SimBoard::put(const std::string &rel, const std::string &content) const
{
    const fs::path p = fs::path(m_root) / rel;
    fs::create_directories(p.parent_path());
    testsupport::writeFile(p.string(), content);
}

void SimBoard::mkdir(const std::string &rel) const
{
    fs::create_directories(fs::path(m_root) / rel);
}

void SimBoard::link(const std::string &rel, const std::string &target) const
{
    const fs::path p = fs::path(m_root) / rel;
    fs::create_directories(p.parent_path());
    fs::create_symlink(target, p);
}

void SimBoard::setKernel(const std::string &release) const
{
    put("proc/sys/kernel/osrelease", release + "\n");
}

BoardHardwareInfo *SimBoard::row(const QString &boardName)
{
    for (BoardHardwareInfo *b : std::as_const(gAllBoardHardwareInfo)) {
        if (b->boardName == boardName)
            return b;
    }
    ADD_FAILURE() << "no table row named " << boardName.toStdString();
    return nullptr;
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
    s_captured.clear();
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
