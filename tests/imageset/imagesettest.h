// Shared fixture of the image set tests: a board record of our own behind
// gCurrentBoardInfo, a simulation root in a temporary directory (so "/tmp"
// working directories land there), image sets made as real directories, and
// the debug lines the code under test prints.
#pragma once

#include <QString>
#include <QStringList>
#include <QtGlobal>

#include <gtest/gtest.h>

#include <map>
#include <ostream>
#include <memory>
#include <string>

#include "board/boardhardwareinfo.h"
#include "startup/globals.h"
#include "support/testsupport.h"

class ImageSetTest : public ::testing::Test
{
protected:
    void SetUp() override;
    void TearDown() override;

    // Creates <root>/mnt/sdcard/<name> holding `files` (name → contents);
    // returns its path.
    QString makeSet(const std::string &name, const std::map<std::string, std::string> &files);
    // Same with every file holding its own name as contents.
    QString makeSetOf(const std::string &name, const QStringList &files);
    void setBoard(const QString &cpu, const QString &model = QString(), bool ufs = false);

    // Debug lines printed since the last call (debug mode switched on here).
    QStringList takeDebugLines();
    bool debugHas(const QString &line);

    std::unique_ptr<testsupport::TempDir> m_tmp;
    std::string m_root;
    BoardHardwareInfo m_board;
};

std::string q2s(const QString &s);

// Readable QString values in failure messages.
inline void PrintTo(const QString &s, std::ostream *os)
{
    *os << '"' << s.toStdString() << '"';
}
QString s2q(const std::string &s);
