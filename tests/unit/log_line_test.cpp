#include "log/log_line.h"

#include <cstring>
#include <gtest/gtest.h>
#include <string>

static std::string Message(const char* format, ...) {
    char out[kMessageBufferSize];
    va_list args;
    va_start(args, format);
    FormatLogMessage(out, format, args);
    va_end(args);
    return out;
}

static std::string Line(const char* stamp, const char* message) {
    char out[kLineBufferSize];
    std::size_t length = BuildLogLine(stamp, message, out);
    return std::string(out, length);
}

TEST(LogLine, TimestampPadsEveryFieldButTheYear) {
    std::tm time = {};
    time.tm_year = 2027 - 1900;
    time.tm_mon = 0;
    time.tm_mday = 5;
    time.tm_hour = 7;
    time.tm_min = 3;
    time.tm_sec = 9;
    char stamp[kTimestampBufferSize];
    EXPECT_EQ(FormatLogTimestamp(time, stamp), 19u);
    EXPECT_STREQ(stamp, "2027-01-05 07:03:09");

    time.tm_hour = 23;
    FormatLogTimestamp(time, stamp);
    EXPECT_STREQ(stamp, "2027-01-05 23:03:09"); // 24-hour clock
}

TEST(LogLine, MessageIsCutAfter511Bytes) {
    std::string longText(600, 'x');
    longText[510] = 'L'; // the last byte kept
    longText[511] = 'D'; // the first byte dropped
    std::string message = Message("%s", longText.c_str());
    ASSERT_EQ(message.size(), 511u);
    EXPECT_EQ(message.back(), 'L');

    std::string line = Line("2027-01-05 07:03:09", message.c_str());
    EXPECT_EQ(line.size(), 1 + 19 + 2 + 511 + 2u);
    EXPECT_EQ(line.substr(line.size() - 3), "L\r\n");
}

TEST(LogLine, LineHasStampMessageAndCrLf) {
    EXPECT_EQ(Line("2027-01-05 07:03:09", "[QS] All threads started."),
              "[2027-01-05 07:03:09] [QS] All threads started.\r\n");
    EXPECT_EQ(Line("2027-01-05 07:03:09", ""), "[2027-01-05 07:03:09] \r\n");
    // Written as a text-mode stream would: a line feed inside becomes CR LF,
    // any other byte passes unchanged.
    EXPECT_EQ(Line("s", "a\nb\rc\xC3\xA9"), "[s] a\r\nb\rc\xC3\xA9\r\n");
}

TEST(LogLine, WorstCaseMessageFitsTheLineBuffer) {
    std::string feeds(511, '\n');
    std::string line = Line("2027-01-05 07:03:09", feeds.c_str());
    EXPECT_EQ(line.size(), 1 + 19 + 2 + 2 * 511 + 2u);
}
