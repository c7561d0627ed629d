// imgsmith-console: the terminal client of the installer's console link.
#include "consoleclient.h"
#include "interactivesession.h"
#include "scriptrunner.h"

#include <QCoreApplication>
#include <QRegularExpression>
#include <QStringList>
#include <QTimer>

#include <cstdio>

namespace {

constexpr int kUsageError = 64;
constexpr double kDefaultTimeoutSeconds = 10.0;

const char kHelp[] =
    "NAME\n"
    "    imgsmith-console - drive the imgsmith installer from a terminal\n"
    "\n"
    "SYNOPSIS\n"
    "    imgsmith-console\n"
    "    imgsmith-console [--timeout S] (--dump | --send WORD | --wait REGEX)...\n"
    "    imgsmith-console -h | --help\n"
    "\n"
    "DESCRIPTION\n"
    "    Connects to the running installer (imgsmith-gui) through its local\n"
    "    socket \"imgsmith-gui\" and reads the screen it shows for consoles from\n"
    "    the shared memory segment \"corvanta-imgsmith\".\n"
    "\n"
    "    Without options the client is interactive: it shows the current\n"
    "    screen, redraws it whenever the installer publishes a new one, and\n"
    "    sends each line typed as one command (for example a number from the\n"
    "    menu, \"yes\", \"c\"). The screen lists the commands it accepts; others\n"
    "    are ignored by the installer. While the installer is not running the\n"
    "    client says so and tries again every second. It ends at end of input\n"
    "    (Ctrl-D) or on Ctrl-C.\n"
    "\n"
    "    With options the client runs in script mode: the actions are carried\n"
    "    out once each, in the order given, and the client exits.\n"
    "\n"
    "OPTIONS\n"
    "    --dump\n"
    "        Print the current screen once.\n"
    "    --send WORD\n"
    "        Send WORD as one command. Two --send in a row are sent 0.3 s\n"
    "        apart so the installer reads them as two commands.\n"
    "    --wait REGEX\n"
    "        Wait until the screen matches the regular expression (Perl\n"
    "        syntax; ^ and $ match at line starts and ends).\n"
    "    --timeout S\n"
    "        Seconds to wait for the installer to accept a connection and for\n"
    "        each --wait to match (default 10; fractions allowed).\n"
    "    -h, --help\n"
    "        Show this text.\n"
    "\n"
    "EXIT STATUS\n"
    "    0   all actions done (interactive mode: end of input)\n"
    "    1   a --wait timed out; the last screen is printed on standard error\n"
    "    2   the installer was not running within the timeout, or a command\n"
    "        could not be sent or the screen not be read\n"
    "    64  wrong command line\n"
    "    130 interrupted by Ctrl-C (interactive mode)\n"
    "\n"
    "ENVIRONMENT\n"
    "    TMPDIR\n"
    "        The socket and the shared memory key file lie in this directory;\n"
    "        the client and the installer must see the same value.\n"
    "\n"
    "SECURITY\n"
    "    Only the user who runs the installer (normally root) can connect and\n"
    "    read its screen.\n"
    "\n"
    "EXAMPLES\n"
    "    imgsmith-console --wait 'Installation Complete' --timeout 600\n"
    "    imgsmith-console --send 2 --wait '^>>> ' --send yes\n";

int usageError(const QString &message)
{
    fprintf(stderr, "imgsmith-console: %s\nTry 'imgsmith-console --help'.\n", qPrintable(message));
    return kUsageError;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments().mid(1);

    QList<ScriptRunner::Action> actions;
    double timeoutSeconds = kDefaultTimeoutSeconds;
    for (int i = 0; i < args.size(); ++i) {
        const QString &arg = args.at(i);
        if (arg == QLatin1String("-h") || arg == QLatin1String("--help")) {
            fputs(kHelp, stdout);
            return 0;
        }
        if (arg == QLatin1String("--dump")) {
            actions.append({ScriptRunner::Action::Dump, QString()});
            continue;
        }
        const bool takesValue = arg == QLatin1String("--send") || arg == QLatin1String("--wait")
            || arg == QLatin1String("--timeout");
        if (!takesValue)
            return usageError(QStringLiteral("unknown argument \"%1\"").arg(arg));
        if (i + 1 >= args.size())
            return usageError(QStringLiteral("%1 needs a value").arg(arg));
        const QString value = args.at(++i);
        if (arg == QLatin1String("--timeout")) {
            bool ok = false;
            timeoutSeconds = value.toDouble(&ok);
            if (!ok || timeoutSeconds < 0 || timeoutSeconds > 24 * 3600)
                return usageError(QStringLiteral("--timeout wants seconds, not \"%1\"").arg(value));
        } else if (arg == QLatin1String("--send")) {
            const QString word = value.simplified();
            if (word.isEmpty())
                return usageError(QStringLiteral("--send needs a non-empty command"));
            actions.append({ScriptRunner::Action::Send, word});
        } else {
            const QRegularExpression re(value);
            if (!re.isValid())
                return usageError(QStringLiteral("bad regular expression \"%1\": %2").arg(value, re.errorString()));
            actions.append({ScriptRunner::Action::Wait, value});
        }
    }

    ConsoleClient client;
    int status = 0;
    if (actions.isEmpty()) {
        InteractiveSession session(&client);
        QObject::connect(&session, &InteractiveSession::finished, &app, [&](int s) { status = s; app.quit(); });
        // Started from the loop: a quit before exec() would be lost.
        QTimer::singleShot(0, &session, &InteractiveSession::start);
        app.exec();
    } else {
        ScriptRunner runner(&client, actions, static_cast<int>(timeoutSeconds * 1000));
        QObject::connect(&runner, &ScriptRunner::finished, &app, [&](int s) { status = s; app.quit(); });
        QTimer::singleShot(0, &runner, &ScriptRunner::start);
        app.exec();
    }
    return status;
}
