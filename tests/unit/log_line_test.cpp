#include "log/log_line.h"

#include <gtest/gtest.h>
#include <string>

static std::string Line(const char* stamp, const char* message) {
    char out[kLineBufferSize];
    return std::string(out, BuildLogLine(stamp, message, out));
}

TEST(LogLine, TimestampPadsEveryFieldButTheYearOnA24HourClock) {
    std::tm time = {};
    time.tm_year = 2027 - 1900;
    time.tm_mday = 5;
    time.tm_hour = 7;
    time.tm_min = 3;
    time.tm_sec = 9;
    char stamp[kTimestampBufferSize];
    EXPECT_EQ(FormatLogTimestamp(time, stamp), 19u);
    EXPECT_STREQ(stamp, "2027-01-05 07:03:09");
    time.tm_hour = 23;
    FormatLogTimestamp(time, stamp);
    EXPECT_STREQ(stamp, "2027-01-05 23:03:09");
}

TEST(LogLine, LineFeedsInsideBecomeCrLfAndTheWorstCaseFits) {
    // As a text-mode stream writes it: a line feed becomes CR LF, any other
    // byte passes unchanged.
    EXPECT_EQ(Line("s", "a\nb\rc\xC3\xA9"), "[s] a\r\nb\rc\xC3\xA9\r\n");
    EXPECT_EQ(Line("2027-01-05 07:03:09", ""), "[2027-01-05 07:03:09] \r\n");
    std::string feeds(kMessageBufferSize - 1, '\n');
    EXPECT_EQ(Line("2027-01-05 07:03:09", feeds.c_str()).size(), 1 + 19 + 2 + 2 * 511 + 2u);
}
