// Key polling.
#include "opendisplaytest.h"

#include "ui/usblcd.h"
#include "ui/usblcdkeythread.h"

#include <QSemaphore>

#include <gtest/gtest.h>

#include <mutex>

namespace {

class UsbLcdKeys : public OpenDisplayTest
{
protected:
    void SetUp() override
    {
        OpenDisplayTest::SetUp();
        thread.setReporter([this](int key) {
            std::lock_guard<std::mutex> lock(mutex);
            reported.push_back(key);
            reports.release();
        });
    }
    void TearDown() override
    {
        thread.stop();
        OpenDisplayTest::TearDown();
    }
    std::vector<int> reportsAfterPolls(int polls)
    {
        for (int i = 0; i < polls; ++i)
            thread.grabKey();
        std::lock_guard<std::mutex> lock(mutex);
        return reported;
    }

    USBLCDKeyThread thread;
    std::mutex mutex;
    std::vector<int> reported;
    QSemaphore reports;
};

TEST_F(UsbLcdKeys, AKeyReportsOnceWhenReleased)
{
    const struct
    {
        std::initializer_list<uint8_t> bits;   // per poll
        std::vector<int> expected;
    } cases[] = {
        {{0x02, 0x02, 0x02, 0x02}, {}},            // held: nothing yet
        {{0x02, 0x02, 0x02, 0x00, 0x00}, {2}},     // key 1 held, then released
        {{0x01, 0x00, 0x01, 0x00}, {1, 1}},        // two taps of key 0
        {{0x02, 0x03, 0x00}, {1}},                 // both held: key 0 wins
    };
    for (const auto &c : cases) {
        reported.clear();
        lcd.scriptKeys(c.bits);
        EXPECT_EQ(reportsAfterPolls(static_cast<int>(c.bits.size())), c.expected);
        thread.stop();   // forgets a key still held
    }
}

TEST_F(UsbLcdKeys, AnUnpluggedDisplayReadsAsNoKey)
{
    lcd.setPlugged(false);
    lcd.setKeys(0x01);
    const int answered = lcd.keyQueries();
    EXPECT_TRUE(reportsAfterPolls(3).empty());
    EXPECT_EQ(lcd.keyQueries(), answered);
}

TEST_F(UsbLcdKeys, TheThreadPollsUntilStopped)
{
    lcd.scriptKeys({0x00, 0x02, 0x02, 0x00});
    thread.startPolling();
    ASSERT_TRUE(reports.tryAcquire(1, 10000));
    thread.stop();
    EXPECT_FALSE(thread.isRunning());
    EXPECT_EQ(reported, std::vector<int>({2}));
    const int queries = lcd.keyQueries();
    EXPECT_GE(queries, 4);
    // Started again after a stop, it polls again.
    lcd.scriptKeys({0x01, 0x00});
    thread.startPolling();
    ASSERT_TRUE(reports.tryAcquire(1, 10000));
    thread.stop();
    EXPECT_EQ(reported, std::vector<int>({2, 1}));
}

} // namespace
