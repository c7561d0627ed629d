// Shared fixture of the image set tests: a simulated root (so "/tmp"
// working directories land there), a board record of our own behind
// gCurrentBoardInfo, image sets made as real directories, and the debug
// lines the code under test prints.
#pragma once

#include <QString>
#include <QStringList>

#include <gtest/gtest.h>

#include <map>
#include <string>

#include "board/boardhardwareinfo.h"
#include "imageset/osconfig.h"
#include "startup/globals.h"
#include "support/qt/simboard.h"

inline std::string q2s(const QString &s) { return s.toStdString(); }
inline QString s2q(const std::string &s) { return QString::fromStdString(s); }

class ImageSetTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        setBoard(QStringLiteral("RK3588"), QStringLiteral("Alpha-R2"));
        gCurrentBoardInfo = &m_board;
        isDebugMode = true;
    }
    void TearDown() override { gCurrentBoardInfo = nullptr; }

    // <root>/mnt/sdcard/<name> holding `files` (name → contents).
    QString makeSet(const std::string &name, const std::map<std::string, std::string> &files)
    {
        return s2q(m_sim.imageSet(name, files));
    }
    // Same with every file holding its own name as contents.
    QString makeSetOf(const std::string &name, const QStringList &files)
    {
        std::map<std::string, std::string> m;
        for (const QString &f : files)
            m[q2s(f)] = q2s(f);
        return makeSet(name, m);
    }
    OSConfig scanOf(const std::string &name, const QStringList &files) { return OSConfig(makeSetOf(name, files), files); }
    void setBoard(const QString &cpu, const QString &model = QString(), bool ufs = false)
    {
        m_board.cpuName = cpu;
        m_board.boardName = model;
        m_board.onboardIsUFS = ufs;
        m_board.storageInterface = 0;
        m_board.RocknixSubDeviceName.clear();
        m_board.DTSFileName.clear();
    }
    QStringList takeDebugLines()
    {
        const QStringList lines = m_debug.lines();
        m_debug.clear();
        return lines;
    }
    bool debugHas(const QString &line) const { return m_debug.has(line); }

    testsupport::SimBoard m_sim;
    const std::string m_root = m_sim.path();
    testsupport::DebugCapture m_debug;
    BoardHardwareInfo m_board;
};
