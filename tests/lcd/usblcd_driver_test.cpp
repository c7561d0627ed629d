// The LCD2USB driver against the display model, and once against libusb;
// the status line that mirrors the display on standard output.
#include "lcddevicemodel.h"

#include "frontend/usblcdstatusline.h"
#include "support/testsupport.h"
#include "ui/usblcd.h"
#include "util/debugmode.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

using testing::internal::CaptureStderr;
using testing::internal::CaptureStdout;
using testing::internal::GetCapturedStderr;
using testing::internal::GetCapturedStdout;
using testsupport::readFile;
using testsupport::TempDir;

namespace {

// The display model, opened by the driver, its set-up chatter swallowed.
class UsbLcdDriver : public testing::Test
{
protected:
    void SetUp() override
    {
        CaptureStdout();
        const int rc = init_usblcd();
        GetCapturedStdout();
        ASSERT_EQ(rc, 0);
        lcd.clearTransfers();
    }
    void TearDown() override
    {
        release_usblcd();
        gLCD4USBDebug = 0;
    }

    LcdDeviceModel lcd;
    LcdTransportGuard guard{&lcd};
};

TEST_F(UsbLcdDriver, PacksFourBytesPerRequestAndACommandFlushesWaitingDataFirst)
{
    lcd_write("ABCDE");
    lcd_enqueue(LCD_DATA | LCD_CTRL_0, 'x');
    lcd_enqueue(LCD_DATA | LCD_CTRL_0, 'y');
    lcd_command(LCD_CTRL_0, 0xA8);
    EXPECT_EQ(lcd.transfers().size(), 3u);   // the command still waits
    lcd_write("z");
    const auto requests = lcd.transfers();
    ASSERT_EQ(requests.size(), 5u);
    const struct { uint8_t request; uint16_t value, index; } expected[] = {{0x4B, 'A' | ('B' << 8), 'C' | ('D' << 8)}, {0x48, 'E', 0}, {0x49, 'x' | ('y' << 8), 0},
                    {0x28, 0xA8, 0}, {0x48, 'z', 0}};
    for (size_t i = 0; i < requests.size(); ++i) {
        // Bytes beyond the count (the low three bits, minus one) are stale.
        EXPECT_EQ(requests[i].request, expected[i].request) << i;
        EXPECT_EQ(requests[i].value & (expected[i].request & 7 ? 0xFFFF : 0xFF), expected[i].value) << i;
        if (expected[i].index)
            EXPECT_EQ(requests[i].index, expected[i].index) << i;
        EXPECT_EQ(requests[i].requestType, 0x40);
        EXPECT_EQ(requests[i].timeoutMs, 1000u);
    }
    // The display's view: "ABCDExy" from home, "z" starting the second row.
    EXPECT_EQ(lcd.rows()[0], QStringLiteral("ABCDExy             "));
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

    // Clear and home go to both controllers, as one request of two commands.
    lcd.controllers = 0x03;
    lcd.clearTransfers();
    lcd_enqueue(LCD_DATA | LCD_BOTH, '#');
    lcd_clear();
    lcd_flush();
    EXPECT_EQ(lcd.ddram(0), QByteArray(128, ' '));
    EXPECT_EQ(lcd.ddram(1), QByteArray(128, ' '));
    const auto requests = lcd.transfers();
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(requests[1].request, 0x39);
}

TEST_F(UsbLcdDriver, QueriesReadTheAnswerAndFailuresReadAsNothing)
{
    lcd.setKeys({0x02});
    EXPECT_EQ(is_key_pressed(), 2);
    lcd.setKeys({0x03});
    EXPECT_EQ(is_key_pressed(), 1);   // key 0 wins
    EXPECT_EQ(lcd_get(LCD_GET_FWVER), 0x0109);
    const auto query = lcd.transfers().back();
    EXPECT_EQ(query.requestType, 0xC0);
    EXPECT_EQ(query.length, 2);
    EXPECT_EQ(query.timeoutMs, 1000u);

    lcd.plugged = false;
    EXPECT_EQ(is_key_pressed(), 0);
    EXPECT_EQ(lcd_get(LCD_GET_KEYS), -1);
    EXPECT_EQ(lcd_send(LCD_CMD | LCD_CTRL_0, 0x01, 0), 1);

    release_usblcd();
    CaptureStderr();
    EXPECT_EQ(lcd_get(LCD_GET_KEYS), -1);
    EXPECT_EQ(GetCapturedStderr(), "lcd_get: handle is NULL\n");
}

// A missing display fails silently unless tracing is on.
TEST(UsbLcdInit, SetsUpTheDisplayOrReportsItMissing)
{
    LcdDeviceModel lcd;
    LcdTransportGuard guard(&lcd);
    lcd.controllers = 0x03;
    lcd.setKeys({0x02});
    CaptureStdout();
    ASSERT_EQ(init_usblcd(), 0);
    EXPECT_EQ(GetCapturedStdout(), "Echo test successful!\nFirmware version 1.9\n"
                                   "Installed controllers: CTRL0 CTRL1\nKeys: 0:off 1:on\n");
    EXPECT_EQ(lcd.contrast.load(), 200);
    EXPECT_EQ(lcd.brightness.load(), 255);
    EXPECT_TRUE(lcd.displayOn(0));
    EXPECT_TRUE(lcd.displayOn(1));
    const auto transfers = lcd.transfers();
    EXPECT_EQ(std::count_if(transfers.begin(), transfers.end(), [](const auto &t) { return t.request == LCD_ECHO; }), 100);
    release_usblcd();

    lcd.clearTransfers();
    lcd.plugged = false;
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

// The real libusb path on a machine without the display.
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

TEST(UsbLcdStatusLine, PadsToTheLongestStatusAndPrefersTerminalLines)
{
    const TempDir dir;
    FILE *out = fopen(dir.file("out").c_str(), "w");
    ASSERT_NE(out, nullptr);
    const QString longest(300, QLatin1Char('x'));   // longer than any other test's
    writeUSBLCDStatusLine({longest}, {}, false, out);
    writeUSBLCDStatusLine({"Finish!", "Speed: 1 MB/s"}, {}, false, out);
    writeUSBLCDStatusLine({"ignored"}, {"Writing", "50%"}, true, out);
    fclose(out);
    const std::string text = readFile(dir.file("out"));
    EXPECT_EQ(text, std::string(300, 'x') + "\r" + "Finish!,Speed: 1 MB/s" + std::string(279, ' ')
                        + "\r" + "Writing,50%" + std::string(289, ' ') + "\n");
}

TEST(UsbLcdStatusLine, WritersOnSeveralThreadsDoNotInterleave)
{
    const TempDir dir;
    FILE *out = fopen(dir.file("out").c_str(), "w");
    ASSERT_NE(out, nullptr);
    writeUSBLCDStatusLine({QString(400, QLatin1Char('-'))}, {}, true, out);
    std::vector<std::thread> writers;
    for (int t = 0; t < 4; ++t)
        writers.emplace_back([out, t] {
            for (int i = 0; i < 300; ++i)
                writeUSBLCDStatusLine({QString(1 + (t * 37 + i) % 90, QChar('a' + t))}, {}, true, out);
        });
    for (auto &w : writers)
        w.join();
    fclose(out);
    const std::string text = readFile(dir.file("out"));
    size_t lines = 0;
    for (size_t start = 0; start < text.size(); ++lines) {
        const size_t end = text.find('\n', start);
        ASSERT_NE(end, std::string::npos);
        const std::string line = text.substr(start, end - start);
        ASSERT_EQ(line.size(), 400u);
        const size_t used = line.find_last_not_of(' ') + 1;
        EXPECT_EQ(line.find_first_not_of(line[0]), used == 400 ? std::string::npos : used) << line;
        start = end + 1;
    }
    EXPECT_EQ(lines, 1u + 4 * 300);
}

} // namespace
