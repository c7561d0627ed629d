// The Qt layer of the shared fixture: a simulated root whose board the
// program identifies, for tests that link imgsmith_core (GoogleTest or
// QtTest). Link imgsmith_testsupport_qt.
#pragma once

#include "support/simroot.h"

#include <QString>
#include <QStringList>

#include <functional>
#include <ostream>
#include <string>

class BoardHardwareInfo;
class OSConfig;
class QObject;
class QThread;

// GoogleTest prints QStrings as text.
void PrintTo(const QString &s, std::ostream *os);

namespace testsupport {

// A SimRoot with the process-wide program state (board table, current board,
// globals) reset when it is made and again when it goes away.
class SimBoard : public SimRoot
{
public:
    explicit SimBoard(const std::string &subdir = std::string());
    ~SimBoard();

    // Builds the board table and identifies the board below the root, as the
    // program does at start; gCurrentBoardInfo is the result (may be null).
    BoardHardwareInfo *identify();
    // The first table row whose boardKey or boardName is `name`; fails the
    // test when there is none. The table must have been built.
    static BoardHardwareInfo *row(const QString &name);
    // An image set below mnt/sdcard as the selection screen describes it:
    // its directory and the names of its files.
    OSConfig scanSet(const std::string &name) const;
};

// Collects qDebug output while alive.
class DebugCapture
{
public:
    DebugCapture();
    ~DebugCapture();
    QStringList lines() const;
    bool has(const QString &line) const { return lines().contains(line); }
    void clear();
};

// Starts `job` through `start` (QThread::start when none), runs an event
// loop until the thread has finished (the way the main controller lives),
// then delivers what it posted to `receiver` (to every object when none).
void runThreadToEnd(QThread &job, const std::function<void()> &start = nullptr, QObject *receiver = nullptr);

// A std::string (UTF-8) as a QString.
inline QString qstr(const std::string &s)
{
    return QString::fromStdString(s);
}

} // namespace testsupport
