// The back-up mode's first view: choose the TF card or the USB drive as the
// target, see what is wrong with it, format it, or start the back-up. What
// the labels say comes from BRSelectorRules.
#pragma once

#include <QWidget>

class QLabel;
class QPushButton;

class BRSelectorWidget : public QWidget
{
    Q_OBJECT
public:
    explicit BRSelectorWidget(QWidget *parent = nullptr);

    // 1 TF card, 2 USB drive.
    void setChosen(int kind);
    int chosen() const { return m_chosen; }

public slots:
    // Re-reads the onboard size, gUdiskStatus and the TF card figures (as
    // last computed) and applies the rules.
    void resetView();
    void backupButtonClickedSlot();

signals:
    void backupButtonClicked();
    void formatUDiskButtonClicked();
    void formatTFCardButtonClicked();
    void targetChosen(int kind);

private:
    void setStatus(QLabel *label, const QString &text, bool error);

    QLabel *m_title;
    QLabel *m_sizeLabel;
    QLabel *m_statusLabel;
    QPushButton *m_tfButton;
    QPushButton *m_usbButton;
    QPushButton *m_backupButton;
    QPushButton *m_formatTFButton;
    QPushButton *m_formatUDiskButton;
    int m_chosen = 1;
};
