// The three background threads running in the stand-in game, and the game
// around them failing, quitting and running on.
#include "wine_support.h"

#include <gtest/gtest.h>

namespace {
using Workers = GameTest;

// The stand-in's reports of itself, from the system's own counters.
struct Report {
    double threads, wsKb, pfKb, freeMb;
};
std::vector<Report> ProcessReports(const GameRun& run) {
    std::vector<Report> reports;
    for (const std::string& value : run.Values("process")) {
        Report& r = reports.emplace_back();
        sscanf(value.c_str(), "threads=%lf ws-kb=%lf pf-kb=%lf free-mb=%lf", &r.threads, &r.wsKb,
               &r.pfKb, &r.freeMb);
    }
    return reports;
}
} // namespace

static const std::string kOldRun = "[2020-01-01 00:00:00] [QS] old run\r\n";

// One long run serves all three: the monitor needs two passes of 5 seconds.
// The player's viewer shares reading, writing and deleting: the old file is
// moved aside and deleted under it. Free RAM is 4097 MB, and a trim would be
// due by the plugin's clock: none may come.
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
                                L"--tick-start 10000000");
    std::vector<std::string> log = LogMessages();
    CloseHandle(viewer);
    EXPECT_EQ(Count(log, "[QS] old run"), 0u);
    EXPECT_EQ(Count(log, "[QS] All threads started."), 1u);
    EXPECT_EQ(Count(log, "[QS] Overlay batch enabled."), 1u);
    std::vector<fs::path> left;
    for (const fs::directory_entry& entry : fs::directory_iterator(LogFolder())) {
        left.push_back(entry.path().filename());
    }
    EXPECT_EQ(left, std::vector<fs::path>{L"Quellstone.log"}) << "nothing is left but the log";
    EXPECT_EQ(LogMessages(), log);
    std::vector<std::string> process = Matching(log, "[MM] Process WS:");
    ASSERT_EQ(process.size(), 2u); // the first pass 5 seconds after the load, then every 5
    EXPECT_EQ(Matching(log, "[MM] Free system RAM: "),
              std::vector<std::string>(2, "[MM] Free system RAM: 4097 MB"));
    std::vector<Report> system = ProcessReports(run);
    ASSERT_EQ(system.size(), 3u) << run.output; // at 0, 5 and 10 seconds
    for (std::size_t pass = 0; pass < 2; ++pass) {
        // The game's own figures at the same moment, from the same counters.
        const Report& now = system[pass + 1];
        unsigned long long ws = 0, pf = 0;
        ASSERT_EQ(sscanf(process[pass].c_str(), "[MM] Process WS:%llu MB PF:%llu MB", &ws, &pf), 2);
        EXPECT_NEAR(ws, now.wsKb / 1024, 2) << process[pass];
        EXPECT_NEAR(pf, now.pfKb / 1024, 2) << process[pass];
    }
    EXPECT_EQ(run.Value("trim"), "(missing)");
    EXPECT_EQ(Count(log, "[MM] Trimmed"), 0u);

    // 100 passes of 30 ms rest between reports: three in 11 seconds at most.
    std::vector<std::string> reports = Matching(log, "[QS] CPU worker active: ");
    ASSERT_GE(reports.size(), 2u);
    EXPECT_LE(reports.size(), 4u) << "the worker did not rest as long as Sleep says";
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

struct Trim {
    unsigned long long tick, minimum, maximum;
    int ok;
};

// The system refuses the worker thread, the process query and the first trim;
// free RAM is 4096 MiB and 1,048,575 bytes, which counts as 4096 MB; the
// plugin's clock runs 14 times as fast from 0, so the four passes of the
// monitor come at about 70, 140, 210 and 280 seconds by it. A viewer that
// does not share deleting holds the old log: it is emptied where it is. From
// 12.5 to 17.5 seconds after the load a program holds the log sharing
// nothing, across the third pass: its line is lost, the next ones come again.
// And the tests run with TZ=Europe/Berlin, as a Linux desktop may set it.
TEST_F(Workers, WhatTheSystemRefusesIsLoggedAsRefusedAndTrimsKeepTheirSpacing) {
    fs::create_directories(LogFolder());
    WriteBytes(LogFile(), kOldRun);
    HANDLE viewer = CreateFileW(LogFile().c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(viewer, INVALID_HANDLE_VALUE);
    std::thread hold = HoldAfterLoad(LogFile(), viewer, 12500, 5000);
    SYSTEMTIME utcStart;
    GetSystemTime(&utcStart);
    GameRun run = RunGame(game,
                          L"--run-ms 22500 --fail-thread 2 --fail-process-query "
                          L"--free-bytes 4296015871 --tick-start 0 --tick-speed 14 --fail-trim 1",
                          "1", 60000);
    hold.join();
    std::vector<std::string> stamps;
    std::vector<std::string> log = LogMessages(LogFile(), &stamps);
    ASSERT_FALSE(log.empty());
    EXPECT_EQ(log.front(), "[QS] Could not start CpuWorkerThread.");
    EXPECT_EQ(Count(log, "[QS] Could not start"), 1u);
    EXPECT_EQ(Count(log, "[QS] All threads started."), 0u);
    EXPECT_EQ(run.Number("threads-after"), run.Number("threads-before") + 2);

    // Stamps in the system's local time, which here is not UTC.
    long long local = Seconds(run.Value("load-local-time"));
    ASSERT_GT(std::llabs(local - Seconds(utcStart)), 1800) << "TZ did not reach the game";
    EXPECT_LE(std::llabs(Seconds(stamps.front()) - local), 2) << stamps.front();

    // The process query failed on every pass: only the free figure.
    EXPECT_EQ(Count(log, "[MM] Process"), 0u);
    std::vector<std::string> free = Matching(log, "[MM] Free system RAM: ");
    ASSERT_GE(free.size(), 3u);
    EXPECT_EQ(free, std::vector<std::string>(free.size(), "[MM] Free system RAM: 4096 MB"));

    std::vector<Trim> trims;
    for (const std::string& value : run.Values("trim")) {
        Trim& trim = trims.emplace_back();
        sscanf(value.c_str(), "tick=%llu min=0x%llX max=0x%llX ok=%d", &trim.tick, &trim.minimum,
               &trim.maximum, &trim.ok);
    }
    ASSERT_GE(trims.size(), 2u) << run.output;
    for (std::size_t i = 0; i < trims.size(); ++i) {
        EXPECT_GE(trims[i].tick, 120000u) << "trimmed before the clock reached two minutes";
        EXPECT_TRUE(i == 0 || trims[i].tick - trims[i - 1].tick >= 120000) << run.output;
        EXPECT_EQ(trims[i].minimum, ~0ull);
        EXPECT_EQ(trims[i].maximum, ~0ull);
        EXPECT_EQ(trims[i].ok, i == 0 ? 0 : 1);
    }
    EXPECT_EQ(Count(log, "[MM] Could not trim working set."), 1u);
    EXPECT_EQ(Count(log, "[MM] Trimmed working set because free RAM <= 2-4 GB"), trims.size() - 1);
}

// One run serves all four: where the log goes when the system will not say
// where Documents is; a program that holds the old log sharing only reading,
// so that it can be neither moved nor emptied at the start, and lets go after
// the load; a failing memory status, which writes no free figure and never
// trims, due as a trim is; and a list behind a guard page.
TEST_F(Workers, DocumentsUnknownAHeldLogAFailingMemoryStatusAndAGuardedList) {
    std::wstring file = game + L"\\Quellstone.log";
    WriteBytes(file, kOldRun);
    WriteBytes(Ini(), "Iter=2\nSleep=0\n");
    HANDLE holder = CreateFileW(file.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                0, nullptr);
    ASSERT_NE(holder, INVALID_HANDLE_VALUE);
    std::thread release = ReleaseOnceLoaded(holder);
    GameRun run = RunGame(game, L"--run-ms 6000 --arm-after-ms 0 --entries 0,0,7 "
                                L"--entries-on-guard-page --fail-documents --free-bytes fail "
                                L"--tick-start 10000000");
    release.join();
    // The game's current folder; the old file was reset there by the first
    // line after the holder let go. The lines before that are lost.
    std::vector<std::string> log = LogMessages(file);
    EXPECT_EQ(Count(log, "[QS] old run"), 0u);
    EXPECT_EQ(Count(log, "[QS] All threads started."), 0u) << "the log was not held at the start";
    EXPECT_EQ(Count(log, "[MM] Process WS:"), 1u);
    EXPECT_EQ(Count(log, "[MM] Free system RAM"), 0u);
    EXPECT_EQ(Count(log, "[MM] Trimmed"), 0u);
    // The list lies on a guard page: the watcher never touches it (which
    // would take the guard from its owner, if only for an instant) and takes
    // it for no entry; an armed worker with an idle list rests, even at
    // Sleep=0.
    EXPECT_EQ(run.Value("guard-faults"), "0");
    EXPECT_EQ(Count(log, "[QS] CPU worker active"), 0u);
    for (const fs::directory_entry& entry : fs::directory_iterator(game)) {
        EXPECT_FALSE(entry.path().extension() == L".old") << entry.path();
    }
    EXPECT_FALSE(fs::exists(DocumentsFolder() + L"\\My Games"));
}

TEST_F(Workers, GameQuitsAtOnceWhileThePluginIsBusy) {
    WriteBytes(Ini(), "Iter=1\nSleep=0\n"); // logging all the time
    for (int run = 0; run < 3; ++run) {
        GameRun quit =
            RunGame(game, L"--run-ms 300 --arm-after-ms 0 --entries 1 --exit-normally", "1", 15000);
        EXPECT_EQ(quit.Number("threads-after"), 4);
    }
}

// A minute of play with the list coming and going, the worker armed and the
// monitor running: the plugin's threads stay three, and its memory stays put.
TEST_F(Workers, SoakOfAMinuteKeepsThreadsAndMemorySteady) {
    GameRun run = RunGame(game,
                          L"--run-ms 65000 --arm-after-ms 0 --entries 0,0,9 --toggle-ms 300 "
                          L"--report-every-ms 5000 --window",
                          "1", 120000);
    std::vector<Report> reports = ProcessReports(run);
    ASSERT_GE(reports.size(), 13u) << run.output;
    for (std::size_t i = 1; i < reports.size(); ++i) {
        EXPECT_EQ(reports[i].threads, 4) << "report " << i; // the game's main thread and ours
    }
    // After start-up, not a page more.
    EXPECT_LE(reports.back().pfKb - reports[2].pfKb, 64) << run.output;
    std::vector<std::string> log = LogMessages();
    EXPECT_GE(Count(log, "[MM] Free system RAM: "), 12u);
    EXPECT_GE(Count(log, "[QS] CPU worker active: "), 10u);
}
