// Evenings of play on the stand-in's own clock: the plugin's clock, local time
// and sleeps run on a clock that moves only while all its threads sleep, so a
// game hour costs seconds and every pass comes exactly where its sleeps put
// it, however busy the machine. The whole log is held against what the
// sleeps put there, line by line and to the microsecond.
#include "wine_support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cwchar>
#include <map>

namespace {
using Evening = GameTest;

constexpr long long kEveningMs = 3600 * 1000; // a game hour
constexpr int kIter = 100;                    // terms a pass: 0.495 in all
constexpr int kSleepMs = 5;                   // the worker's rest, the default
constexpr long long kWindowsTickUs = 15625;   // Windows' default timer (Microsoft, "Sleep")
constexpr SYSTEMTIME kLocalStart = {2026, 12, 0, 24, 18, 0, 0, 0}; // the plugin's local time at 0
const std::string kEveningIni = "[Settings]\r\nIter=100\r\nSleep=5\r\nOverlayBatch=1\r\n";

// When a sleep of ms begun at us ends: to the microsecond, or on the first
// timer tick at or after it.
long long WakeUs(long long us, long long ms, long long tickUs) {
    long long due = us + ms * 1000;
    return tickUs > 0 ? (due + tickUs - 1) / tickUs * tickUs : due;
}

// A line of the log: when it is written, by which thread (at the same
// moment, the plugin's threads run in the order it made them: the memory
// monitor, the CPU worker, the watcher), and what it says ("…" where the
// system's figures go).
struct Line {
    long long us;
    int thread;
    std::string message;
    bool operator<(const Line& other) const {
        return us != other.us ? us < other.us : thread < other.thread;
    }
};

struct EveningLog {
    std::vector<Line> lines;
    long long monitorPasses = 0, watcherPasses = 0, workerPasses = 0;
    std::vector<long long> trimsMs;
};

// What the evening's sleeps put in the log: the game arms the worker at the
// load's moment, once the workers have taken their first steps; the list has
// an entry all along; free RAM is 4096 MB. Every pass in [0, end).
EveningLog ExpectedEvening(long long tickUs) {
    const long long endUs = kEveningMs * 1000;
    EveningLog expected;
    auto line = [&](long long us, int thread, const std::string& message) {
        expected.lines.push_back({us, thread, message});
    };
    line(0, -1, "[QS] Borderless applied.");
    line(0, -1, "[QS] All threads started.");
    line(0, 1, "[QS] INI loaded: Iter=100, Sleep=5, Overlay=1");
    line(0, 1, "[QS] Overlay batch enabled.");
    // The monitor sleeps 5 s, then passes; a trim when two minutes have gone
    // by its millisecond clock since the last one's end (or since 0).
    long long lastTrimMs = 0;
    for (long long us = WakeUs(0, 5000, tickUs); us < endUs; us = WakeUs(us, 5000, tickUs)) {
        ++expected.monitorPasses;
        line(us, 0, "[MM] Process WS:… MB PF:… MB");
        line(us, 0, "[MM] Free system RAM: 4096 MB");
        if (us / 1000 - lastTrimMs >= 120000) {
            lastTrimMs = us / 1000;
            expected.trimsMs.push_back(lastTrimMs);
            line(us, 0, "[MM] Trimmed working set because free RAM <= 2-4 GB");
        }
    }
    // The watcher passes at 0, then every 10 ms; its first pass after the
    // arming call arms the worker.
    long long armedUs = -1;
    for (long long us = 0; us < endUs; us = WakeUs(us, 10, tickUs)) {
        ++expected.watcherPasses;
        armedUs = armedUs < 0 && us > 0 ? us : armedUs;
    }
    // The worker works from its first pass after that one (at the same
    // moment it runs before the watcher) and reports every 100 passes.
    long long active = 0;
    for (long long us = 0; us < endUs; us = WakeUs(us, kSleepMs, tickUs)) {
        ++expected.workerPasses;
        if (us > armedUs && ++active % 100 == 0) {
            line(us, 1, "[QS] CPU worker active: …");
        }
    }
    std::stable_sort(expected.lines.begin(), expected.lines.end());
    return expected;
}

// The log's stamp of a moment us after the local start.
std::string StampAt(long long us) {
    FILETIME file = {};
    SystemTimeToFileTime(&kLocalStart, &file);
    ULONGLONG at = (ULONGLONG(file.dwHighDateTime) << 32 | file.dwLowDateTime) +
                   ULONGLONG(us / 1000000) * 10000000;
    file = {static_cast<DWORD>(at), static_cast<DWORD>(at >> 32)};
    SYSTEMTIME time = {};
    FileTimeToSystemTime(&file, &time);
    char stamp[32];
    std::snprintf(stamp, sizeof stamp, "%04u-%02u-%02u %02u:%02u:%02u", time.wYear, time.wMonth,
                  time.wDay, time.wHour, time.wMinute, time.wSecond);
    return stamp;
}

struct RunLog {
    GameRun run;
    std::vector<std::string> messages, stamps;
    std::vector<long long> writtenUs; // the stand-in's "stamp:" of each line
};

RunLog RunEvening(const std::wstring& game, const std::wstring& timer) {
    wchar_t localStart[32];
    std::swprintf(localStart, 32, L"%04u-%02u-%02uT%02u:%02u:%02u", kLocalStart.wYear,
                  kLocalStart.wMonth, kLocalStart.wDay, kLocalStart.wHour, kLocalStart.wMinute,
                  kLocalStart.wSecond);
    RunLog log;
    log.run =
        RunGame(game,
                L"--run-ms " + std::to_wstring(kEveningMs) +
                    L" --arm-after-ms 0 --entries 0,0,9 --window --free-bytes 4294967296 "
                    L"--tick-start 0 --report-every-ms 300000 --report-stamps --local-start " +
                    localStart + timer,
                "1", 60000);
    log.messages = LogMessages(LogFile(), &log.stamps);
    log.writtenUs = WrittenUs(log.run);
    return log;
}

// Every line where the sleeps put it, stamped with its second, written at its
// microsecond; the first line that is not stops the comparison.
void ExpectLogIs(const RunLog& log, const EveningLog& expected) {
    ASSERT_EQ(log.messages.size(), expected.lines.size()) << log.run.output.substr(0, 2000);
    ASSERT_EQ(log.writtenUs.size(), expected.lines.size());
    for (std::size_t i = 0; i < expected.lines.size(); ++i) {
        const Line& want = expected.lines[i];
        ASSERT_EQ(WithoutFigures(log.messages[i]), want.message) << "line " << i;
        ASSERT_EQ(log.writtenUs[i], want.us) << "line " << i << ": " << want.message;
        ASSERT_EQ(log.stamps[i], StampAt(want.us)) << "line " << i << ": " << want.message;
    }
}

// "paced: thread=K sleeps=N woke=W ms=A..B", by what the thread asked for.
std::map<std::string, long long> SleepsByLength(const GameRun& run) {
    std::map<std::string, long long> sleeps;
    for (const std::string& value : run.Values("paced")) {
        long long thread = 0, count = 0, woke = 0;
        char lengths[32] = {};
        EXPECT_EQ(sscanf(value.c_str(), "thread=%lld sleeps=%lld woke=%lld ms=%31s", &thread,
                         &count, &woke, lengths),
                  4)
            << value;
        EXPECT_EQ(woke, count - 1) << "every sleep but the last ends in the evening: " << value;
        sleeps[lengths] = count;
    }
    return sleeps;
}

// The worker's k-th report: k hundred passes of the terms i * 0.0001 for
// i = 0 .. iter-1, so k * 100 * 0.0001 * iter * (iter - 1) / 2 (49.5 k at 100).
// Rounding moves its figure a little: each of the k * 100 * iter additions by
// at most half an ulp of a total below that, 2^-53 of it, each term by far
// less, and the printing by 5e-7. A pass lost or counted twice moves it by
// 0.495. The worker's exact bits are the unit test's.
void ExpectWorkerTotals(const std::vector<std::string>& messages) {
    const double perReport = 100 * 0.0001 * kIter * (kIter - 1) / 2;
    std::size_t k = 0;
    for (const std::string& message : Matching(messages, "[QS] CPU worker active: ")) {
        double total = -1;
        ++k;
        ASSERT_EQ(sscanf(message.c_str(), "[QS] CPU worker active: %lf", &total), 1);
        double rounding = k * 100.0 * kIter * (perReport * k) * 0x1p-53 + 1e-6;
        ASSERT_NEAR(total, perReport * k, rounding) << message << ", report " << k;
    }
}

// The stand-in's report of each trim: when the plugin asked, and its clock as
// the answer went back.
void ExpectTrims(const GameRun& run, const std::vector<long long>& expectedMs) {
    std::vector<std::string> trims = run.Values("trim");
    ASSERT_EQ(trims.size(), expectedMs.size()) << run.output.substr(0, 2000);
    for (std::size_t i = 0; i < trims.size(); ++i) {
        std::string want = "tick=" + std::to_string(expectedMs[i]) +
                           " min=0xFFFFFFFFFFFFFFFF max=0xFFFFFFFFFFFFFFFF ok=1 done=" +
                           std::to_string(expectedMs[i]);
        EXPECT_EQ(trims[i], want) << "trim " << i;
    }
}
// What a player sees of the pace, from the run: the watcher's passes a
// second, the worker's lines a minute and how far apart, and how long after
// the arming call (at the load's moment) the worker's first pass and first
// line come. Its first line comes 100 passes after its first pass, and its
// passes are as far apart as its lines are, a hundredth of that.
void PrintTimerFigures(const char* timer, long long tickUs, const RunLog& log) {
    std::vector<long long> reportsUs;
    for (std::size_t i = 0; i < log.messages.size(); ++i) {
        if (log.messages[i].starts_with("[QS] CPU worker active: ")) {
            reportsUs.push_back(log.writtenUs[i]);
        }
    }
    ASSERT_GE(reportsUs.size(), 2u);
    const double lineUs = static_cast<double>(reportsUs[1] - reportsUs[0]);
    std::printf("timer-figures: timer=%s tick-us=%lld watcher-passes-per-s=%.1f "
                "worker-lines-per-min=%.1f worker-line-every-s=%.4f arm-to-first-pass-ms=%.2f "
                "arm-to-first-line-s=%.4f\n",
                timer, tickUs, SleepsByLength(log.run)["10..10"] * 1000.0 / kEveningMs,
                reportsUs.size() * 60000.0 / kEveningMs, lineUs / 1e6,
                (reportsUs[0] - 0.99 * lineUs) / 1000, reportsUs[0] / 1e6);
}
} // namespace

// An hour of play, twice: free RAM exactly 4096 MiB, at the threshold, so a
// trim is due every 2 minutes, and the worker armed over a present entry
// from the start. Both logs hold every line where the sleeps put it, and so
// are the same but for the system's figures, stamps included.
TEST_F(Evening, AnHourOfPlayKeepsEveryPassAndTrimWhereItsSleepsPutItAndGrowsNothing) {
    WriteBytes(Ini(), kEveningIni);
    const EveningLog expected = ExpectedEvening(0);
    RunLog first = RunEvening(game, L"");
    ExpectLogIs(first, expected);
    ExpectWorkerTotals(first.messages);
    ExpectTrims(first.run, expected.trimsMs);
    EXPECT_EQ(SleepsByLength(first.run),
              (std::map<std::string, long long>{{"5000..5000", expected.monitorPasses + 1},
                                                {"5..5", expected.workerPasses},
                                                {"10..10", expected.watcherPasses}}));

    // A leak grows with what leaks: one handle per Log call adds two a pass
    // and one a worker's report, over 2,000 from 15 minutes to the end, and
    // even one per trim adds 22; an allocation of 4 KiB per pass commits over
    // 2 MiB, and 256 KiB committed and never touched at each pass
    // (--leak-kb-per-query 256) over 130 MiB. Committed memory is counted as
    // Windows counts it, every private page committed whether touched or not:
    // Wine's PagefileUsage counts only the pages in use. Without a leak little
    // moves: Wine holds a handle or two more for an instant now and then, and
    // its heaps may grow in a step or two. Hence 16 handles and 512 KiB. A
    // handle count of 0 is a query that failed, not a count. Not a thread may
    // come or go.
    std::vector<ProcessReport> system = ProcessReports(first.run);
    ASSERT_EQ(system.size(), std::size_t(kEveningMs / 300000)) << first.run.output.substr(0, 2000);
    const ProcessReport& at15 = system[3];
    const ProcessReport& last = system.back();
    ASSERT_EQ(at15.gameMs, 15 * 60e3);
    ASSERT_GT(at15.handles, 0) << "the handle count was not read";
    ASSERT_GT(last.handles, 0) << "the handle count was not read";
    EXPECT_LE(last.handles - at15.handles, 16) << at15.handles << " -> " << last.handles;
    EXPECT_LE(last.privateKb - at15.privateKb, 512)
        << "committed KiB " << at15.privateKb << " -> " << last.privateKb;
    for (std::size_t i = 1; i < system.size(); ++i) {      // the first comes with the load
        EXPECT_EQ(system[i].threads, 4) << "report " << i; // the game's main thread and ours
    }

    RunLog second = RunEvening(game, L"");
    ASSERT_EQ(second.messages.size(), first.messages.size());
    for (std::size_t i = 0; i < first.messages.size(); ++i) {
        ASSERT_EQ(second.stamps[i] + " " + WithoutFigures(second.messages[i]),
                  first.stamps[i] + " " + WithoutFigures(first.messages[i]))
            << "line " << i;
    }
    EXPECT_EQ(second.writtenUs, first.writtenUs);
    PrintTimerFigures("wine", 0, first);
    std::printf("evening: game-ms=%lld trims=%zu handles=%.0f->%.0f private-kb=%.0f->%.0f\n",
                kEveningMs, expected.trimsMs.size(), at15.handles, last.handles, at15.privateKb,
                last.privateKb);
}

// The same hour with every sleep ending on Windows' default timer tick: what
// a player on Windows sees, printed for the players' guide.
TEST_F(Evening, OnWindowsTimerEverySleepEndsOnItsTick) {
    WriteBytes(Ini(), kEveningIni);
    const EveningLog expected = ExpectedEvening(kWindowsTickUs);
    RunLog run = RunEvening(game, L" --timer-tick-us " + std::to_wstring(kWindowsTickUs));
    ExpectLogIs(run, expected);
    ExpectWorkerTotals(run.messages);
    ExpectTrims(run.run, expected.trimsMs);
    std::map<std::string, long long> sleeps = SleepsByLength(run.run);
    EXPECT_EQ(sleeps["10..10"], expected.watcherPasses);
    EXPECT_EQ(sleeps["5..5"], expected.workerPasses);

    PrintTimerFigures("windows", kWindowsTickUs, run);
}
