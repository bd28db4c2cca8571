#include "settings/settings.h"

#include <climits>
#include <gtest/gtest.h>
#include <string>
#include <tuple>

struct TextCase {
    const char* text;
    std::int32_t iterations, sleepMs;
    bool overlay;
};

// A file's text as text mode hands it over (CR LF already LF), and the
// settings it leaves, however the text is cut into chunks on the way.
TEST(SettingsText, EachFormGivesItsValueWhereverTheTextIsCut) {
    const TextCase cases[] = {
        {"Iter= 7", 7, 5, true},
        {"Iter=\t\v\f\r 7", 7, 5, true},
        {"Iter=7 ; remark", 7, 5, true},
        {"Iter=+7", 7, 5, true},
        {"Iter=7\r", 7, 5, true}, // a stray carriage return
        {"Sleep=-5", 10000, -5, true},
        {"Sleep=0", 10000, 0, true},
        {"OverlayBatch=2", 10000, 5, true},
        {"OverlayBatch=0", 10000, 5, false},
        {"OverlayBatch=00", 10000, 5, false},
        {"Iter=2147483647", 2147483647, 5, true},
        {"Iter=-2147483648", INT32_MIN, 5, true},
        {"Iter=0x20", 0, 5, true},
        {"Iter=010", 10, 5, true},
        {"iter=5", 10000, 5, true},
        {"Iter = 5", 10000, 5, true},
        {" Iter=5", 10000, 5, true},
        {";Iter=5", 10000, 5, true},
        {"[Other]", 10000, 5, true},
        {"Iter", 10000, 5, true},
        // Invalid values leave the setting as it was.
        {"Iter=", 10000, 5, true},
        {"Iter=abc", 10000, 5, true},
        {"Iter=-", 10000, 5, true},
        {"Iter=+", 10000, 5, true},
        {"Iter=+-3", 10000, 5, true},
        {"Iter=2147483648", 10000, 5, true},
        {"Iter=-2147483649", 10000, 5, true},
        {"Sleep=99999999999999999999999999", 10000, 5, true},
        {"OverlayBatch=4294967296", 10000, 5, true},
        // Whole files: sections are not tracked, the last valid line wins,
        // and a last line without a line end counts.
        {"Iter=5\n[Other]\nSleep=3\n[Settings]\nIter=9\nIter=oops\n", 9, 3, true},
        {"", 10000, 5, true},
        {"[Settings]\n", 10000, 5, true},
        {"[Settings]\nIter=100\nSleep=1\nOverlayBatch=0", 100, 1, false},
        {"Iter=3\rSleep=4\r", 3, 5, true}, // bare carriage returns: one line
        {"[Settings]\rIter=3\r", 10000, 5, true},
        {"\xEF\xBB\xBFIter=3\nSleep=4\n", 10000, 4, true}, // a byte-order mark spoils line 1
        {"[Settings]\nIter=123\nSleep=-7\nOverlayBatch=0\nIter=456", 456, -7, false},
    };
    for (const TextCase& c : cases) {
        const std::string_view text = c.text;
        for (std::size_t cut = 0; cut <= text.size(); ++cut) {
            Settings s;
            std::string pending;
            ApplySettingsText(text.substr(0, cut), &pending, false, s);
            ApplySettingsText(text.substr(cut), &pending, false, s);
            ApplySettingsText({}, &pending, true, s);
            EXPECT_EQ(std::tuple(s.iterations, s.sleepMs, s.overlayBatch),
                      std::tuple(c.iterations, c.sleepMs, c.overlay))
                << c.text << " cut at " << cut;
        }
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
        fakePath = (L"C:\\" + std::wstring(length, L'g')).substr(0, length);
        EXPECT_EQ(QueryFullPath(FakeModulePath), fakePath) << length;
    }
    fakePath = std::wstring(40000, L'x'); // longer than Windows allows
    EXPECT_EQ(QueryFullPath(FakeModulePath), L"");
    fakePath.clear(); // the query fails
    EXPECT_EQ(QueryFullPath(FakeModulePath), L"");
}
