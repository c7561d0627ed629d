// Progress of the whole-device erase ("low format") of the install job.
#pragma once

#include <QEvent>

class SDUpdateThreadLowFormatEvent : public QEvent
{
public:
    static constexpr QEvent::Type SDUPDATE_LOWFORMAT_EVENT_TYPE = static_cast<QEvent::Type>(1110);

    // inProgress false (with percent 0) marks the end of one device's erase.
    SDUpdateThreadLowFormatEvent(bool inProgress, int percent)
        : QEvent(SDUPDATE_LOWFORMAT_EVENT_TYPE), m_inProgress(inProgress), m_percent(percent)
    {
    }

    bool inProgress() const { return m_inProgress; }
    int percent() const { return m_percent; }

private:
    bool m_inProgress = false;
    int m_percent = 0;
};
