// The three background threads running in the stand-in game.
#include "wine_support.h"

#include <gtest/gtest.h>

namespace {
class Workers : public GameTest {
  protected:
    std::vector<std::string> Reports() {
        return Matching(LogMessages(), "[QS] CPU worker active: ");
    }
};

int SecondsOf(const std::string& stampedLine) { // "[YYYY-MM-DD HH:MM:SS] ..."
    return std::stoi(stampedLine.substr(12, 2)) * 3600 + std::stoi(stampedLine.substr(15, 2)) * 60 +
           std::stoi(stampedLine.substr(18, 2));
}
} // namespace

// One long run serves both: the monitor needs two passes of 5 seconds.
TEST_F(Workers, MonitorLogsEveryFiveSecondsWhileTheArmedWorkerReports) {
    WriteSettings("[Settings]\nIter=100\nSleep=1\n");
    GameRun run = RunGame(game, L"--run-ms 11000 --arm-after-ms 0 --entries 0,0,0,7");
    SCOPED_TRACE(run.output);
    ASSERT_EQ(run.Value("load"), "1");
    std::vector<std::string> log = LogMessages();

    std::vector<std::string> process = Matching(log, "[MM] Process WS:");
    std::vector<std::string> free = Matching(log, "[MM] Free system RAM: ");
    ASSERT_EQ(process.size(), 2u);
    ASSERT_EQ(free.size(), 2u);
    unsigned long long ws = 0, pf = 0, freeMb = 0;
    ASSERT_EQ(sscanf(process[0].c_str(), "[MM] Process WS:%llu MB PF:%llu MB", &ws, &pf), 2);
    EXPECT_GT(ws, 0u);
    EXPECT_LT(ws, 4096u);
    EXPECT_LT(pf, 4096u);
    ASSERT_EQ(sscanf(free[0].c_str(), "[MM] Free system RAM: %llu MB", &freeMb), 1);
    MEMORYSTATUSEX status = {};
    status.dwLength = sizeof status;
    GlobalMemoryStatusEx(&status);
    EXPECT_NEAR(double(freeMb), double(status.ullAvailPhys >> 20),
                (status.ullTotalPhys >> 20) * 0.1);

    // The first pass comes about 5 seconds after the load.
    std::string bytes = ReadBytes(LogFile());
    std::size_t started = bytes.find("[QS] All threads started.");
    std::size_t firstPass = bytes.find("[MM] Process WS:");
    ASSERT_NE(started, std::string::npos);
    auto lineStart = [&](std::size_t at) { return bytes.rfind('\n', at) + 1; }; // npos + 1 is 0
    int delay = SecondsOf(bytes.substr(lineStart(firstPass), 22)) -
                SecondsOf(bytes.substr(lineStart(started), 22));
    EXPECT_GE(delay, 4);
    EXPECT_LE(delay, 7);

    std::vector<std::string> reports = Reports();
    ASSERT_GE(reports.size(), 2u);
    EXPECT_EQ(reports[0], "[QS] CPU worker active: 49.500000");
    EXPECT_EQ(reports[1], "[QS] CPU worker active: 99.000000");
    EXPECT_EQ(Matching(log, "[QS] Trimmed").size(), 0u) << "this machine has plenty of free RAM";
}

TEST_F(Workers, WorkerReportsOnlyWhenArmedAndTheListHasAnEntry) {
    WriteSettings("Iter=2\nSleep=0\n");
    RunGame(game, L"--run-ms 1500 --arm-after-ms 0 --entries 5");
    ASSERT_FALSE(Reports().empty());
    EXPECT_EQ(Reports()[0], "[QS] CPU worker active: 0.010000");

    RunGame(game, L"--run-ms 1500 --entries 5"); // never armed
    EXPECT_TRUE(Reports().empty());
    EXPECT_EQ(Matching(LogMessages(), "[QS] INI loaded: Iter=2, Sleep=0, Overlay=1").size(), 1u);

    RunGame(game, L"--run-ms 1500 --arm-after-ms 0 --entries 0,0,0"); // armed, idle list
    EXPECT_TRUE(Reports().empty());

    RunGame(game, L"--run-ms 1500 --arm-after-ms 0"); // armed, no list at all
    EXPECT_TRUE(Reports().empty());
}

TEST_F(Workers, NegativeSleepDoesNotStallTheWorker) {
    WriteSettings("Iter=100\nSleep=-1\n");
    RunGame(game, L"--run-ms 1500 --arm-after-ms 0 --entries 1");
    EXPECT_EQ(Matching(LogMessages(), "[QS] INI loaded: Iter=100, Sleep=-1, Overlay=1").size(), 1u);
    ASSERT_FALSE(Reports().empty());
    EXPECT_EQ(Reports()[0], "[QS] CPU worker active: 49.500000");
}

TEST_F(Workers, HostileGameMemoryDoesNotTakeTheGameDown) {
    WriteSettings("Iter=1\nSleep=0\n");
    for (const wchar_t* kind : {L"unmapped-holder", L"unmapped-entries", L"null-entries",
                                L"huge-count", L"garbage-slot"}) {
        GameRun run =
            RunGame(game, std::wstring(L"--run-ms 800 --arm-after-ms 0 --hostile ") + kind);
        SCOPED_TRACE(run.output);
        EXPECT_FALSE(run.timedOut);
        EXPECT_EQ(run.exitCode, 0u);
        EXPECT_EQ(std::stoi(run.Value("threads-after")),
                  std::stoi(run.Value("threads-before")) + 3);
        EXPECT_TRUE(Reports().empty()); // nothing readable is present
    }
    // What can be read before the hole still counts.
    RunGame(game, L"--run-ms 800 --arm-after-ms 0 --hostile huge-count-present");
    EXPECT_FALSE(Reports().empty());
}
