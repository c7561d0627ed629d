// The command runner with real /bin/sh commands: collect, line and event
// modes, exit codes, failures to start, cleanResult.
#include "util/runcmdthread.h"
#include "support/qt/simboard.h"

#include <gtest/gtest.h>

#include <QThread>

#include <memory>

using namespace testsupport;

namespace {

const QEvent::Type kType = QEvent::Type(1102);

// Stands in for the script dialog: records every event it is given, and on
// which thread it arrived.
class Receiver : public QObject
{
public:
    QList<QStringList> events;
    bool allOnOwnThread = true;

protected:
    void customEvent(QEvent *e) override
    {
        if (e->type() != kType)
            return;
        if (QThread::currentThread() != thread())
            allOnOwnThread = false;
        events << static_cast<RunCmdThreadEvent *>(e)->lines();
    }
};

// `command` run by `program` -c to its end.
std::unique_ptr<RunCmdThread> ran(const QString &command, bool lineMode = false, QEvent::Type type = QEvent::Type(0),
                                  QObject *receiver = nullptr, const QString &program = "/bin/sh")
{
    std::unique_ptr<RunCmdThread> t(new RunCmdThread(program, {"-c", command}, lineMode, type, receiver));
    runThreadToEnd(*t);
    return t;
}

QStringList flatten(const QList<QStringList> &events)
{
    QStringList all;
    for (const QStringList &e : events)
        all += e;
    return all;
}

} // namespace

TEST(RunCmdThread, CollectModeKeepsTextsAndExitCode)
{
    RunCmdThread t("/bin/sh", {"-c", "echo out1; echo err1 >&2; printf 'out2'; exit 3"});
    EXPECT_EQ(t.exitCode(), -1);
    EXPECT_EQ(t.processId(), -1);
    runThreadToEnd(t);
    EXPECT_EQ(t.standardOutput(), "out1\nout2");
    EXPECT_EQ(t.standardError(), "err1\n");
    EXPECT_EQ(t.exitCode(), 3);
    EXPECT_GT(t.processId(), 0);
    EXPECT_TRUE(t.lines().isEmpty());

    t.cleanResult();
    EXPECT_EQ(t.exitCode(), -1);
    EXPECT_EQ(t.standardOutput(), "");
    EXPECT_EQ(t.standardError(), "");

    // Far more than a pipe holds, on both streams at once.
    const auto large = ran("head -c 3000000 /dev/zero | tr '\\0' x; "
                           "head -c 500000 /dev/zero | tr '\\0' y >&2");
    EXPECT_EQ(large->exitCode(), 0);
    EXPECT_EQ(large->standardOutput().count('x'), 3000000);
    EXPECT_EQ(large->standardError().size(), 500000);
}

TEST(RunCmdThread, EventModePostsEveryLineInOrderToTheReceiverThread)
{
    Receiver r;
    const auto t = ran("printf 'a\\nb\\n'; printf 'e\\n' >&2; exit 4", false, kType, &r);
    ASSERT_FALSE(r.events.isEmpty());
    // One burst on standard output: a, b and the empty part after the last
    // line end; standard error follows.
    EXPECT_EQ(r.events.first().mid(0, 3), QStringList({"a", "b", ""}));
    EXPECT_EQ(flatten(r.events), QStringList({"a", "b", "", "e", ""}));
    EXPECT_TRUE(r.allOnOwnThread);
    EXPECT_EQ(t->exitCode(), 4);
    // Event mode hands everything to the receiver and keeps nothing.
    EXPECT_EQ(t->standardOutput(), "");
    EXPECT_TRUE(t->lines().isEmpty());

    // No line is lost or reordered.
    Receiver many, e;
    const auto loop = ran("i=1; while [ $i -le 200 ]; do echo line$i; i=$((i+1)); done",
                          false, kType, &many);
    QStringList got = flatten(many.events);
    got.removeAll(QString());
    ASSERT_EQ(got.size(), 200);
    for (int i = 0; i < 200; ++i)
        EXPECT_EQ(got[i], QString("line%1").arg(i + 1));

    // Standard error alone, in event and in line mode.
    const auto errOnly = ran("echo only-error >&2; exit 1", false, kType, &e);
    EXPECT_EQ(flatten(e.events), QStringList({"only-error", ""}));
    EXPECT_EQ(errOnly->exitCode(), 1);

    const auto lines = ran("echo e1 >&2; echo e2 >&2", true);
    EXPECT_EQ(lines->lines().join("|"), "e1|e2|");
}

TEST(RunCmdThread, LineModeDecodesSplitUtf8AndFailuresNeverReadAsSuccess)
{
    // The three bytes of one character arrive in two writes.
    const auto t = ran("printf 'x\\n\\344'; sleep 0.2; printf '\\270\\255\\n'", true);
    EXPECT_EQ(t->exitCode(), 0);
    EXPECT_EQ(t->lines().join(""), QString::fromUtf8("x中"));
    EXPECT_EQ(t->standardOutput(), "");
    t->cleanResult();
    EXPECT_TRUE(t->lines().isEmpty());

    // Failures never read as success.
    Receiver r;
    const auto missing = ran("true", false, kType, &r, "/nonexistent/program");
    EXPECT_EQ(missing->exitCode(), RunCmdThread::StartFailedExitCode);
    EXPECT_TRUE(r.events.isEmpty());

    const auto killed = ran("kill -9 $$");
    EXPECT_EQ(killed->exitCode(), RunCmdThread::CrashExitCode);

    // A command that reads its input sees end of file instead of waiting
    // for ever.
    const auto reader = ran("cat; read x; echo \"read=$?\"");
    EXPECT_EQ(reader->standardOutput(), "read=1\n");
}
