// The console link from the outside: segment, socket, and who is let in.
#include "frontend/consolelinkmessageevent.h"
#include "frontend/consoleprotocol.h"
#include "frontend/maincontrollerobject.h"
#include "ui/consolelink.h"
#include "ui/tlocalserver.h"

#include <QFile>
#include <QLocalSocket>
#include <QProcess>
#include <QSharedMemory>
#include <QTemporaryDir>
#include <QtTest>

#include <pwd.h>
#include <sys/ipc.h>
#include <sys/shm.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace {

// Stands in for the main controller: keeps the console commands posted to it.
class CommandSink : public QObject
{
public:
    QStringList texts;
    bool event(QEvent *e) override
    {
        if (e->type() != ConsoleLinkMessageEvent::CONSOLELINK_MESSAGE_EVENT_TYPE)
            return QObject::event(e);
        texts << static_cast<ConsoleLinkMessageEvent *>(e)->text();
        return true;
    }
};

QByteArray readSegment()
{
    QSharedMemory segment(ConsoleProtocol::sharedMemoryKey());
    if (!segment.attach(QSharedMemory::ReadOnly))
        return QByteArray();
    segment.lock();
    QByteArray bytes(static_cast<const char *>(segment.constData()), static_cast<int>(segment.size()));
    segment.unlock();
    segment.detach();
    return bytes;
}

QProcess *startConsole(const QStringList &args, const QStringList &asUser = {})
{
    auto *p = new QProcess;
    if (asUser.isEmpty())
        p->start(QStringLiteral(IMGSMITH_CONSOLE_BINARY), args);
    else
        p->start(asUser.first(), asUser.mid(1) + QStringList{QStringLiteral(IMGSMITH_CONSOLE_BINARY)} + args);
    return p;
}

int finish(QProcess *p, QByteArray *out = nullptr)
{
    p->waitForFinished(20000);
    if (out)
        *out = p->readAllStandardOutput() + p->readAllStandardError();
    const int rc = p->exitStatus() == QProcess::NormalExit ? p->exitCode() : -1;
    delete p;
    return rc;
}

} // namespace

class TestConsoleLink : public QObject
{
    Q_OBJECT
private slots:
    void init()
    {
        // Socket and segment key file live in TMPDIR: a private one per case.
        m_tmp = new QTemporaryDir;
        QVERIFY(m_tmp->isValid());
        QFile::setPermissions(m_tmp->path(), QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner
                                                 | QFileDevice::ExeGroup | QFileDevice::ExeOther);
        qputenv("TMPDIR", QFile::encodeName(m_tmp->path()));
        m_sink.texts.clear();
        setMainControllerObject(&m_sink);
    }
    void cleanup()
    {
        setMainControllerObject(nullptr);
        qunsetenv("TMPDIR");
        delete m_tmp;
    }
    void screenTextInSegment()
    {
        ConsoleLink link;
        QVERIFY(link.isReady());
        const QString split(70, QLatin1Char('-'));
        link.displayTextToConsoleLink({split, QStringLiteral("Title"), split, QStringLiteral(">>>x"),
                                       QStringLiteral("caf\u00e9 \u2192"), split, QStringLiteral(">>> Choose: ")});
        QByteArray expected = split.toLatin1() + "\n  Title\n" + split.toLatin1() + "\n  >>>x\n  caf\xe9 ?\n"
            + split.toLatin1() + "\n>>> Choose: ";
        QByteArray seg = readSegment();
        QCOMPARE(seg.size(), 4096);
        QCOMPARE(seg.left(expected.size()), expected);
        QCOMPARE(seg.mid(expected.size()), QByteArray(4096 - expected.size(), '\0'));

        // Too long for the segment: cut after 4095 bytes, the last byte stays NUL.
        QStringList longScreen;
        for (int i = 0; i < 100; ++i)
            longScreen << QStringLiteral("line %1 ").arg(i).leftJustified(60, QLatin1Char('.'));
        link.displayTextToConsoleLink(longScreen);
        seg = readSegment();
        QCOMPARE(seg.left(4095), longScreen.join(QStringLiteral("\n  ")).prepend(QStringLiteral("  ")).toLatin1().left(4095));
        QCOMPARE(seg.at(4095), '\0');

        // A short screen after the long one leaves nothing of it behind.
        link.displayTextToConsoleLink({QStringLiteral("ok")});
        QCOMPARE(readSegment(), QByteArray("  ok").leftJustified(4096, '\0'));

        // The segment is the installer's user's alone.
        QFile sysv(QStringLiteral("/proc/sysvipc/shm"));
        QVERIFY(sysv.open(QIODevice::ReadOnly));
        bool found = false;
        for (const QByteArray &row : sysv.readAll().split('\n')) {
            const QList<QByteArray> f = row.simplified().split(' ');
            if (f.size() > 7 && f.at(4).toInt() == getpid() && f.at(3) == "4096") {
                found = true;
                QCOMPARE(f.at(2), QByteArray("600"));
                QCOMPARE(f.at(7).toUInt(), geteuid());
            }
        }
        QVERIFY2(found, "segment of this process not listed in /proc/sysvipc/shm");
    }
    // Every client hears of a new screen; what one types reaches the controller.
    void messagesBothWays()
    {
        ConsoleLink link;
        QLocalSocket a, b;
        a.connectToServer(ConsoleProtocol::serverName());
        b.connectToServer(ConsoleProtocol::serverName());
        QVERIFY(a.waitForConnected(3000) && b.waitForConnected(3000));
        QTest::qWait(100); // let the server take both connections
        link.displayTextToConsoleLink({QStringLiteral("x")});
        // 32-bit big-endian count 22, then "mem-updated" in UTF-16BE.
        const QByteArray wire = QByteArray::fromHex("00000016006d0065006d002d0075007000640061007400650064");
        for (QLocalSocket *s : {&a, &b}) {
            QTRY_COMPARE(s->bytesAvailable(), qint64(26));
            QCOMPARE(s->readAll(), wire);
        }

        a.write("  YES \n\t  now ");
        QTRY_COMPARE(m_sink.texts, QStringList{QStringLiteral("YES now")});
        // A flood: whatever one read brings, past 4 KiB it is dropped.
        m_sink.texts.clear();
        a.write(QByteArray(64 * 1024, 'a'));
        QTRY_VERIFY(!m_sink.texts.isEmpty());
        QTest::qWait(200);
        for (const QString &t : std::as_const(m_sink.texts))
            QVERIFY(t.size() <= ConsoleProtocol::kMaxInputBytes);
    }
    void clientScriptAndInteractiveModes()
    {
        // No installer yet: said clearly, status 2.
        QByteArray out;
        QCOMPARE(finish(startConsole({"--timeout", "0.5", "--dump"}), &out), 2);
        QVERIFY2(out.contains("not running"), out.constData());

        // A client started before the installer keeps trying and gets through.
        QProcess *early = startConsole({"--timeout", "10", "--send", "early"});
        QVERIFY(early->waitForStarted());
        QTest::qWait(300);
        ConsoleLink link;
        QTRY_COMPARE_WITH_TIMEOUT(m_sink.texts, QStringList{QStringLiteral("early")}, 5000);
        QCOMPARE(finish(early), 0);
        m_sink.texts.clear();

        link.displayTextToConsoleLink({QStringLiteral("Menu"), QStringLiteral(">>> Choose: ")});
        QProcess *dump = startConsole({"--dump"});
        QTRY_COMPARE(dump->state(), QProcess::NotRunning);
        QCOMPARE(finish(dump, &out), 0);
        QCOMPARE(out, QByteArray("  Menu\n>>> Choose: \n"));

        // Two sends in a row arrive as two commands; a wait sees a later screen.
        QProcess *script = startConsole({"--send", "2", "--send", "yes", "--wait", "^  Installing", "--timeout", "5"});
        QTRY_COMPARE(m_sink.texts.join("|"), QStringLiteral("2|yes"));
        link.displayTextToConsoleLink({QStringLiteral("Installing")});
        QTRY_COMPARE(script->state(), QProcess::NotRunning);
        QCOMPARE(finish(script), 0);

        QProcess *late = startConsole({"--wait", "never shown", "--timeout", "0.5"});
        QTRY_COMPARE(late->state(), QProcess::NotRunning);
        QCOMPARE(finish(late, &out), 1);
        QVERIFY2(out.contains("timed out") && out.contains("Installing"), out.constData());

        // Interactive: the screen shown, typed lines sent, blank ones not.
        m_sink.texts.clear();
        QProcess *p = startConsole({});
        QVERIFY(p->waitForStarted());
        p->write("1\n\n  Yes \n");
        p->closeWriteChannel();
        QTRY_COMPARE(p->state(), QProcess::NotRunning);
        QCOMPARE(finish(p, &out), 0);
        QCOMPARE(m_sink.texts, (QStringList{QStringLiteral("1"), QStringLiteral("Yes")}));
        QVERIFY2(out.contains("  Installing"), out.constData());
    }
    void leftoversOfAKilledInstaller()
    {
        // A killed installer leaves its socket file and its System V segment.
        const QString socketPath = m_tmp->filePath(ConsoleProtocol::serverName());
        const int fd = socket(AF_UNIX, SOCK_STREAM, 0);
        struct sockaddr_un addr {};
        addr.sun_family = AF_UNIX;
        qstrncpy(addr.sun_path, QFile::encodeName(socketPath).constData(), sizeof(addr.sun_path));
        QCOMPARE(bind(fd, reinterpret_cast<sockaddr *>(&addr), sizeof(addr)), 0);
        close(fd);
        const QString keyFile = QSharedMemory(ConsoleProtocol::sharedMemoryKey()).nativeKey();
        QFile(keyFile).open(QIODevice::WriteOnly);
        const int stale = shmget(ftok(QFile::encodeName(keyFile).constData(), 'Q'), 4096, IPC_CREAT | 0600);
        QVERIFY(stale != -1);

        auto *link = new ConsoleLink;
        QVERIFY(link->isReady());
        QLocalSocket s;
        s.connectToServer(ConsoleProtocol::serverName());
        QVERIFY(s.waitForConnected(3000));

        // A second installer beside a live one takes neither endpoint.
        TLocalServer second;
        QVERIFY(!second.isListening());
        ConsoleLink secondLink;
        QVERIFY(!secondLink.isReady());
        link->displayTextToConsoleLink({QStringLiteral("first")});
        QVERIFY(readSegment().startsWith("  first"));
        delete link;
    }
    void otherUsersRefused()
    {
        if (geteuid() != 0)
            QSKIP("needs root to run a client as another user");
        const QString setpriv = QStandardPaths::findExecutable(QStringLiteral("setpriv"));
        struct passwd *nobody = getpwnam("nobody");
        if (setpriv.isEmpty() || !nobody)
            QSKIP("setpriv or the user nobody is missing");
        const QStringList asNobody{setpriv, QStringLiteral("--reuid=%1").arg(nobody->pw_uid),
                                   QStringLiteral("--regid=%1").arg(nobody->pw_gid), QStringLiteral("--clear-groups")};
        ConsoleLink link;
        link.displayTextToConsoleLink({QStringLiteral("secret")});

        QByteArray out;
        QCOMPARE(finish(startConsole({"--timeout", "0.5", "--send", "yes"}, asNobody), &out), 2);
        QCOMPARE(finish(startConsole({"--timeout", "0.5", "--wait", "secret"}, asNobody), &out), 1);
        QVERIFY2(!out.contains("secret\n"), out.constData());

        // Even with the socket file opened up, the peer's user is checked.
        QVERIFY(QFile::setPermissions(m_tmp->filePath(ConsoleProtocol::serverName()),
                                      QFileDevice::Permissions(0x7777)));
        QProcess *p = startConsole({"--timeout", "2", "--send", "yes"}, asNobody);
        QTRY_COMPARE(p->state(), QProcess::NotRunning);
        finish(p);
        QTest::qWait(200);
        QVERIFY(m_sink.texts.isEmpty());
    }

private:
    QTemporaryDir *m_tmp = nullptr;
    CommandSink m_sink;
};

QTEST_GUILESS_MAIN(TestConsoleLink)
#include "tst_consolelink.moc"
