#include "settings/settings.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <gtest/gtest.h>
#include <random>
#include <string>

static Settings FromText(std::string_view text) {
    Settings settings;
    std::string pending;
    ApplySettingsText(text, &pending, true, settings);
    return settings;
}

struct LineCase {
    const char* line;
    std::int32_t iterations, sleepMs;
    bool overlay;
};

// One line in an otherwise empty file, and the settings it leaves.
TEST(SettingsLine, EachKnownFormGivesItsValue) {
    const LineCase cases[] = {
        {"Iter= 7", 7, 5, true},
        {"Iter=\t 7", 7, 5, true},
        {"Iter=7abc", 7, 5, true},
        {"Iter=7 ; remark", 7, 5, true},
        {"Iter=+7", 7, 5, true},
        {"Iter=7\r", 7, 5, true}, // a stray carriage return
        {"Sleep=-5", 10000, -5, true},
        {"Sleep=0", 10000, 0, true},
        {"OverlayBatch=2", 10000, 5, true},
        {"OverlayBatch=-1", 10000, 5, true},
        {"OverlayBatch=0", 10000, 5, false},
        {"OverlayBatch=00", 10000, 5, false},
        {"Iter=2147483647", 2147483647, 5, true},
        {"Iter=-2147483648", INT32_MIN, 5, true},
        {"Iter=0x20", 0, 5, true},
        {"Iter=010", 10, 5, true},
        {"Iter=000000000000000000000042", 42, 5, true},
        {"iter=5", 10000, 5, true},
        {"ITER=5", 10000, 5, true},
        {"Iter = 5", 10000, 5, true},
        {" Iter=5", 10000, 5, true},
        {";Iter=5", 10000, 5, true},
        {"[Other]", 10000, 5, true},
        {"Iterations=5", 10000, 5, true},
        {"Iter", 10000, 5, true},
        // Invalid values leave the setting as it was.
        {"Iter=", 10000, 5, true},
        {"Iter=abc", 10000, 5, true},
        {"Iter=-", 10000, 5, true},
        {"Iter=+-3", 10000, 5, true},
        {"Iter=- 3", 10000, 5, true},
        {"Iter=2147483648", 10000, 5, true},
        {"Iter=-2147483649", 10000, 5, true},
        {"Sleep=99999999999999999999999999", 10000, 5, true},
        {"OverlayBatch=", 10000, 5, true},
        {"OverlayBatch=off", 10000, 5, true},
        {"OverlayBatch=4294967296", 10000, 5, true},
    };
    for (const LineCase& c : cases) {
        Settings s = FromText(c.line);
        EXPECT_EQ(s.iterations, c.iterations) << c.line;
        EXPECT_EQ(s.sleepMs, c.sleepMs) << c.line;
        EXPECT_EQ(s.overlayBatch, c.overlay) << c.line;
    }
}

TEST(SettingsFile, LinesAreTakenWhereverTheyStandAndTheLastWins) {
    Settings s = FromText("Iter=5\n[Other]\nSleep=3\n[Settings]\nIter=9\nIter=oops\n");
    EXPECT_EQ(s.iterations, 9); // an invalid later line does not undo an earlier value
    EXPECT_EQ(s.sleepMs, 3);

    s = FromText("");
    EXPECT_EQ(s.iterations, 10000);
    s = FromText("[Settings]\n");
    EXPECT_EQ(s.iterations, 10000);
}

TEST(SettingsFile, LineEndsAndTheLastLine) {
    // Text mode has turned CR LF into LF; a bare LF reads alike, and a last
    // line without any line end still counts.
    Settings s = FromText("[Settings]\nIter=100\nSleep=1\nOverlayBatch=0");
    EXPECT_EQ(s.iterations, 100);
    EXPECT_EQ(s.sleepMs, 1);
    EXPECT_FALSE(s.overlayBatch);

    // Bare carriage returns do not end lines: the file is one line.
    s = FromText("Iter=3\rSleep=4\r");
    EXPECT_EQ(s.iterations, 3);
    EXPECT_EQ(s.sleepMs, 5);
    s = FromText("[Settings]\rIter=3\r");
    EXPECT_EQ(s.iterations, 10000);

    // A byte-order mark spoils only the first line.
    s = FromText("\xEF\xBB\xBFIter=3\nSleep=4\n");
    EXPECT_EQ(s.iterations, 10000);
    EXPECT_EQ(s.sleepMs, 4);
}

TEST(SettingsFile, ChunkBoundariesDoNotMatter) {
    const std::string text = "[Settings]\nIter=123\nSleep=-7\nOverlayBatch=0\nIter=456";
    for (std::size_t cut = 0; cut <= text.size(); ++cut) {
        Settings s;
        std::string pending;
        ApplySettingsText(std::string_view(text).substr(0, cut), &pending, false, s);
        ApplySettingsText(std::string_view(text).substr(cut), &pending, false, s);
        ApplySettingsText({}, &pending, true, s);
        EXPECT_EQ(s.iterations, 456) << cut;
        EXPECT_EQ(s.sleepMs, -7) << cut;
        EXPECT_FALSE(s.overlayBatch) << cut;
    }
}

TEST(SettingsFile, DefaultFileIsFourLines) {
    // 45 bytes in memory; each of the four line feeds becomes CR LF on disk: 49.
    EXPECT_EQ(DefaultSettingsText(), "[Settings]\nIter=10000\nSleep=5\nOverlayBatch=1\n");
    Settings s = FromText(DefaultSettingsText());
    EXPECT_EQ(s.iterations, 10000);
    EXPECT_EQ(s.sleepMs, 5);
    EXPECT_TRUE(s.overlayBatch);
}

// A conversion written another way: the C library's, whose long is 64 bits here.
static bool ReferenceValue(const std::string& text, std::int32_t* value) {
    std::size_t start = text.find_first_not_of(" \t\n\v\f\r");
    if (start == std::string::npos) {
        return false;
    }
    std::size_t digits = start + (text[start] == '+' || text[start] == '-');
    if (digits >= text.size() || text[digits] < '0' || text[digits] > '9') {
        return false;
    }
    errno = 0;
    long parsed = std::strtol(text.c_str() + start, nullptr, 10);
    if (errno == ERANGE || parsed < INT32_MIN || parsed > INT32_MAX) {
        return false;
    }
    *value = static_cast<std::int32_t>(parsed);
    return true;
}

TEST(SettingsValue, RandomTextNeverCrashesAndAgreesWithTheCLibrary) {
    std::mt19937 random(20261206);
    const std::string alphabet = "0123456789+- \t\r\v\fxX;a\xFF";
    for (int round = 0; round < 200000; ++round) {
        std::string text;
        std::size_t length = random() % 24;
        bool anyByte = round % 4 == 0;
        for (std::size_t i = 0; i < length; ++i) {
            text += anyByte ? static_cast<char>(1 + random() % 255) // no NUL: strtol stops there
                            : alphabet[random() % alphabet.size()];
        }
        std::int32_t got = 12345, want = 12345;
        bool ok = ParseSettingValue(text, &got);
        bool wantOk = ReferenceValue(text, &want);
        ASSERT_EQ(ok, wantOk) << '"' << text << '"';
        ASSERT_EQ(got, want) << '"' << text << '"';
    }
}

// A module path of a given length, written as GetModuleFileNameW writes it:
// cut to the buffer, and then the buffer's size returned.
static std::wstring fakePath;
static std::uint32_t FakeModulePath(wchar_t* buffer, std::uint32_t size) {
    if (fakePath.empty()) {
        return 0;
    }
    std::uint32_t length = std::min<std::uint32_t>(fakePath.size(), size - 1);
    fakePath.copy(buffer, length);
    buffer[length] = L'\0';
    return fakePath.size() < size ? fakePath.size() : size;
}

TEST(ExecutablePath, LongPathsAreTakenWhole) {
    for (std::size_t length : {1u, 259u, 260u, 261u, 1000u, 32767u}) {
        fakePath = L"C:\\" + std::wstring(length - 1, L'g');
        fakePath.resize(length);
        EXPECT_EQ(QueryFullPath(FakeModulePath), fakePath) << length;
    }
    fakePath = std::wstring(40000, L'x'); // longer than Windows allows
    EXPECT_EQ(QueryFullPath(FakeModulePath), L"");
    fakePath.clear(); // the query fails
    EXPECT_EQ(QueryFullPath(FakeModulePath), L"");
}
