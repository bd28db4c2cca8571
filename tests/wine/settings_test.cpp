// The settings file below the game's folder, read by the plugin in the
// stand-in game.
#include "wine_support.h"

#include <gtest/gtest.h>

namespace {
const std::string kDefaultFile = "[Settings]\r\nIter=10000\r\nSleep=5\r\nOverlayBatch=1\r\n";

class SettingsFile : public GameTest {
  protected:
    // Starts the game and returns the settings report line.
    std::string Start(const std::wstring& arguments = L"") {
        GameRun run = RunGame(game, L"--run-ms 400 " + arguments);
        EXPECT_EQ(run.Value("load"), "1") << run.output;
        std::vector<std::string> log = LogMessages();
        std::vector<std::string> reports = Matching(log, "[QS] Created default INI");
        for (const std::string& line : Matching(log, "[QS] INI loaded")) {
            reports.push_back(line);
        }
        EXPECT_EQ(reports.size(), 1u);
        return reports.empty() ? "" : reports.front();
    }
};
} // namespace

TEST_F(SettingsFile, MissingFileAndFoldersAreCreatedWithDefaultsThenRead) {
    std::wstring args = PluginElsewhere(); // not even Data exists

    EXPECT_EQ(Start(args), "[QS] Created default INI: Iter=10000, Sleep=5, Overlay=1");
    EXPECT_EQ(ReadBytes(Ini()), kDefaultFile);
    EXPECT_EQ(ReadBytes(Ini()).size(), 49u);

    EXPECT_EQ(Start(args), "[QS] INI loaded: Iter=10000, Sleep=5, Overlay=1");
    EXPECT_EQ(ReadBytes(Ini()), kDefaultFile);
    EXPECT_EQ(Matching(LogMessages(), "[QS] Overlay batch enabled.").size(), 1u);
}

TEST_F(SettingsFile, FileOnDiskIsReadWithItsLineEnds) {
    WriteBytes(Ini(), "Iter=5\r\n; Sleep=1\r\n[Other]\r\nSleep=-5\n"
                      "[Settings]\r\niter=6\r\nIter = 7\r\nOverlayBatch=0 ; off\r\nIter=9");
    EXPECT_EQ(Start(), "[QS] INI loaded: Iter=9, Sleep=-5, Overlay=0");
    EXPECT_EQ(Matching(LogMessages(), "[QS] Overlay batch disabled.").size(), 1u);

    WriteBytes(Ini(), "Iter=3\rSleep=4\r"); // bare carriage returns: one line
    EXPECT_EQ(Start(), "[QS] INI loaded: Iter=3, Sleep=5, Overlay=1");

    WriteBytes(Ini(), "Iter=\r\nSleep=99999999999\r\nOverlayBatch=yes\r\n"); // invalid: ignored
    EXPECT_EQ(Start(), "[QS] INI loaded: Iter=10000, Sleep=5, Overlay=1");
}

TEST_F(SettingsFile, EmptyFileStaysEmpty) {
    WriteBytes(Ini(), "");
    EXPECT_EQ(Start(), "[QS] INI loaded: Iter=10000, Sleep=5, Overlay=1");
    EXPECT_TRUE(Exists(Ini()));
    EXPECT_EQ(ReadBytes(Ini()), "");
}

TEST_F(SettingsFile, UnusablePathsLeaveTheDefaults) {
    MakeFolders(Ini()); // a folder where the file should be
    EXPECT_EQ(Start(), "[QS] INI loaded: Iter=10000, Sleep=5, Overlay=1");

    // A file named Data where the folder chain should start: nothing can be
    // made, and the plugin goes on with its defaults.
    std::wstring args = PluginElsewhere();
    WriteBytes(game + L"\\Data", "in the way");
    EXPECT_EQ(Start(args), "[QS] Created default INI: Iter=10000, Sleep=5, Overlay=1");
    EXPECT_EQ(ReadBytes(game + L"\\Data"), "in the way");
}

TEST_F(SettingsFile, GameFolderOutsideTheAnsiCodePage) {
    game = MakeGameFolder(L"Игра 游戏");
    EXPECT_EQ(Start(), "[QS] Created default INI: Iter=10000, Sleep=5, Overlay=1");
    EXPECT_EQ(ReadBytes(Ini()), kDefaultFile);
}
