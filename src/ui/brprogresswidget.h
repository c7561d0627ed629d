// The back-up mode's progress view: title, bar, speed and time left, a
// status line, and one button that cancels while the copy runs and
// finishes once it is done.
#pragma once

#include <QWidget>

class QLabel;
class QProgressBar;
class QPushButton;

class BRProgressWidget : public QWidget
{
    Q_OBJECT
public:
    explicit BRProgressWidget(QWidget *parent = nullptr);

    // A fresh view for a copy of `totalBytes` into `imagePath`.
    void prepare(const QString &title, const QString &status, qint64 totalBytes);
    void setPercent(int percent);
    void setSpeed(qint64 bytesDone, qint64 bytesTotal, double elapsedMs);
    void showError(const QString &message);
    // Bar full, figures cleared, "All done.", the button turns to Finish.
    void uiToAllDone();
    void setStatus(const QString &text);
    QString status() const;
    bool isDone() const { return m_done; }

signals:
    void userClickCancelButtonSignal();
    void userClickFinishButtonSignal();

private:
    QLabel *m_title;
    QProgressBar *m_bar;
    QLabel *m_speed;
    QLabel *m_time;
    QLabel *m_status;
    QPushButton *m_button;
    bool m_done = false;
    bool m_failed = false;
};
