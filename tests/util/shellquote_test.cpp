#include "support/testsupport.h"
#include "util/shellquote.h"
#include "support/qt/simboard.h"

#include <gtest/gtest.h>

#include <QString>
#include <QStringList>

#include <unistd.h>

using namespace testsupport;

// Every hostile name must come out of a real /bin/sh as exactly one argument
// equal to itself, and nothing in it may execute.
TEST(ShellQuote, HostileNamesReachTheCommandUnchanged)
{
    TempDir d;
    const std::string marker = d.file("pwned");
    const QString m = QString::fromStdString(marker);
    const QStringList names = {
        QStringLiteral("plain"),
        QStringLiteral("with space  and\ttab"),
        QStringLiteral("it's"),
        QStringLiteral("'"),
        QStringLiteral("''"),
        QStringLiteral("a\"b\\c"),
        QStringLiteral("x; touch ") + m,
        QStringLiteral("$(touch ") + m + QStringLiteral(")"),
        QStringLiteral("`touch ") + m + QStringLiteral("`"),
        QStringLiteral("'; touch ") + m + QStringLiteral("; echo '"),
        QStringLiteral("line1\nline2\ntouch ") + m,
        QStringLiteral("*"),
        QStringLiteral("-n"),
        QStringLiteral("$HOME ${PATH} !! ~ & | > <"),
        QStringLiteral("Ubuntu 22.04 Desktop (ä中)"),
        QStringLiteral(""),
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
