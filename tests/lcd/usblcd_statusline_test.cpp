// The status line that mirrors the display on standard output.
#include "frontend/usblcdstatusline.h"
#include "support/testsupport.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <thread>
#include <vector>

using testsupport::readFile;
using testsupport::TempDir;

namespace {

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
