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
    for (std::size_t at = 0; (at = run.output.find("process: ", at)) != std::string::npos; ++at) {
        Report& r = reports.emplace_back();
        sscanf(run.output.c_str() + at, "process: threads=%lf ws-kb=%lf pf-kb=%lf free-mb=%lf",
               &r.threads, &r.wsKb, &r.pfKb, &r.freeMb);
    }
    return reports;
}
} // namespace

// The log of a run that a viewer held open from before the start to after the
// end: the new run's lines from byte 0, and nothing of the old run.
static void ExpectOnlyTheNewRun(const std::vector<std::string>& log) {
    EXPECT_EQ(Count(log, "[QS] old run"), 0u);
    EXPECT_EQ(Count(log, "[QS] All threads started."), 1u);
    EXPECT_EQ(Count(log, "[QS] Overlay batch enabled."), 1u);
    EXPECT_GE(Count(log, "[MM] Free system RAM: "), 1u);
}
static const std::string kOldRun = "[2020-01-01 00:00:00] [QS] old run\r\n";

// One long run serves all three: the monitor needs two passes of 5 seconds.
// The player's viewer shares reading, writing and deleting: the old file is
// moved aside and deleted under it.
TEST_F(Workers, MonitorLogsWhatTheSystemReportsWhileTheArmedWorkerReportsAndAViewerWatches) {
    WriteBytes(Ini(), "[Settings]\nIter=100\nSleep=1\n");
    fs::create_directories(LogFolder());
    WriteBytes(LogFile(), kOldRun);
    WriteBytes(LogFolder() + L"\\Quellstone.log.7-8.old", kOldRun); // kept alive at a start before
    HANDLE viewer = CreateFileW(LogFile().c_str(), GENERIC_READ,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(viewer, INVALID_HANDLE_VALUE);
    GameRun run = RunGame(game, L"--run-ms 11000 --arm-after-ms 0 --entries 0,0,0,7 "
                                L"--report-every-ms 5000");
    std::vector<std::string> log = LogMessages();
    ExpectOnlyTheNewRun(log);
    CloseHandle(viewer);
    std::vector<fs::path> left;
    for (const fs::directory_entry& entry : fs::directory_iterator(LogFolder())) {
        left.push_back(entry.path().filename());
    }
    EXPECT_EQ(left, std::vector<fs::path>{L"Quellstone.log"}) << "nothing is left but the log";
    EXPECT_EQ(LogMessages(), log);
    std::vector<std::string> process = Matching(log, "[MM] Process WS:");
    std::vector<std::string> free = Matching(log, "[MM] Free system RAM: ");
    std::vector<Report> system = ProcessReports(run);
    ASSERT_EQ(process.size(), 2u); // the first pass 5 seconds after the load, then every 5
    ASSERT_EQ(free.size(), 2u);
    ASSERT_EQ(system.size(), 3u) << run.output; // at 0, 5 and 10 seconds
    for (std::size_t pass = 0; pass < 2; ++pass) {
        // The game's own figures at the same moment, from the same counters.
        const Report& now = system[pass + 1];
        unsigned long long ws = 0, pf = 0, freeMb = 0;
        ASSERT_EQ(sscanf(process[pass].c_str(), "[MM] Process WS:%llu MB PF:%llu MB", &ws, &pf), 2);
        ASSERT_EQ(sscanf(free[pass].c_str(), "[MM] Free system RAM: %llu MB", &freeMb), 1);
        EXPECT_NEAR(ws, now.wsKb / 1024, 2) << process[pass];
        EXPECT_NEAR(pf, now.pfKb / 1024, 2) << process[pass];
        EXPECT_NEAR(freeMb, now.freeMb, 256) << free[pass];
    }
    EXPECT_EQ(Count(log, "[MM] Trimmed"), 0u) << "this machine has plenty of free RAM";

    std::vector<std::string> reports = Matching(log, "[QS] CPU worker active: ");
    ASSERT_GE(reports.size(), 2u);
    EXPECT_EQ(reports[0], "[QS] CPU worker active: 49.500000");
    EXPECT_EQ(reports[1], "[QS] CPU worker active: 99.000000");
}

// One run serves all three: where the log goes, a viewer that does not share
// deleting (the old file is emptied where it is), and an armed worker that
// rests while the game's list is idle.
TEST_F(Workers, DocumentsUnavailableLogsToTheGameFolderWhereAViewerWatchesAndAnIdleListRests) {
    std::wstring file = game + L"\\Quellstone.log";
    WriteBytes(file, kOldRun);
    WriteBytes(Ini(), "Iter=2\nSleep=0\n");
    HANDLE viewer = CreateFileW(file.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(viewer, INVALID_HANDLE_VALUE);
    {
        DocumentsRedirect redirect(L"C:\\no such folder\\Documents");
        ASSERT_EQ(DocumentsFolder(), L""); // the query now fails
        RunGame(game, L"--run-ms 6000 --arm-after-ms 0 --entries 0,0,0");
    }
    // The game's current folder; the old file was reset there too.
    std::vector<std::string> log = LogMessages(file);
    CloseHandle(viewer);
    ExpectOnlyTheNewRun(log);
    EXPECT_EQ(Count(log, "[QS] INI loaded: Iter=2, Sleep=0, Overlay=1"), 1u);
    EXPECT_EQ(Count(log, "[QS] CPU worker active"), 0u);
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
