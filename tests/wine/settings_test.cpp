// The settings file below the game's folder, read by the plugin in the
// stand-in game.
#include "wine_support.h"

#include <gtest/gtest.h>

namespace {
const std::wstring kFirstSteps = L"--virtual-clock --run-ms 0";

class SettingsFile : public GameTest {
  protected:
    // Starts the game and returns its one settings report line; the run's
    // own output goes to run when given. On the stand-in's clock, a run of
    // 0 ms ends once each worker has taken its first step and slept: the
    // worker has read the settings and said so by then.
    std::string Start(const std::wstring& arguments = kFirstSteps, GameRun* run = nullptr) {
        GameRun done = RunGame(game, arguments);
        if (run != nullptr) {
            *run = done;
        }
        std::vector<std::string> reports;
        for (const std::string& line : LogMessages()) {
            if (line.find(" INI") != std::string::npos) {
                reports.push_back(line);
            }
        }
        EXPECT_EQ(reports.size(), 1u);
        return reports.empty() ? "" : reports.front();
    }
};
} // namespace

TEST_F(SettingsFile, LinesOnDiskCountWithTheirLineEndsAndANegativeSleepRestsTheDefault) {
    WriteBytes(Ini(), "Iter=5\r\n; Sleep=1\r\n[Other]\r\nSleep=-5\n[Settings]\r\niter=6\r\n"
                      "Iter = 7\r\nOverlayBatch=0 ; off\r\nIter=9");
    // Armed at once, with an entry: from its pass at 15 ms (the watcher's at
    // 10 arms it) every pass works, then rests 5 ms; a report comes after
    // every 100 passes, at 510 ms and every half second after: five in 3
    // seconds on the stand-in's clock.
    EXPECT_EQ(Start(L"--virtual-clock --run-ms 3000 --arm-after-ms 0 --entries 1"),
              "[QS] INI loaded: Iter=9, Sleep=-5, Overlay=0");
    std::vector<std::string> log = LogMessages();
    EXPECT_EQ(Count(log, "[QS] Overlay batch disabled."), 1u);
    std::vector<std::string> reports = Matching(log, "[QS] CPU worker active: ");
    ASSERT_EQ(reports.size(), 5u) << "the worker did not rest 5 ms between passes";
    EXPECT_EQ(reports[0], "[QS] CPU worker active: 0.360000"); // 100 x (0 + ... + 8) x 0.0001
}

// The report line says what became of the file: read, made, or neither.
TEST_F(SettingsFile, WhatCannotBeReadOrMadeIsSaidSoAndTheNextStartTriesAgain) {
    WriteBytes(Ini(), "");
    EXPECT_EQ(Start(), "[QS] INI loaded: Iter=10000, Sleep=5, Overlay=1");
    EXPECT_EQ(ReadBytes(Ini()), "");

    // A program holds the file and shares nothing; then a folder stands
    // where the file should be. The defaults hold, and nothing is written.
    WriteBytes(Ini(), "Iter=7\n");
    HANDLE holder = CreateFileW(Ini().c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    EXPECT_EQ(Start(), "[QS] Could not read INI: Iter=10000, Sleep=5, Overlay=1");
    CloseHandle(holder);
    EXPECT_EQ(ReadBytes(Ini()), "Iter=7\n");
    fs::remove(Ini());
    fs::create_directory(Ini());
    EXPECT_EQ(Start(), "[QS] Could not read INI: Iter=10000, Sleep=5, Overlay=1");

    // A file named Data where the folder chain should start: nothing can be
    // made, and the next start makes the file after all.
    std::wstring plugin = PluginElsewhere();
    WriteBytes(game + L"\\Data", "in the way");
    EXPECT_EQ(Start(plugin + kFirstSteps),
              "[QS] Could not create default INI: Iter=10000, Sleep=5, Overlay=1");
    EXPECT_EQ(Count(LogMessages(), "[QS] Overlay batch enabled."), 1u);
    EXPECT_EQ(ReadBytes(game + L"\\Data"), "in the way");
    fs::remove(game + L"\\Data");
    EXPECT_EQ(Start(plugin + kFirstSteps),
              "[QS] Created default INI: Iter=10000, Sleep=5, Overlay=1");
    EXPECT_EQ(ReadBytes(Ini()), kDefaultIni);

    // A write that fails, and what it wrote cannot be deleted (a full drive,
    // a scanner holding the file): nothing stands under the real name, so the
    // next start makes the file whole instead of reading an empty one.
    fs::remove(Ini());
    EXPECT_EQ(Start(plugin + kFirstSteps + L" --ini-write-fails"),
              "[QS] Could not create default INI: Iter=10000, Sleep=5, Overlay=1");
    EXPECT_FALSE(fs::exists(Ini()));
    EXPECT_EQ(Start(plugin + kFirstSteps),
              "[QS] Created default INI: Iter=10000, Sleep=5, Overlay=1");
    EXPECT_EQ(ReadBytes(Ini()), kDefaultIni);
    EXPECT_FALSE(fs::exists(game + L"\\Data\\VELQ\\Plugins\\Quellstone.tmp"));
    // Another program makes the file between the plugin's look and its
    // write: its file is kept, and read.
    fs::remove(Ini());
    EXPECT_EQ(Start(plugin + kFirstSteps + L" --ini-appears Iter=7"),
              "[QS] INI loaded: Iter=7, Sleep=5, Overlay=1");
    EXPECT_EQ(ReadBytes(Ini()), "Iter=7");
    EXPECT_FALSE(fs::exists(game + L"\\Data\\VELQ\\Plugins\\Quellstone.tmp"));

    // The plugin cannot tell whether the file is there (its look is refused):
    // it opens nothing to write, reads a file that is there, and makes none
    // where there is none.
    GameRun looked;
    EXPECT_EQ(Start(plugin + kFirstSteps + L" --ini-look-fails", &looked),
              "[QS] INI loaded: Iter=7, Sleep=5, Overlay=1");
    EXPECT_EQ(looked.Value("ini-write-opens"), "0");
    fs::remove(Ini());
    EXPECT_EQ(Start(plugin + kFirstSteps + L" --ini-look-fails"),
              "[QS] Could not read INI: Iter=10000, Sleep=5, Overlay=1");
    EXPECT_FALSE(fs::exists(Ini()));

    // The game's path unknown: the file alone, in the current folder.
    fs::remove_all(game + L"\\Data");
    EXPECT_EQ(Start(plugin + kFirstSteps + L" --fail-exe-path"),
              "[QS] Created default INI: Iter=10000, Sleep=5, Overlay=1");
    EXPECT_EQ(ReadBytes(game + L"\\Quellstone.ini"), kDefaultIni);
    EXPECT_FALSE(fs::exists(game + L"\\Data"));
}
