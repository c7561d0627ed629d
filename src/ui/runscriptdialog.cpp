#include "ui/runscriptdialog.h"

#include "util/runcmdthread.h"
#include "util/runcmdthreadevent.h"

#include <QFile>
#include <QHBoxLayout>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QTimer>
#include <QVBoxLayout>

namespace {

QString resourceText(const QString &name)
{
    QFile f(name);
    return f.open(QIODevice::ReadOnly) ? QString::fromUtf8(f.readAll()) : QString();
}

} // namespace

RunScriptDialog::RunScriptDialog(const QString &title, const QString &scriptPath, const QString &interpreter,
                                 QWidget *parent)
    : QDialog(parent)
{
    setObjectName(QStringLiteral("runScriptDialog"));
    setModal(true);
    setWindowTitle(title);
    setStyleSheet(QStringLiteral("#runScriptDialog { background: #F5F6F8; }"));
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(16, 12, 16, 12);
    m_title = new QLabel(title, this);
    m_title->setObjectName(QStringLiteral("runScriptTitle"));
    QFont f = m_title->font();
    f.setBold(true);
    f.setPointSizeF(f.pointSizeF() * 1.4);
    m_title->setFont(f);
    m_view = new QPlainTextEdit(this);
    m_view->setObjectName(QStringLiteral("runScriptOutput"));
    m_view->setReadOnly(true);
    m_view->setStyleSheet(QStringLiteral("background-color:rgb(0,0,0); font-size:11pt; color:rgb(255,255,255);"));
    m_status = new QLabel(this);
    m_status->setObjectName(QStringLiteral("runScriptStatus"));

    auto *buttons = new QHBoxLayout;
    auto *top = new QPushButton(tr("Scroll To Top"), this);
    top->setObjectName(QStringLiteral("scrollToTopButton"));
    auto *bottom = new QPushButton(tr("Scroll To Bottom"), this);
    bottom->setObjectName(QStringLiteral("scrollToBottomButton"));
    m_closeButton = new QPushButton(QStringLiteral("  Close  "), this);
    m_closeButton->setObjectName(QStringLiteral("runScriptCloseButton"));
    m_closeButton->setStyleSheet(resourceText(QStringLiteral(":/button_onekeybutton.css")));
    for (QPushButton *b : {top, bottom})
        b->setMinimumHeight(48);
    buttons->addWidget(top);
    buttons->addWidget(bottom);
    buttons->addStretch(1);
    buttons->addWidget(m_closeButton);
    layout->addWidget(m_title);
    layout->addWidget(m_view, 1);
    layout->addWidget(m_status);
    layout->addLayout(buttons);

    connect(top, &QPushButton::clicked, this, &RunScriptDialog::scrollToTop);
    connect(bottom, &QPushButton::clicked, this, &RunScriptDialog::scrollToBottom);
    connect(m_closeButton, &QPushButton::clicked, this, &QDialog::accept);

    m_thread = new RunCmdThread(interpreter, {scriptPath}, false, QEvent::Type(OUTPUT_EVENT_TYPE), this);
    connect(m_thread, &QThread::finished, this, &RunScriptDialog::threadFinished);
}

RunScriptDialog::~RunScriptDialog()
{
    // The script runs to its end: it may be formatting a drive.
    if (m_thread) {
        m_thread->wait();
        delete m_thread;
    }
}

QString RunScriptDialog::statusText() const
{
    return m_status->text();
}

QString RunScriptDialog::outputText() const
{
    return m_view->toPlainText();
}

void RunScriptDialog::showEvent(QShowEvent *event)
{
    QDialog::showEvent(event);
    if (m_started)
        return;
    m_started = true;
    m_view->clear();
    m_thread->start(QThread::NormalPriority);
}

void RunScriptDialog::customEvent(QEvent *event)
{
    if (static_cast<int>(event->type()) != OUTPUT_EVENT_TYPE) {
        QDialog::customEvent(event);
        return;
    }
    for (const QString &line : static_cast<RunCmdThreadEvent *>(event)->lines()) {
        const QString text = line.simplified();
        if (!text.isEmpty())
            m_view->appendPlainText(text);
    }
    scrollLater();
}

void RunScriptDialog::scrollLater()
{
    QTimer::singleShot(1, this, [this] {
        QScrollBar *bar = m_view->verticalScrollBar();
        bar->setValue(m_keepTop ? bar->minimum() : bar->maximum());
    });
}

void RunScriptDialog::scrollToTop()
{
    m_keepTop = true;
    scrollLater();
}

void RunScriptDialog::scrollToBottom()
{
    m_keepTop = false;
    scrollLater();
}

void RunScriptDialog::threadFinished()
{
    m_thread->wait();
    m_exitCode = m_thread->exitCode();
    delete m_thread;
    m_thread = nullptr;
    scrollLater();
    if (m_exitCode == 0) {
        m_status->setText(tr("Operation Successfully Completed"));
        m_status->setStyleSheet(QStringLiteral("color: #2E7D32; font-weight: bold;"));
        m_closeButton->setText(QStringLiteral("  Finish  "));
    } else {
        m_status->setText(tr("An Error Occurred (RetCode: %1)").arg(m_exitCode));
        m_status->setStyleSheet(QStringLiteral("color: #C62828; font-weight: bold;"));
    }
    emit scriptFinished(m_exitCode);
}
