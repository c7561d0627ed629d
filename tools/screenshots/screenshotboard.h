// The board and font both screenshot programs start from, as imgsmith-gui
// identifies them below IMGSMITH_ROOT, so the pictures show the same texts.
#pragma once

#include "board/boardhardwareinfo.h"
#include "startup/globals.h"

#include <QApplication>
#include <QFont>

inline void identifyScreenshotBoard()
{
    initBoardType();
    gCurrentBoardInfo = GetBoardType();
    gOnboardFlashSize = gCurrentBoardInfo->getOnboardFlashSize();
    QApplication::setFont(QFont(QStringLiteral("Droid Sans Fallback"), 12, QFont::Normal, false));
}
