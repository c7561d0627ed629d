// The script dialog runs the script with its interpreter, shows every
// non-empty output line and tells success from failure by the exit code.
#include "ui/runscriptdialog.h"

#include <QPushButton>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

class RunScriptDialogTest : public QObject
{
    Q_OBJECT
private slots:
    void outputAndStatus_data();
    void outputAndStatus();
};

void RunScriptDialogTest::outputAndStatus_data()
{
    QTest::addColumn<QString>("script");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("status");
    QTest::addColumn<QString>("closeText");
    QTest::newRow("success") << "echo 'first   line'\necho\necho second >&2\nexit 0\n" << 0
                             << "Operation Successfully Completed" << "  Finish  ";
    QTest::newRow("failure") << "echo 'first   line'\necho\necho second >&2\nexit 3\n" << 3
                             << "An Error Occurred (RetCode: 3)" << "  Close  ";
}

void RunScriptDialogTest::outputAndStatus()
{
    QFETCH(QString, script);
    QFETCH(int, exitCode);
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("job.sh"));
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write(script.toUtf8());
    f.close();

    RunScriptDialog dialog(QStringLiteral("Executing script"), path, QStringLiteral("/bin/sh"));
    QSignalSpy finished(&dialog, &RunScriptDialog::scriptFinished);
    QCOMPARE(dialog.exitCode(), -1);   // nothing runs before the dialog shows
    dialog.show();
    QVERIFY(finished.wait(10000));
    QCOMPARE(dialog.exitCode(), exitCode);
    QTRY_COMPARE(dialog.outputText(), QStringLiteral("first line\nsecond"));
    QTEST(dialog.statusText(), "status");
    QTEST(dialog.findChild<QPushButton *>(QStringLiteral("runScriptCloseButton"))->text(), "closeText");
}

QTEST_MAIN(RunScriptDialogTest)
#include "runscriptdialog_test.moc"
