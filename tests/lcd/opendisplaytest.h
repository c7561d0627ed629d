// A test with the display model installed and opened by the driver; the
// set-up chatter of init_usblcd() is swallowed.
#pragma once

#include "lcddevicemodel.h"

#include "ui/usblcd.h"

#include <gtest/gtest.h>

class OpenDisplayTest : public testing::Test
{
protected:
    void SetUp() override
    {
        testing::internal::CaptureStdout();
        const int rc = init_usblcd();
        testing::internal::GetCapturedStdout();
        ASSERT_EQ(rc, 0);
        lcd.clearTransfers();
    }
    void TearDown() override { release_usblcd(); }

    LcdDeviceModel lcd;
    LcdTransportGuard guard{&lcd};
};
