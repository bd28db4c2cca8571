// Helpers for the tests that run under Wine: files, folders, and runs of the
// stand-in game with the real DLL.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include <windows.h>

std::wstring DocumentsFolder();
std::wstring LogFolder(); // Documents\My Games\Duskhaven\VELQ\Logs
std::wstring LogFile();
std::wstring TestsFolder(); // a scratch folder below the Wine user's Temp
std::wstring BuildFolder(); // where wine_tests.exe, Duskhaven.exe and Quellstone.dll are

bool Exists(const std::wstring& path);
std::string ReadBytes(const std::wstring& path); // empty when missing
void WriteBytes(const std::wstring& path, const std::string& bytes);
void RemoveTree(const std::wstring& path);
void MakeFolders(const std::wstring& path);

// The log's lines without their time stamps ("[QS] ..."); checks that every
// line is whole and well-formed, and fails the test where one is not.
std::vector<std::string> LogMessages();
std::vector<std::string> Matching(const std::vector<std::string>& lines, const std::string& prefix);

// A fresh game folder: Duskhaven.exe and Data\VELQ\Plugins\Quellstone.dll.
std::wstring MakeGameFolder(const std::wstring& name);

// Points the user's Documents folder somewhere else (for this process and the
// games it starts) for the life of the object.
class DocumentsRedirect {
  public:
    explicit DocumentsRedirect(const std::wstring& folder);
    ~DocumentsRedirect();

  private:
    void Set(const wchar_t* value, DWORD type, std::size_t bytes);
    HKEY key = nullptr;
    wchar_t saved[MAX_PATH] = {};
    DWORD savedType = REG_EXPAND_SZ;
    bool hadValue = false;
};

// Runs a Linux program (Wine starts those too, without waiting for them).
int RunUnixCommand(const std::wstring& commandLine);
std::wstring UnixPath(const std::wstring& windowsPath);
// chattr +i or -i, which even root cannot write past; true when it took effect.
bool MakeImmutable(const std::wstring& folder, bool immutable);

struct GameRun {
    std::string output;
    DWORD exitCode = 0;
    bool timedOut = false;
    std::string Value(const std::string& key) const; // "key: value" line of the output
};

// Runs the stand-in game in folder with these arguments and waits for it.
GameRun RunGame(const std::wstring& folder, const std::wstring& arguments, DWORD timeoutMs = 60000);

// Each test starts with no log and a fresh game folder.
class GameTest : public ::testing::Test {
  protected:
    void SetUp() override;
    std::wstring Plugins() const { return game + L"\\Data\\VELQ\\Plugins"; }
    std::wstring Ini() const { return Plugins() + L"\\Quellstone.ini"; }
    void WriteSettings(const std::string& text) { WriteBytes(Ini(), text); }
    // Moves the DLL out of the game folder and removes Data; the argument
    // that makes the game load it from there.
    std::wstring PluginElsewhere();
    std::wstring game;
};
