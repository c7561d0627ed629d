#include "ui/myinputdialog.h"

MyInputDialog::MyInputDialog(QWidget *parent) : QInputDialog(parent)
{
    setObjectName(QStringLiteral("backupFileNameDialog"));
    setWindowTitle(tr("Backup"));
    setInputMode(QInputDialog::TextInput);
    setModal(false);
    setOkButtonText(tr("Start Backup"));
    setCancelButtonText(tr("Cancel"));
    setWindowFlags(Qt::FramelessWindowHint | Qt::Dialog);
    setStyleSheet(QStringLiteral("QInputDialog { background: #FFFFFF; border: 1px solid #DDE1E6; }"
                                 "QLineEdit { min-height: 48px; font-size: 16px; }"
                                 "QPushButton { min-height: 48px; min-width: 120px; }"));
}

void MyInputDialog::open(const QString &label, const QString &text)
{
    setLabelText(label);
    setTextValue(text);
    if (parentWidget())
        setGeometry(QRect(parentWidget()->mapToGlobal(QPoint(0, 0)), parentWidget()->size()));
    show();
    raise();
    activateWindow();
}
