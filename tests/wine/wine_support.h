// Helpers for the tests that run under Wine: files, the log, the Documents
// folder, and runs of the stand-in game with the real DLL.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include <windows.h>

namespace fs = std::filesystem;

std::wstring DocumentsFolder(); // empty when the query fails
inline std::wstring LogFolder() {
    return DocumentsFolder() + L"\\My Games\\Duskhaven\\VELQ\\Logs";
}
inline std::wstring LogFile() {
    return LogFolder() + L"\\Quellstone.log";
}
std::wstring BuildFolder();                  // wine_tests.exe, Duskhaven.exe and Quellstone.dll
std::wstring TestsFolder();                  // where the game folders of the tests are made
std::string ReadBytes(const fs::path& path); // empty when missing
// Removes a folder and all below it, at any depth: the C++ library's
// remove_all never returns from a tree deeper than 260 characters under Wine.
void RemoveTree(const std::wstring& folder);
void WriteBytes(const fs::path& path, const std::string& bytes);

// The log's messages ("[QS] ..."), without their time stamps (given apart when
// asked for); fails the test at the first line that is not whole and
// well-formed.
std::vector<std::string> LogMessages(const fs::path& file = LogFile(),
                                     std::vector<std::string>* stamps = nullptr);
std::vector<std::string> Matching(const std::vector<std::string>& lines, const std::string& prefix);
inline std::size_t Count(const std::vector<std::string>& lines, const std::string& prefix) {
    return Matching(lines, prefix).size();
}

// A message of the log with the system's figures taken out (the memory
// monitor's process figures, the worker's total): what two runs share.
std::string WithoutFigures(const std::string& message);

// Points Documents elsewhere, for this process and the games it starts.
struct DocumentsRedirect {
    explicit DocumentsRedirect(const std::wstring& folder);
    ~DocumentsRedirect();
    std::wstring saved;
};

struct GameRun {
    std::string output;
    std::string Value(const std::string& key) const;               // of the first "key: value" line
    std::vector<std::string> Values(const std::string& key) const; // of each such line
    int Number(const std::string& key) const { return std::atoi(Value(key).c_str()); }
};

// The stand-in's "process:" lines (--report-every-ms), from the system's own
// counters, in order.
struct ProcessReport {
    double threads, wsKb, pfKb, freeMb, mainCpuMs, otherCpuMs, handles, gameMs, privateKb;
};
std::vector<ProcessReport> ProcessReports(const GameRun& run);

// With --report-stamps: when each line of the log was written, in
// microseconds on the plugin's clock, in the log's order.
std::vector<long long> WrittenUs(const GameRun& run);

// Runs the stand-in game in folder and waits for it, at most timeoutMs. The
// test fails when the game did not end by itself in time, ended with another
// exit code than 0, or its load answered otherwise than expectLoad.
GameRun RunGame(const std::wstring& folder, const std::wstring& arguments,
                const char* expectLoad = "1", DWORD timeoutMs = 30000);

inline const std::string kDefaultIni = "[Settings]\r\nIter=10000\r\nSleep=5\r\nOverlayBatch=1\r\n";

// Each test starts with no log and a fresh game folder.
class GameTest : public ::testing::Test {
  protected:
    void SetUp() override;
    void MakeGameFolder(const std::wstring& name); // the game and the DLL in its place
    // Moves the DLL out of the game folder and removes Data; returns the
    // option that makes the game load it from there.
    std::wstring PluginElsewhere();
    std::wstring Ini() const { return game + L"\\Data\\VELQ\\Plugins\\Quellstone.ini"; }
    std::wstring game;
};
