// The three background threads running in the stand-in game, and the game
// around them failing, quitting and running on.
#include "wine_support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>

namespace {
using Workers = GameTest;

} // namespace

static const std::string kOldRun = "[2020-01-01 00:00:00] [QS] old run\r\n";

// Each line of the log as "ms message", when it was written on the plugin's
// clock (without the system's figures).
static std::vector<std::string> Timeline(const GameRun& run, const std::vector<std::string>& log) {
    std::vector<long long> written = WrittenUs(run);
    EXPECT_EQ(written.size(), log.size()) << run.output;
    std::vector<std::string> timeline;
    for (std::size_t i = 0; i < log.size() && i < written.size(); ++i) {
        timeline.push_back(std::to_string(written[i] / 1000) + " " + WithoutFigures(log[i]));
    }
    return timeline;
}

// One run of 11 seconds on the stand-in's clock serves all three: the monitor
// passes at 5 and 10 seconds, the worker rests 30 ms after each of its 100
// passes a report, so reports at 3, 6 and 9 seconds. The player's viewer
// shares reading, writing and deleting: the old file is moved aside and
// deleted under it. Free RAM is 4097 MB, and a trim would be due by the
// plugin's clock: none may come.
TEST_F(Workers, MonitorLogsWhatTheSystemReportsWhileTheArmedWorkerReportsAndAViewerWatches) {
    WriteBytes(Ini(), "[Settings]\nIter=100\nSleep=30\n");
    fs::create_directories(LogFolder());
    WriteBytes(LogFile(), kOldRun);
    WriteBytes(LogFolder() + L"\\Quellstone.log.7-8.old", kOldRun); // kept alive at a start before
    HANDLE viewer = CreateFileW(LogFile().c_str(), GENERIC_READ,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(viewer, INVALID_HANDLE_VALUE);
    GameRun run = RunGame(game, L"--run-ms 11000 --arm-after-ms 0 --entries 0,0,0,7 "
                                L"--report-every-ms 5000 --free-bytes 4296015872 "
                                L"--tick-start 10000000 --report-stamps");
    std::vector<std::string> log = LogMessages();
    CloseHandle(viewer);
    EXPECT_EQ(Count(log, "[QS] old run"), 0u);
    std::vector<fs::path> left;
    for (const fs::directory_entry& entry : fs::directory_iterator(LogFolder())) {
        left.push_back(entry.path().filename());
    }
    EXPECT_EQ(left, std::vector<fs::path>{L"Quellstone.log"}) << "nothing is left but the log";
    EXPECT_EQ(LogMessages(), log);
    EXPECT_EQ(Timeline(run, log), (std::vector<std::string>{
                                      "10000000 [QS] All threads started.",
                                      "10000000 [QS] INI loaded: Iter=100, Sleep=30, Overlay=1",
                                      "10000000 [QS] Overlay batch enabled.",
                                      "10003000 [QS] CPU worker active: …",
                                      "10005000 [MM] Process WS:… MB PF:… MB",
                                      "10005000 [MM] Free system RAM: 4097 MB",
                                      "10006000 [QS] CPU worker active: …",
                                      "10009000 [QS] CPU worker active: …",
                                      "10010000 [MM] Process WS:… MB PF:… MB",
                                      "10010000 [MM] Free system RAM: 4097 MB",
                                  }));
    std::vector<std::string> process = Matching(log, "[MM] Process WS:");
    std::vector<ProcessReport> system = ProcessReports(run);
    ASSERT_EQ(process.size(), 2u);
    ASSERT_EQ(system.size(), 3u) << run.output; // at 0, 5 and 10 seconds
    for (std::size_t pass = 0; pass < 2; ++pass) {
        // The game's own figures at the same moment, just before the pass,
        // from the same counters.
        const ProcessReport& now = system[pass + 1];
        unsigned long long ws = 0, pf = 0;
        ASSERT_EQ(sscanf(process[pass].c_str(), "[MM] Process WS:%llu MB PF:%llu MB", &ws, &pf), 2);
        EXPECT_NEAR(ws, now.wsKb / 1024, 2) << process[pass];
        EXPECT_NEAR(pf, now.pfKb / 1024, 2) << process[pass];
    }
    EXPECT_EQ(run.Value("trim"), "(missing)");
    // 1,100 watcher passes over two regions (the stand-in keeps the holder
    // slot and the holder in its own data, the list on its heap): each
    // region's answer serves a second, from 0 to 10.
    EXPECT_EQ(run.Number("virtual-queries"), 2 * 11) << "the watcher asked at every pass";
    std::vector<std::string> reports = Matching(log, "[QS] CPU worker active: ");
    ASSERT_EQ(reports.size(), 3u);
    EXPECT_EQ(reports[0], "[QS] CPU worker active: 49.500000");
    EXPECT_EQ(reports[1], "[QS] CPU worker active: 99.000000");
}

// Seconds since 1601 of a time, or of a log stamp or the stand-in's report of
// its local time.
static long long Seconds(const SYSTEMTIME& time) {
    FILETIME file = {};
    SystemTimeToFileTime(&time, &file);
    return static_cast<long long>((ULONGLONG(file.dwHighDateTime) << 32 | file.dwLowDateTime) /
                                  10000000);
}

static long long Seconds(const std::string& stamp) {
    SYSTEMTIME time = {};
    sscanf(stamp.c_str(), "%hu-%hu-%hu %hu:%hu:%hu", &time.wYear, &time.wMonth, &time.wDay,
           &time.wHour, &time.wMinute, &time.wSecond);
    return Seconds(time);
}

// The system refuses the worker thread, the process query and the first trim;
// free RAM is 4096 MiB and 1,048,575 bytes, which counts as 4096 MB; the
// plugin's clock starts at 0, so trims are due at 120 and 240 seconds by it.
// A viewer that does not share deleting holds the old log: it is emptied
// where it is. From 12.5 to 17.5 seconds a program holds the log sharing only
// reading, across the third pass: its line is lost, the next ones come again.
// And the tests run with TZ=Europe/Berlin, as a Linux desktop may set it.
TEST_F(Workers, WhatTheSystemRefusesIsLoggedAsRefusedAndTrimsKeepTheirSpacing) {
    fs::create_directories(LogFolder());
    WriteBytes(LogFile(), kOldRun);
    HANDLE viewer = CreateFileW(LogFile().c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(viewer, INVALID_HANDLE_VALUE);
    SYSTEMTIME utcStart;
    GetSystemTime(&utcStart);
    GameRun run = RunGame(game, L"--run-ms 250000 --fail-thread 2 --fail-process-query "
                                L"--free-bytes 4296015871 --tick-start 0 --fail-trim 1 "
                                L"--report-stamps --hold-ms 12500,17500 --hold-file \"" +
                                    LogFile() + L"\"");
    CloseHandle(viewer);
    std::vector<std::string> stamps;
    std::vector<std::string> log = LogMessages(LogFile(), &stamps);
    ASSERT_FALSE(log.empty());
    EXPECT_EQ(log.front(), "[QS] Could not start CpuWorkerThread.");
    EXPECT_EQ(Count(log, "[QS] Could not start"), 1u);
    EXPECT_EQ(Count(log, "[QS] All threads started."), 0u);
    EXPECT_EQ(run.Number("threads-after"), run.Number("threads-before") + 2);
    EXPECT_EQ(run.Value("hold"), "at=12500 ok=1");

    // Stamps in the system's local time, which here is not UTC.
    long long local = Seconds(run.Value("load-local-time"));
    ASSERT_GT(std::llabs(local - Seconds(utcStart)), 1800) << "TZ did not reach the game";
    EXPECT_EQ(Seconds(stamps.front()), local) << stamps.front();

    // The process query failed on every pass: only the free figure, every 5
    // seconds but at 15, when the log was held; trims at exactly two minutes
    // from 0 and from the first, refused, one.
    std::vector<std::string> expected = {"0 [QS] Could not start CpuWorkerThread."};
    for (int second = 5; second < 250; second += 5) {
        std::string ms = std::to_string(second * 1000);
        if (second != 15) {
            expected.push_back(ms + " [MM] Free system RAM: 4096 MB");
        }
        if (second == 120) {
            expected.push_back(ms + " [MM] Could not trim working set.");
        } else if (second == 240) {
            expected.push_back(ms + " [MM] Trimmed working set because free RAM <= 2-4 GB");
        }
    }
    EXPECT_EQ(Timeline(run, log), expected);
    EXPECT_EQ(run.Values("trim"),
              (std::vector<std::string>{
                  "tick=120000 min=0xFFFFFFFFFFFFFFFF max=0xFFFFFFFFFFFFFFFF ok=0 done=120000",
                  "tick=240000 min=0xFFFFFFFFFFFFFFFF max=0xFFFFFFFFFFFFFFFF ok=1 done=240000"}));
}

// One run serves all four: where the log goes when the system will not say
// where Documents is; a program that holds the old log sharing only reading,
// so that it can be neither moved nor emptied at the start, and lets go a
// second after the load; a failing memory status, which writes no free figure and never
// trims, due as a trim is; and a list behind a guard page.
TEST_F(Workers, DocumentsUnknownAHeldLogAFailingMemoryStatusAndAGuardedList) {
    std::wstring file = game + L"\\Quellstone.log";
    WriteBytes(file, kOldRun);
    WriteBytes(Ini(), "Iter=2\nSleep=0\n");
    GameRun run =
        RunGame(game, L"--run-ms 6000 --arm-after-ms 0 --entries 0,0,7 "
                      L"--entries-on-guard-page --fail-documents --free-bytes fail "
                      L"--tick-start 10000000 --virtual-clock --hold-ms -1,1000 --hold-file \"" +
                          file + L"\"");
    EXPECT_EQ(run.Value("hold"), "before-load ok=1");
    EXPECT_EQ(run.Value("let-go"), "at=10001000");
    // The game's current folder; the old file was reset there by the first
    // line after the holder let go, the monitor's at 5 seconds. The lines
    // before that are lost.
    std::vector<std::string> log = LogMessages(file);
    ASSERT_EQ(log.size(), 1u) << "the log was not held at the start";
    EXPECT_TRUE(log[0].starts_with("[MM] Process WS:")) << log[0];
    // The list lies on a guard page: the watcher never touches it (which
    // would take the guard from its owner, if only for an instant) and takes
    // it for no entry; an armed worker with an idle list rests, even at
    // Sleep=0.
    // The counter of faults on it saw one on a page of the game's own before
    // the plugin's handler did: it is ahead of that handler.
    EXPECT_EQ(run.Value("guard-probe-seen"), "counter=1 plugin=2");
    EXPECT_EQ(run.Value("guard-faults"), "0");
    EXPECT_EQ(run.Value("guard-kept"), "1");
    for (const fs::directory_entry& entry : fs::directory_iterator(game)) {
        EXPECT_FALSE(entry.path().extension() == L".old") << entry.path();
    }
    EXPECT_FALSE(fs::exists(DocumentsFolder() + L"\\My Games"));
}

// On the real clock: the point is a game that exits while the plugin's
// threads run, one of them mid-line, which on the stand-in's clock they never
// are at the end.
TEST_F(Workers, GameQuitsAtOnceWhileThePluginIsBusy) {
    WriteBytes(Ini(), "Iter=1\nSleep=0\n"); // logging all the time
    for (int run = 0; run < 3; ++run) {
        GameRun quit =
            RunGame(game, L"--run-ms 300 --arm-after-ms 0 --entries 1 --exit-normally", "1", 15000);
        EXPECT_EQ(quit.Number("threads-after"), 4);
    }
}
