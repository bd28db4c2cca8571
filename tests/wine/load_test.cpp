// The plugin as the loader sees it: the record, the host check and the load.
#include "plugin/record.h"
#include "wine_support.h"

#include <gtest/gtest.h>

using Load = GameTest;

TEST_F(Load, LoaderSeesTheExactRecordAndExports) {
    // The bytes of the record are checked against the layout natively; here
    // a loader reads them from the built DLL's export.
    std::string expected;
    for (std::size_t i = 0; i < sizeof kPluginRecord; ++i) {
        char pair[3];
        snprintf(pair, sizeof pair, "%02x",
                 reinterpret_cast<const unsigned char*>(&kPluginRecord)[i]);
        expected += pair;
    }
    GameRun run = RunGame(game, L"--dump-record --game-version 0x01020300");
    EXPECT_EQ(run.Value("record"), expected);
    // A game version that the record does not list is never loaded.
    EXPECT_EQ(run.Value("load"), "skipped (game version not listed)");
}

TEST_F(Load, DeclinedHostsGetTheErrorBoxAndNothingElse) {
    MakeFolders(LogFolder());
    const std::string oldLog = "[2020-01-01 00:00:00] [QS] Borderless applied.\r\nold run\r\n";
    for (const wchar_t* host : {L"0x00020121", L"0", L"null", L"0x00020110"}) {
        WriteBytes(LogFile(), oldLog);
        GameRun run = RunGame(game, std::wstring(L"--window --run-ms 300 --host-version ") + host);
        SCOPED_TRACE(run.output);
        EXPECT_EQ(run.Value("box-call"),
                  "owner=0000000000000000 type=0x10 caption=\"Incompatible VELQ\" "
                  "text=\"Duskhaven Quellstone requires VELQ 0.2.18.\\n.\"");
        EXPECT_EQ(run.Value("box-shown"),
                  "text=\"Duskhaven Quellstone requires VELQ 0.2.18.\\n.\"");
        EXPECT_EQ(run.Value("load"), "0");
        EXPECT_EQ(run.Value("threads-after"), run.Value("threads-before"));
        EXPECT_EQ(ReadBytes(LogFile()), oldLog);
        EXPECT_EQ(run.Value("window-after"), run.Value("window-before")); // not made borderless
    }
    EXPECT_FALSE(Exists(game + L"\\Data\\VELQ\\Plugins\\Quellstone.ini"));

    RemoveTree(DocumentsFolder() + L"\\My Games");
    GameRun run = RunGame(game, L"--host-version 7");
    EXPECT_EQ(run.Value("load"), "0");
    EXPECT_FALSE(Exists(DocumentsFolder() + L"\\My Games")); // nothing created
}

TEST_F(Load, AcceptedLoadReplacesTheOldLogAndStartsThreeThreads) {
    MakeFolders(LogFolder());
    WriteBytes(LogFile(), "[2020-01-01 00:00:00] [QS] old run\r\n");
    GameRun run = RunGame(game, L"--run-ms 500");
    SCOPED_TRACE(run.output);
    EXPECT_EQ(run.Value("load"), "1");
    EXPECT_EQ(run.Value("box-call"), "(missing)");
    EXPECT_EQ(std::stoi(run.Value("threads-after")), std::stoi(run.Value("threads-before")) + 3);

    std::vector<std::string> log = LogMessages();
    EXPECT_TRUE(Matching(log, "[QS] old run").empty());
    EXPECT_TRUE(Matching(log, "[QS] Borderless applied.").empty()); // there was no window
    EXPECT_EQ(Matching(log, "[QS] All threads started.").size(), 1u);
    EXPECT_EQ(Matching(log, "[QS] Overlay batch enabled.").size(), 1u);
}

TEST(VersionResource, NamesTheProductAndItsVersion) {
    std::wstring dll = BuildFolder() + L"\\Quellstone.dll";
    DWORD ignored = 0;
    std::vector<char> info(GetFileVersionInfoSizeW(dll.c_str(), &ignored));
    ASSERT_FALSE(info.empty());
    ASSERT_TRUE(GetFileVersionInfoW(dll.c_str(), 0, static_cast<DWORD>(info.size()), info.data()));
    auto text = [&](const wchar_t* name) {
        wchar_t* value = nullptr;
        UINT length = 0;
        std::wstring key = std::wstring(L"\\StringFileInfo\\040904B0\\") + name;
        VerQueryValueW(info.data(), key.c_str(), reinterpret_cast<void**>(&value), &length);
        return value ? std::wstring(value) : L"(missing)";
    };
    EXPECT_EQ(text(L"ProductName"), L"Duskhaven Quellstone");
    std::string version = QS_VERSION;
    EXPECT_EQ(text(L"FileVersion"), std::wstring(version.begin(), version.end()));
    EXPECT_EQ(text(L"ProductVersion"), std::wstring(version.begin(), version.end()));

    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT length = 0;
    ASSERT_TRUE(VerQueryValueW(info.data(), L"\\", reinterpret_cast<void**>(&fixed), &length));
    unsigned major = 0, minor = 0, patch = 0;
    sscanf(QS_VERSION, "%u.%u.%u", &major, &minor, &patch);
    EXPECT_EQ(fixed->dwFileVersionMS, major << 16 | minor);
    EXPECT_EQ(fixed->dwFileVersionLS, patch << 16);
}
