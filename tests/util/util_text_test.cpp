// Text and file helpers, shell quoting, the simulation root's paths, the log
// file; the command runner with real /bin/sh commands.
#include "support/qt/simboard.h"
#include "util/log2file.h"
#include "util/paths.h"
#include "util/runcmdthread.h"
#include "util/shellquote.h"
#include "util/util.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QThread>

#include <memory>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

using namespace testsupport;

TEST(UtilText, SizesDurationsHexListsAndCardReaders)
{
    const qint64 KiB = 1024, MiB = KiB * 1024, GiB = MiB * 1024, TiB = GiB * 1024;
    const struct { qint64 bytes; const char *text; } binary[] = {
        {1023, "1023 bytes"}, {1024, "1 KB"}, {MiB - 1, "1024 KB"}, {MiB, "1 MB"},
        {GiB + GiB / 2, "1.5 GB"}, {TiB * 5 / 4, "1.25 TB"},
        {TiB * 2048, "2048.00 TB"},                 // TB is the last unit
        {qint64(61071360) * 1024, "58.2 GB"},       // a 64 GiB eMMC held in KiB
    };
    for (const auto &c : binary)
        EXPECT_EQ(Util::size_human(c.bytes), c.text) << c.bytes;
    EXPECT_EQ(Util::size_human1000(999), "999 bytes");
    EXPECT_EQ(Util::size_human1000(1023), "1 KB");
    EXPECT_EQ(Util::size_human1000(qint64(2) * 1000 * 1000 * 1000 * 1000), "2.00 TB");

    EXPECT_EQ(Util::seconds_to_DHMS(125), QString::fromUtf8("2分5秒"));
    EXPECT_EQ(Util::seconds_to_DHMS(90061), QString::fromUtf8("1天1时1分1秒"));
    // Both short forms; a clock that went backwards must not produce "-1:-1:-1".
    QStringList us;
    for (qint64 seconds : {7, 3599, 3600, 86399, 90000, 86400 + 3600 + 120 + 9, -5})
        us << Util::seconds_to_DHMS_US(seconds) + " " + Util::seconds_to_DHMS_US2(seconds);
    EXPECT_EQ(us, QStringList({"00:00:7 00:00:07", "59m59s 00:59:59", "1h0m0s 01:00:00", "23h59m59s 23:59:59",
                               "1d1h0m 1d1h0m", "1d1h2m 1d1h2m", "00:00:0 00:00:00"}));

    for (const auto &[hex, value] : {std::pair{"0XfFfF", 0xffff}, {"00400000", 0x400000}, {"0xzz", -1}}) {
        bool ok = value < 0;
        const qint64 got = Util::hexStringToLongLong(hex, &ok);
        EXPECT_EQ(ok, value >= 0) << hex;
        if (value >= 0)
            EXPECT_EQ(got, value) << hex;
    }
    EXPECT_EQ(Util::int64ToHexString(0x2000), "0x00002000");
    EXPECT_EQ(Util::int64ToHexString(0xabcdef012LL), "0xABCDEF012");

    EXPECT_TRUE(Util::isdigitstr("0123456789"));
    for (const char *s : {"12a", "-1", "١٢", ""})   // non-ASCII digits are not decimal text
        EXPECT_FALSE(Util::isdigitstr(QString::fromUtf8(s))) << s;

    EXPECT_EQ(Util::removeSameItem({"b", "a", "b", "c", "a"}), QStringList({"b", "a", "c"}));
    EXPECT_EQ(Util::removeDirRightSeparator("/mnt/sdcard//\\"), "/mnt/sdcard");
    EXPECT_EQ(Util::removeDirRightSeparator("///"), "/");

    // Card readers: by the product's words or by known ids.
    EXPECT_TRUE(Util::isUSBCardReader("USB3.0 Card READER", "ffff", "ffff"));
    EXPECT_TRUE(Util::isUSBCardReader("", "B060", "21C4"));
    EXPECT_FALSE(Util::isUSBCardReader("Mass Storage Device", "0748", "21c4"));  // pid and vid from different rows
    EXPECT_FALSE(Util::isUSBCardReader("SanDisk Ultra", "5583", "0781"));
}

TEST(UtilFile, ReadWriteNeverCreatesAndListsByExtension)
{
    TempDir d;
    const QString f = qstr(d.file("attr"));
    // writeFile on a missing file, or in a missing directory, creates nothing.
    EXPECT_FALSE(Util::writeFile(f, "x"));
    EXPECT_FALSE(QFile::exists(f));
    EXPECT_FALSE(Util::writeFile(qstr(d.file("nodir/attr")), "x"));
    EXPECT_FALSE(QDir(qstr(d.file("nodir"))).exists());

    writeFile(d.file("attr"), "a much longer old value\n");
    EXPECT_TRUE(Util::writeFile(f, "timer"));
    EXPECT_EQ(readFile(d.file("attr")), "timer");   // truncated, not overwritten in place
    EXPECT_TRUE(Util::searchStringInFile(f, "ime"));
    EXPECT_FALSE(Util::searchStringInFile(f, "xyz"));

    writeBytes(d.file("bin"), 0, {0x00, 0xAB, 0x7f, 0xff, 0x10});
    EXPECT_EQ(Util::readFileAsHex(qstr(d.file("bin")), 4), "00ab7fff");
    EXPECT_EQ(Util::readFileAsHex(qstr(d.file("missing")), 4), "");

    writeFile(d.file("one.img"), "");
    writeFile(d.file("three.txt"), "");
    mkdir(d.file("dir.img").c_str(), 0755);
    EXPECT_EQ(Util::getAllFileInPath(qstr(d.path()), "img"), QStringList({"one.img"}));

    EXPECT_TRUE(Util::writeResourceToFile(qstr(d.file("bin")), qstr(d.file("copy"))));
    EXPECT_EQ(readFile(d.file("copy")), readFile(d.file("bin")));
    EXPECT_FALSE(Util::writeResourceToFile(":/no/such/resource", qstr(d.file("copy2"))));
    EXPECT_FALSE(QFile::exists(qstr(d.file("copy2"))));

    run("mkdir -p " + shq(d.file("tree/a/b")) + " && touch " + shq(d.file("tree/a/b/f")));
    EXPECT_TRUE(Util::removeDir(qstr(d.file("tree"))));
    EXPECT_FALSE(QDir(qstr(d.file("tree"))).exists());
}

TEST(UtilCommand, HasCommandFoundFollowsPathAndKernelVersionNumbers)
{
    TempDir d;
    const std::string oldPath = getenv("PATH") ? getenv("PATH") : "";
    run("mkdir -p " + shq(d.file("bin1")) + " " + shq(d.file("bin2/sub")));
    writeFile(d.file("bin2/mytool-xyz"), "#!/bin/sh\n");
    setenv("PATH", (d.file("bin1") + "::" + d.file("bin2")).c_str(), 1);
    EXPECT_TRUE(Util::hasCommandFound("mytool-xyz"));
    EXPECT_FALSE(Util::hasCommandFound("sh"));            // /bin is not in this PATH
    EXPECT_FALSE(Util::hasCommandFound("sub"));           // a directory is no command
    EXPECT_FALSE(Util::hasCommandFound(""));
    setenv("PATH", oldPath.c_str(), 1);
    EXPECT_TRUE(Util::hasCommandFound("sh"));

    // Kernel release numbers from the simulated root.
    SimRoot root;
    EXPECT_EQ(Util::getKernelVersion(nullptr, 3), -1);

    int v[3] = {9, 9, 9};
    root.put("proc/sys/kernel/osrelease", "4.4.179-rockchip\n");
    ASSERT_EQ(Util::getKernelVersion(v, 3), 0);
    EXPECT_EQ(std::vector<int>(v, v + 3), std::vector<int>({4, 4, 0}));
    EXPECT_TRUE(Util::isKernelVersionAtLeast4());
    root.put("proc/sys/kernel/osrelease", "3.4.39\n");
    EXPECT_FALSE(Util::isKernelVersionAtLeast4());

    // More numbers than room: only `count` entries are touched.
    int two[3] = {7, 7, 7};
    root.put("proc/sys/kernel/osrelease", "6.1.57.1\n");
    ASSERT_EQ(Util::getKernelVersion(two, 2), 0);
    EXPECT_EQ(std::vector<int>(two, two + 3), std::vector<int>({6, 1, 7}));
}

// Each hostile name reaches a real /bin/sh as one argument, unchanged, unexecuted.
TEST(ShellQuote, HostileNamesReachTheCommandUnchanged)
{
    TempDir d;
    const std::string marker = d.file("pwned");
    const QString m = QString::fromStdString(marker);
    const QStringList names = {
        "plain", "with space  and\ttab", "it's", "'", "''", "a\"b\\c", "x; touch " + m, "$(touch " + m + ")",
        "`touch " + m + "`", "'; touch " + m + "; echo '", "line1\nline2\ntouch " + m, "*", "-n",
        "$HOME ${PATH} !! ~ & | > <", QString::fromUtf8("Ubuntu 22.04 Desktop (ä中)"), "",
    };
    for (const QString &name : names) {
        // printf %s| shows where the single argument ends; $# counts them.
        const std::string cmd = "set -- " + shellQuote(name).toStdString()
            + "; printf '%s|%s' \"$#\" \"$1\"";
        const CmdResult r = run("cd " + shq(d.path()) + " && " + cmd);
        EXPECT_EQ(r.status, 0) << cmd << r.err;
        EXPECT_EQ(r.out, "1|" + name.toStdString()) << cmd;
    }
    EXPECT_NE(access(marker.c_str(), F_OK), 0) << "a quoted name executed a command";
    // Empty stays an argument; NUL is dropped.
    EXPECT_EQ(shellQuote(QString()), QStringLiteral("''"));
    EXPECT_EQ(shellQuote(QString::fromUtf8("a\0b", 3)), QStringLiteral("'ab'"));
}

TEST(SimRoot, PathsMapBelowRootOnlyWhenSetAndKernelRelease)
{
    SimRoot g;
    g.unsetEnv("IMGSMITH_ROOT");
    imgsmith::resetSimRootCache();
    EXPECT_EQ(imgsmith::sysPath("/proc/cpuinfo"), "/proc/cpuinfo");

    g.setEnv("IMGSMITH_ROOT", "/sim/board/");
    EXPECT_EQ(imgsmith::simRoot(), "/sim/board");
    EXPECT_EQ(imgsmith::sysPath("/proc/cpuinfo"), "/sim/board/proc/cpuinfo");
    // Resolving twice must not nest the root.
    EXPECT_EQ(imgsmith::sysPath("/sim/board/dev/mmcblk2"), "/sim/board/dev/mmcblk2");
    // A sibling that merely shares the prefix is a different path.
    EXPECT_EQ(imgsmith::sysPath("/sim/boardX/a"), "/sim/board/sim/boardX/a");
    EXPECT_EQ(imgsmith::sysPath("relative/x"), "relative/x");
    EXPECT_EQ(imgsmith::unSysPath("/sim/board/mnt/sdcard/x"), "/mnt/sdcard/x");
    EXPECT_EQ(imgsmith::unSysPath("/elsewhere"), "/elsewhere");

    // The kernel release from the root, else from uname.
    SimRoot d;
    EXPECT_FALSE(imgsmith::kernelRelease().empty());
    d.put("proc/sys/kernel/osrelease", "4.4.179-custom\n");
    EXPECT_EQ(imgsmith::kernelRelease(), "4.4.179-custom");
}

TEST(Log2File, ConcurrentRecordsStayWholeAndUnopenableFileIsIgnored)
{
    SimRoot d;
    const int threads = 4, records = 500;
    std::vector<std::thread> pool;
    for (int t = 0; t < threads; ++t) {
        pool.emplace_back([t] {
            for (int i = 0; i < records; ++i)
                log2file("thread %d record %04d %s\n", t, i, std::string(200, char('a' + t)).c_str());
        });
    }
    for (auto &th : pool)
        th.join();
    // Every line one whole record, as grep and wc count them.
    const std::string log = shq(d.file("tmp/imgsmith-gui.log"));
    const std::string whole = "'thread [0-3] record [0-9]{4} (a{200}|b{200}|c{200}|d{200})'";
    EXPECT_EQ(run("grep -cxE " + whole + " " + log).out, std::to_string(threads * records) + "\n");
    EXPECT_EQ(run("wc -l < " + log).out, std::to_string(threads * records) + "\n");

    // A file that cannot be opened drops the record, creating nothing.
    d.setEnv("IMGSMITH_ROOT", d.path() + "/no-such-dir");
    log2file("dropped %d\n", 1);
    EXPECT_NE(access((d.path() + "/no-such-dir").c_str(), F_OK), 0);
}

namespace {

const QEvent::Type kType = QEvent::Type(1102);

// Stands in for the script dialog: records the events and their thread.
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
    // One burst on standard output (a, b, the empty rest), then standard error.
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

    // A command reading its input sees end of file instead of waiting.
    const auto reader = ran("cat; read x; echo \"read=$?\"");
    EXPECT_EQ(reader->standardOutput(), "read=1\n");
}
