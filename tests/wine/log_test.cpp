// The log file, written by the plugin's own Log in this process.
#include "log/log.h"
#include "wine_support.h"

#include <gtest/gtest.h>
#include <string>
#include <thread>
#include <vector>

namespace {
class LogFileTest : public ::testing::Test {
  protected:
    void SetUp() override { RemoveTree(DocumentsFolder() + L"\\My Games"); }
    void TearDown() override { RemoveTree(DocumentsFolder() + L"\\My Games"); }
};

} // namespace

TEST_F(LogFileTest, LongMessageIsCutTo511BytesAndEndsInCrLf) {
    std::string text(600, 'm');
    Log("%s", text.c_str());
    std::string bytes = ReadBytes(LogFile());
    ASSERT_EQ(bytes.size(), 1 + 19 + 2 + 511 + 2u);
    EXPECT_EQ(bytes.substr(22), std::string(511, 'm') + "\r\n");
    EXPECT_EQ(GetLogPath().wstring(), LogFile());
}

TEST_F(LogFileTest, DeletedLogFolderIsMadeAgainByTheNextLine) {
    Log("[QS] before");
    ASSERT_TRUE(Exists(LogFile()));
    RemoveTree(DocumentsFolder() + L"\\My Games");
    Log("[QS] after");
    EXPECT_EQ(LogMessages(), std::vector<std::string>{"[QS] after"});
}

TEST_F(LogFileTest, ResetDeletesTheOldLogAndLeavesTheFolder) {
    Log("[QS] old");
    ResetLog();
    EXPECT_FALSE(Exists(LogFile()));
    EXPECT_TRUE(Exists(LogFolder()));
    ResetLog(); // nothing to delete is no error
    Log("[QS] new");
    EXPECT_EQ(LogMessages(), std::vector<std::string>{"[QS] new"});
}

TEST_F(LogFileTest, LinesAreLostWhileAnotherHandleDeniesSharingThenLoggingResumes) {
    Log("[QS] first");
    HANDLE holder = CreateFileW(LogFile().c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(holder, INVALID_HANDLE_VALUE);
    Log("[QS] lost");
    CloseHandle(holder);
    Log("[QS] resumed");
    EXPECT_EQ(LogMessages(), (std::vector<std::string>{"[QS] first", "[QS] resumed"}));
}

TEST_F(LogFileTest, LogFolderReplacedByAFileLosesLinesWithoutHarm) {
    MakeFolders(DocumentsFolder() + L"\\My Games\\Duskhaven\\VELQ");
    WriteBytes(LogFolder(), "not a folder");
    Log("[QS] lost");
    ResetLog();
    EXPECT_EQ(ReadBytes(LogFolder()), "not a folder");
    DeleteFileW(LogFolder().c_str());
    Log("[QS] back");
    EXPECT_EQ(LogMessages(), std::vector<std::string>{"[QS] back"});
}

TEST_F(LogFileTest, ThreadsLoggingAtOnceNeverLoseOrMixLines) {
    constexpr int kThreads = 6, kLines = 150;
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([t] {
            std::string filler(100 + 40 * t, static_cast<char>('a' + t));
            for (int i = 0; i < kLines; ++i) {
                Log("[QS] thread %d line %d %s", t, i, filler.c_str());
            }
        });
    }
    for (std::thread& thread : threads) {
        thread.join();
    }
    std::vector<std::string> log = LogMessages(); // fails on any malformed line
    ASSERT_EQ(log.size(), std::size_t{kThreads * kLines});
    std::vector<int> next(kThreads, 0);
    for (const std::string& line : log) {
        int t = -1, i = -1;
        ASSERT_EQ(sscanf(line.c_str(), "[QS] thread %d line %d", &t, &i), 2) << line;
        EXPECT_EQ(i, next[t]++) << "out of order in thread " << t;
        EXPECT_EQ(line.size(), line.find(' ', line.find("line ") + 5) + 1 + 100 + 40 * t) << line;
    }
}

TEST_F(LogFileTest, DocumentsFolderOutsideTheAnsiCodePageKeepsItsLines) {
    std::wstring documents = TestsFolder() + L"\\Пётр 文档";
    RemoveTree(documents);
    MakeFolders(documents);
    {
        DocumentsRedirect redirect(documents);
        ASSERT_EQ(DocumentsFolder(), documents);
        ResetLog();
        Log("[QS] where the player looks");
    }
    std::string bytes = ReadBytes(documents + L"\\My Games\\Duskhaven\\VELQ\\Logs\\Quellstone.log");
    EXPECT_NE(bytes.find("[QS] where the player looks\r\n"), std::string::npos);
    RemoveTree(documents);
}
