// A simulated board directory for the board tests: IMGSMITH_ROOT points at a
// fresh temporary directory and the board table is built anew.
#pragma once

#include <QString>
#include <QStringList>

#include <string>

#include "board/boardhardwareinfo.h"
#include "support/testsupport.h"

class SimBoard
{
public:
    // `rootSuffix` names a subdirectory of the temporary directory to use as
    // the root (to put awkward text into the root path itself).
    explicit SimBoard(const std::string &rootSuffix = std::string());
    ~SimBoard();

    const std::string &root() const { return m_root; }
    // Writes a file below the root, creating its directories.
    void put(const std::string &rel, const std::string &content) const;
    void mkdir(const std::string &rel) const;
    // A symbolic link at `rel` with the literal target `target`.
    void link(const std::string &rel, const std::string &target) const;
    void setKernel(const std::string &release) const;

    // The first table row with this boardName; fails the test when absent.
    static BoardHardwareInfo *row(const QString &boardName);

private:
    testsupport::TempDir m_dir;
    std::string m_root;
};

// Collects qDebug output while alive.
class DebugCapture
{
public:
    DebugCapture();
    ~DebugCapture();
    QStringList lines() const;
};
