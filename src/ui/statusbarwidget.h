// The dark bar at the top of the OS selection screen: storage, memory,
// address and version side by side, never wrapping, and a USB drive mark.
#pragma once

#include <QStringList>
#include <QWidget>

class StatusBarWidget : public QWidget
{
    Q_OBJECT
public:
    explicit StatusBarWidget(QWidget *parent = nullptr);

    void setTexts(const QStringList &texts);
    QStringList texts() const { return m_texts; }
    // With the texts hidden only the USB drive mark is drawn.
    void setTextsHidden(bool hidden);
    void setUSBDrivePresent(bool present);

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    QStringList m_texts;
    bool m_textsHidden = false;
    bool m_usbDrivePresent = false;
};
