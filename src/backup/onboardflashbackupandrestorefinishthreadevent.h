// The one success event of the back-up job: the image file is complete and
// on its medium.
#pragma once

#include <QEvent>

class OnboardFlashBackupAndRestoreFinishThreadEvent : public QEvent
{
public:
    static constexpr QEvent::Type ONBOARDFLASH_BR_FINISH_EVENT_TYPE = static_cast<QEvent::Type>(1202);

    OnboardFlashBackupAndRestoreFinishThreadEvent() : QEvent(ONBOARDFLASH_BR_FINISH_EVENT_TYPE) {}
};
