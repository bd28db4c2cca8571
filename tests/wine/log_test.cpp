// The log file, written by the plugin's own Log in this process.
#include "log/log.h"
#include "wine_support.h"

#include <gtest/gtest.h>

#include <thread>

using Lines = std::vector<std::string>;

using Logging = GameTest; // starts with no log

TEST_F(Logging, LineBytesResetAndAFolderDeletedWhileTheGameRuns) {
    Log("%s", std::string(600, 'm').c_str());
    std::string bytes = ReadBytes(LogFile());
    ASSERT_EQ(bytes.size(), 1 + 19 + 2 + 511 + 2u);
    EXPECT_EQ(bytes.substr(22), std::string(511, 'm') + "\r\n");
    EXPECT_EQ(GetLogPath().wstring(), LogFile());

    ResetLog();
    EXPECT_FALSE(fs::exists(LogFile()));
    EXPECT_TRUE(fs::is_directory(LogFolder()));
    ResetLog(); // nothing to delete is no error

    fs::remove_all(DocumentsFolder() + L"\\My Games");
    Log("[QS] after");
    EXPECT_EQ(LogMessages(), Lines{"[QS] after"});
}

TEST_F(Logging, ThreadsLoggingAtOnceNeverLoseOrMixLines) {
    constexpr int kThreads = 6, kLines = 1000;
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
    Lines log = LogMessages(); // fails on any malformed line
    ASSERT_EQ(log.size(), std::size_t{kThreads * kLines});
    std::vector<int> next(kThreads, 0);
    for (const std::string& line : log) {
        int t = -1, i = -1;
        ASSERT_EQ(sscanf(line.c_str(), "[QS] thread %d line %d", &t, &i), 2) << line;
        EXPECT_EQ(i, next[t]++) << "out of order in thread " << t;
        EXPECT_EQ(line.size() - line.find_last_of(' ') - 1, 100 + 40 * t) << line;
    }
}

TEST_F(Logging, DocumentsFolderOutsideTheAnsiCodePageKeepsItsLines) {
    fs::path documents = fs::temp_directory_path() / L"Пётр 文档";
    fs::create_directories(documents);
    {
        DocumentsRedirect redirect(documents.wstring());
        ASSERT_EQ(DocumentsFolder(), documents.wstring());
        ResetLog();
        Log("[QS] where the player looks");
    }
    EXPECT_EQ(LogMessages(documents / L"My Games\\Duskhaven\\VELQ\\Logs\\Quellstone.log"),
              Lines{"[QS] where the player looks"});
    fs::remove_all(documents);
}
