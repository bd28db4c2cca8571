// Faults from outside and long running: the game must go on, and the log and
// settings must behave as documented.
#include "wine_support.h"

#include <gtest/gtest.h>

#include <thread>

namespace {
using Faults = GameTest;

std::vector<double> ReportFigures(const std::vector<std::string>& log) {
    std::vector<double> figures;
    for (const std::string& line : Matching(log, "[QS] CPU worker active: ")) {
        figures.push_back(std::stod(line.substr(24)));
    }
    return figures;
}
} // namespace

TEST_F(Faults, LogHeldOpenByAnotherProcessLosesLinesThenResumes) {
    WriteSettings("Iter=2\nSleep=1\n"); // a report every ~0.2 s
    std::thread holder([] {
        while (!Exists(LogFile())) {
            Sleep(5);
        }
        Sleep(500);
        // The plugin may have the file open at this very moment: try again.
        HANDLE file = INVALID_HANDLE_VALUE;
        for (int tries = 0; file == INVALID_HANDLE_VALUE && tries < 1000; ++tries) {
            file = CreateFileW(LogFile().c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                               OPEN_EXISTING, 0, nullptr);
        }
        Sleep(1500);
        CloseHandle(file);
    });
    GameRun run = RunGame(game, L"--run-ms 3500 --arm-after-ms 0 --entries 1");
    holder.join();
    EXPECT_FALSE(run.timedOut);
    EXPECT_EQ(run.Value("threads-after"), "4");

    // Reports are 0.01 apart; the ones written while the file was held are
    // missing, and the figures go on from where the worker is.
    std::vector<double> figures = ReportFigures(LogMessages());
    ASSERT_GE(figures.size(), 4u);
    double biggestStep = 0;
    for (std::size_t i = 1; i < figures.size(); ++i) {
        EXPECT_GT(figures[i], figures[i - 1]);
        biggestStep = std::max(biggestStep, figures[i] - figures[i - 1]);
    }
    EXPECT_GT(biggestStep, 0.025) << "no lines were lost while the file was held";
}

TEST_F(Faults, DocumentsUnavailableLogsToTheGameFolder) {
    WriteBytes(game + L"\\Quellstone.log", "[2020-01-01 00:00:00] [QS] stale\r\n");
    GameRun run;
    {
        DocumentsRedirect redirect(L"C:\\no such folder\\Documents");
        ASSERT_EQ(DocumentsFolder(), L""); // the query now fails
        run = RunGame(game, L"--run-ms 500");
    }
    EXPECT_EQ(run.Value("load"), "1");
    std::string log = ReadBytes(game + L"\\Quellstone.log"); // the game's current folder
    EXPECT_EQ(log.find("stale"), std::string::npos);         // reset there too
    EXPECT_NE(log.find("] [QS] All threads started.\r\n"), std::string::npos);
    EXPECT_FALSE(Exists(DocumentsFolder() + L"\\My Games"));
}

TEST_F(Faults, ReadOnlyPluginsFolderKeepsTheDefaultsAndTriesAgainNextStart) {
    // Root ignores read-only bits, so make the folder immutable instead.
    if (!MakeImmutable(Plugins(), true)) {
        GTEST_SKIP() << "this machine cannot make a folder read-only";
    }
    GameRun run = RunGame(game, L"--run-ms 400");
    ASSERT_TRUE(MakeImmutable(Plugins(), false));
    EXPECT_EQ(run.Value("load"), "1");
    std::vector<std::string> log = LogMessages();
    EXPECT_EQ(Matching(log, "[QS] Created default INI: Iter=10000, Sleep=5, Overlay=1").size(), 1u);
    EXPECT_EQ(Matching(log, "[QS] Overlay batch enabled.").size(), 1u);
    EXPECT_FALSE(Exists(Plugins() + L"\\Quellstone.ini"));

    RunGame(game, L"--run-ms 400");
    EXPECT_EQ(ReadBytes(Plugins() + L"\\Quellstone.ini").size(), 49u);
}

TEST_F(Faults, GameQuitsAtOnceWhileThePluginIsBusy) {
    WriteSettings("Iter=1\nSleep=0\n"); // logging all the time
    for (int run = 0; run < 5; ++run) {
        ULONGLONG start = GetTickCount64();
        GameRun quit =
            RunGame(game, L"--run-ms 300 --arm-after-ms 0 --entries 1 --exit-normally", 20000);
        EXPECT_FALSE(quit.timedOut);
        EXPECT_EQ(quit.exitCode, 0u);
        EXPECT_LT(GetTickCount64() - start, 10000u);
        EXPECT_EQ(quit.Value("threads-after"), "4");
    }
}

// A minute of play with the list coming and going, the worker armed and the
// monitor running: the plugin's threads stay three, and its memory stays put.
TEST_F(Faults, SoakOfAMinuteKeepsThreadsAndMemorySteady) {
    GameRun run = RunGame(game,
                          L"--run-ms 65000 --arm-after-ms 0 --entries 0,0,9 --toggle-ms 300 "
                          L"--report-every-ms 5000 --window",
                          120000);
    ASSERT_FALSE(run.timedOut);
    std::vector<int> threads;
    std::vector<long long> privateKb;
    for (std::size_t at = run.output.find("process: "); at != std::string::npos;
         at = run.output.find("process: ", at + 1)) {
        int count = 0;
        long long kb = 0;
        sscanf(run.output.c_str() + at, "process: threads=%d private-kb=%lld", &count, &kb);
        threads.push_back(count);
        privateKb.push_back(kb);
    }
    ASSERT_GE(threads.size(), 13u) << run.output;
    for (std::size_t i = 1; i < threads.size(); ++i) {
        EXPECT_EQ(threads[i], 4) << "report " << i; // the game's main thread and ours
    }
    // After start-up, not a page more.
    EXPECT_LE(privateKb.back() - privateKb[2], 64) << run.output;

    std::vector<std::string> log = LogMessages();
    EXPECT_GE(Matching(log, "[MM] Free system RAM: ").size(), 12u);
    EXPECT_GE(ReportFigures(log).size(), 10u);
}
