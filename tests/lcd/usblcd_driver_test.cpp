// The LCD2USB driver against the display model, and once against libusb.
#include "opendisplaytest.h"

#include "ui/usblcd.h"
#include "util/debugmode.h"

#include <gtest/gtest.h>

using testing::internal::CaptureStderr;
using testing::internal::CaptureStdout;
using testing::internal::GetCapturedStderr;
using testing::internal::GetCapturedStdout;

namespace {

class UsbLcdDriver : public OpenDisplayTest
{
protected:
    void TearDown() override
    {
        OpenDisplayTest::TearDown();
        gLCD4USBDebug = 0;
    }
};

TEST_F(UsbLcdDriver, PacksFourDataBytesPerRequestAndFlushesTheRest)
{
    lcd_write("ABCDE");
    const auto requests = lcd.transfers();
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(requests[0].request, 0x4B);
    EXPECT_EQ(requests[0].value, 'A' | ('B' << 8));
    EXPECT_EQ(requests[0].index, 'C' | ('D' << 8));
    EXPECT_EQ(requests[1].request, 0x48);
    EXPECT_EQ(requests[1].value & 0xFF, 'E');
    for (const auto &t : requests) {
        EXPECT_EQ(t.requestType, 0x40);
        EXPECT_EQ(t.timeoutMs, 1000u);
    }
    // The display's own view: the text at the start of the first row.
    EXPECT_EQ(lcd.rows()[0], QStringLiteral("ABCDE               "));
}

TEST_F(UsbLcdDriver, ACommandFlushesWaitingDataFirst)
{
    lcd_enqueue(LCD_DATA | LCD_CTRL_0, 'x');
    lcd_enqueue(LCD_DATA | LCD_CTRL_0, 'y');
    lcd_command(LCD_CTRL_0, 0xA8);
    EXPECT_EQ(lcd.transfers().size(), 1u);   // the command still waits
    lcd_write("z");
    const auto requests = lcd.transfers();
    ASSERT_EQ(requests.size(), 3u);
    EXPECT_EQ(requests[0].request, 0x49);
    EXPECT_EQ(requests[0].value, 'x' | ('y' << 8));
    EXPECT_EQ(requests[1].request, 0x28);
    EXPECT_EQ(requests[1].value & 0xFF, 0xA8);
    EXPECT_EQ(requests[2].request, 0x48);
    // "xy" at the home address, "z" at the start of the second row.
    EXPECT_EQ(lcd.rows()[0].left(2), QStringLiteral("xy"));
    EXPECT_EQ(lcd.rows()[1].left(1), QStringLiteral("z"));
}

TEST_F(UsbLcdDriver, RowsFollowTheAddressCommandsAndHiddenMemoryStaysHidden)
{
    const unsigned char rowCommand[4] = {0x80, 0xA8, 0x94, 0xD4};
    lcd_clear();
    lcd_home();
    for (int row = 0; row < 4; ++row) {
        lcd_command(LCD_CTRL_0, rowCommand[row]);
        lcd_write(QByteArray("row").append(char('0' + row)).constData());
    }
    lcd_command(LCD_CTRL_0, 0xC0);   // a valid address no row shows
    lcd_write("hidden");
    lcd_flush();
    EXPECT_EQ(lcd.shownLines(), QStringList({"row0", "row1", "row2", "row3"}));
    EXPECT_EQ(lcd.ddram(0).mid(0x40, 6), QByteArray("hidden"));
    // A row longer than 20 cells runs on into memory another row shows.
    lcd_command(LCD_CTRL_0, 0x80);
    lcd_write("abcdefghijklmnopqrstu");
    EXPECT_EQ(lcd.rows()[2].left(1), QStringLiteral("u"));
}

TEST_F(UsbLcdDriver, ClearAndHomeGoToBothControllers)
{
    lcd.setControllers(0x03);
    lcd_enqueue(LCD_DATA | LCD_BOTH, '#');
    lcd_clear();
    lcd_flush();
    EXPECT_EQ(lcd.ddram(0), QByteArray(128, ' '));
    EXPECT_EQ(lcd.ddram(1), QByteArray(128, ' '));
    const auto requests = lcd.lcdRequests();
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(requests[1].request, 0x39);   // two command bytes, both controllers
}

TEST_F(UsbLcdDriver, QueriesReadTheAnswerAndFailuresReadAsNothing)
{
    lcd.setKeys(0x02);
    EXPECT_EQ(is_key_pressed(), 2);
    lcd.setKeys(0x03);
    EXPECT_EQ(is_key_pressed(), 1);   // key 0 wins
    EXPECT_EQ(lcd_get(LCD_GET_FWVER), 0x0109);
    const auto query = lcd.transfers().back();
    EXPECT_EQ(query.requestType, 0xC0);
    EXPECT_EQ(query.length, 2);
    EXPECT_EQ(query.timeoutMs, 1000u);

    lcd.setPlugged(false);
    EXPECT_EQ(is_key_pressed(), 0);
    EXPECT_EQ(lcd_get(LCD_GET_KEYS), -1);
    EXPECT_EQ(lcd_send(LCD_CMD | LCD_CTRL_0, 0x01, 0), 1);

    release_usblcd();
    CaptureStderr();
    EXPECT_EQ(lcd_get(LCD_GET_KEYS), -1);
    EXPECT_EQ(GetCapturedStderr(), "lcd_get: handle is NULL\n");
}

TEST(UsbLcdInit, SetsUpTheDisplayAndReportsIt)
{
    LcdDeviceModel lcd;
    LcdTransportGuard guard(&lcd);
    lcd.setControllers(0x03);
    lcd.setKeys(0x02);
    CaptureStdout();
    ASSERT_EQ(init_usblcd(), 0);
    EXPECT_EQ(GetCapturedStdout(), "Echo test successful!\nFirmware version 1.9\n"
                                   "Installed controllers: CTRL0 CTRL1\nKeys: 0:off 1:on\n");
    EXPECT_EQ(lcd.contrast(), 200);
    EXPECT_EQ(lcd.brightness(), 255);
    EXPECT_TRUE(lcd.displayOn(0));
    EXPECT_TRUE(lcd.displayOn(1));
    int echoes = 0;
    for (const auto &t : lcd.transfers())
        echoes += t.request == LCD_ECHO;
    EXPECT_EQ(echoes, 100);
    release_usblcd();
}

TEST(UsbLcdInit, MissingDisplayFailsWithTheMessageOnlyWhenTracing)
{
    LcdDeviceModel lcd;
    LcdTransportGuard guard(&lcd);
    lcd.setPlugged(false);
    CaptureStderr();
    EXPECT_EQ(init_usblcd(), -1);
    EXPECT_EQ(GetCapturedStderr(), "");
    gLCD4USBDebug = 1;
    CaptureStderr();
    EXPECT_EQ(init_usblcd(), -1);
    gLCD4USBDebug = 0;
    EXPECT_EQ(GetCapturedStderr(),
              "Error: Could not find LCD2USB device: (VID: 0x0403, PID: 0xC630)\n");
    EXPECT_TRUE(lcd.transfers().empty());
}

// The real libusb path on a machine without the display: no crash, no hang,
// the error message.
TEST(UsbLcdLibusb, NoDisplayAttached)
{
    gLCD4USBDebug = 1;
    CaptureStdout();
    CaptureStderr();
    const int rc = init_usblcd();
    const std::string out = GetCapturedStdout();
    const std::string err = GetCapturedStderr();
    gLCD4USBDebug = 0;
    if (rc == 0) {
        release_usblcd();
        GTEST_SKIP() << "an LCD2USB display is attached to this machine";
    }
    EXPECT_EQ(rc, -1);
    EXPECT_NE(err.find("Error: Could not find LCD2USB device: (VID: 0x0403, PID: 0xC630)\n"),
              std::string::npos)
        << err;
    EXPECT_EQ(lcd_get(LCD_GET_KEYS), -1);
    EXPECT_EQ(is_key_pressed(), 0);
    EXPECT_EQ(lcd_send(LCD_CMD | LCD_CTRL_0, 0x01, 0), 1);
}

} // namespace
