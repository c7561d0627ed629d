// The one success event of the install job: both devices as installed.
#pragma once

#include <QEvent>

#include "board/targetdevice.h"

class SDUpdateFinishThreadEvent : public QEvent
{
public:
    static constexpr QEvent::Type SDUPDATE_FINISH_EVENT_TYPE = static_cast<QEvent::Type>(1111);

    SDUpdateFinishThreadEvent(const TargetDevice &bootDevice, const TargetDevice &systemDevice)
        : QEvent(SDUPDATE_FINISH_EVENT_TYPE), m_bootDevice(bootDevice), m_systemDevice(systemDevice)
    {
    }

    const TargetDevice &bootDevice() const { return m_bootDevice; }
    const TargetDevice &systemDevice() const { return m_systemDevice; }

private:
    TargetDevice m_bootDevice;
    TargetDevice m_systemDevice;
};
