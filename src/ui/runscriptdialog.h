// Runs one shell script and shows its output live, then whether it
// succeeded. Used for drive formatting and for the user scripts run after a
// restore.
#pragma once

#include <QDialog>

class QLabel;
class QPlainTextEdit;
class QPushButton;
class RunCmdThread;

class RunScriptDialog : public QDialog
{
    Q_OBJECT
public:
    // The output of one read of the script arrives as an event of this type
    // posted to the dialog itself.
    static constexpr int OUTPUT_EVENT_TYPE = 1102;

    RunScriptDialog(const QString &title, const QString &scriptPath, const QString &interpreter,
                    QWidget *parent = nullptr);
    ~RunScriptDialog() override;

    // The script's exit code once it has ended, -1 before.
    int exitCode() const { return m_exitCode; }
    QString statusText() const;
    QString outputText() const;

signals:
    void scriptFinished(int exitCode);

protected:
    void showEvent(QShowEvent *event) override;
    void customEvent(QEvent *event) override;

private slots:
    void threadFinished();
    void scrollToTop();
    void scrollToBottom();
    void scrollLater();

private:
    QLabel *m_title;
    QLabel *m_status;
    QPlainTextEdit *m_view;
    QPushButton *m_closeButton;
    RunCmdThread *m_thread = nullptr;
    bool m_started = false;
    bool m_keepTop = false;
    int m_exitCode = -1;
};
