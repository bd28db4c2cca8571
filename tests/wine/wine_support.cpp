#include "wine_support.h"

#include <gtest/gtest.h>
#include <shlobj.h>

#include <regex>

std::wstring DocumentsFolder() {
    wchar_t path[MAX_PATH] = {};
    if (FAILED(SHGetFolderPathW(nullptr, CSIDL_PERSONAL, nullptr, SHGFP_TYPE_CURRENT, path))) {
        return L""; // Wine fills in the path even when it fails
    }
    return path;
}

std::wstring LogFolder() {
    return DocumentsFolder() + L"\\My Games\\Duskhaven\\VELQ\\Logs";
}

std::wstring LogFile() {
    return LogFolder() + L"\\Quellstone.log";
}

std::wstring TestsFolder() {
    wchar_t temp[MAX_PATH] = {};
    GetTempPathW(MAX_PATH, temp);
    return std::wstring(temp) + L"qs-tests";
}

std::wstring BuildFolder() {
    wchar_t exe[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, exe, MAX_PATH);
    std::wstring folder = exe;
    return folder.substr(0, folder.find_last_of(L'\\'));
}

bool Exists(const std::wstring& path) {
    return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

std::string ReadBytes(const std::wstring& path) {
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                              nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return {};
    }
    std::string bytes;
    char chunk[65536];
    DWORD got = 0;
    while (ReadFile(file, chunk, sizeof chunk, &got, nullptr) && got > 0) {
        bytes.append(chunk, got);
    }
    CloseHandle(file);
    return bytes;
}

void WriteBytes(const std::wstring& path, const std::string& bytes) {
    HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    DWORD written = 0;
    WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
    CloseHandle(file);
}

void RemoveTree(const std::wstring& path) {
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW((path + L"\\*").c_str(), &found);
    if (search != INVALID_HANDLE_VALUE) {
        do {
            std::wstring name = found.cFileName;
            if (name == L"." || name == L"..") {
                continue;
            }
            std::wstring child = path + L"\\" + name;
            SetFileAttributesW(child.c_str(), FILE_ATTRIBUTE_NORMAL);
            if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
                RemoveTree(child);
            } else {
                DeleteFileW(child.c_str());
            }
        } while (FindNextFileW(search, &found));
        FindClose(search);
    }
    SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
    if (!RemoveDirectoryW(path.c_str())) {
        DeleteFileW(path.c_str());
    }
}

void MakeFolders(const std::wstring& path) {
    for (std::size_t at = path.find(L'\\', 3); at != std::wstring::npos;
         at = path.find(L'\\', at + 1)) {
        CreateDirectoryW(path.substr(0, at).c_str(), nullptr);
    }
    CreateDirectoryW(path.c_str(), nullptr);
}

std::vector<std::string> LogMessages() {
    static const std::regex line(
        R"(\[\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\] (\[(QS|MM)\] [^\r\n]*)\r\n)");
    std::string bytes = ReadBytes(LogFile());
    std::vector<std::string> messages;
    std::size_t at = 0;
    while (at < bytes.size()) {
        std::size_t end = bytes.find("\r\n", at);
        std::smatch match;
        std::string one =
            bytes.substr(at, end == std::string::npos ? std::string::npos : end + 2 - at);
        if (!std::regex_match(one, match, line)) {
            ADD_FAILURE() << "malformed log line: " << one;
            break;
        }
        messages.push_back(match[1]);
        at += one.size();
    }
    return messages;
}

std::vector<std::string> Matching(const std::vector<std::string>& lines,
                                  const std::string& prefix) {
    std::vector<std::string> out;
    for (const std::string& line : lines) {
        if (line.rfind(prefix, 0) == 0) {
            out.push_back(line);
        }
    }
    return out;
}

std::wstring MakeGameFolder(const std::wstring& name) {
    std::wstring folder = TestsFolder() + L"\\" + name;
    RemoveTree(folder);
    MakeFolders(folder + L"\\Data\\VELQ\\Plugins");
    CopyFileW((BuildFolder() + L"\\Duskhaven.exe").c_str(), (folder + L"\\Duskhaven.exe").c_str(),
              FALSE);
    CopyFileW((BuildFolder() + L"\\Quellstone.dll").c_str(),
              (folder + L"\\Data\\VELQ\\Plugins\\Quellstone.dll").c_str(), FALSE);
    return folder;
}

std::string GameRun::Value(const std::string& key) const {
    std::string prefix = key + ": ";
    for (std::size_t at = 0; at < output.size();) {
        std::size_t end = output.find('\n', at);
        std::string line = output.substr(at, end - at);
        if (!line.empty() && line.back() == '\r') {
            line.pop_back();
        }
        if (line.rfind(prefix, 0) == 0) {
            return line.substr(prefix.size());
        }
        if (end == std::string::npos) {
            break;
        }
        at = end + 1;
    }
    return "(missing)";
}

GameRun RunGame(const std::wstring& folder, const std::wstring& arguments, DWORD timeoutMs) {
    GameRun run;
    SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
    HANDLE readEnd = nullptr, writeEnd = nullptr;
    CreatePipe(&readEnd, &writeEnd, &inherit, 0);
    SetHandleInformation(readEnd, HANDLE_FLAG_INHERIT, 0);

    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdOutput = writeEnd;
    startup.hStdError = writeEnd;
    startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    std::wstring exe = folder + L"\\Duskhaven.exe";
    std::wstring commandLine = L"\"" + exe + L"\" " + arguments;
    PROCESS_INFORMATION process = {};
    if (!CreateProcessW(exe.c_str(), commandLine.data(), nullptr, nullptr, TRUE, 0, nullptr,
                        folder.c_str(), &startup, &process)) {
        ADD_FAILURE() << "cannot start the stand-in game, error " << GetLastError();
        CloseHandle(readEnd);
        CloseHandle(writeEnd);
        return run;
    }
    CloseHandle(writeEnd);
    // Wait for the process, not for the end of the pipe: a Wine service that
    // the game starts (the desktop's explorer.exe) may inherit the pipe and
    // keep it open long after the game has gone.
    ULONGLONG deadline = GetTickCount64() + timeoutMs;
    char chunk[4096];
    for (bool exited = false; !exited;) {
        exited = WaitForSingleObject(process.hProcess, 10) == WAIT_OBJECT_0;
        DWORD available = 0, got = 0;
        while (PeekNamedPipe(readEnd, nullptr, 0, nullptr, &available, nullptr) && available > 0 &&
               ReadFile(readEnd, chunk, sizeof chunk, &got, nullptr) && got > 0) {
            run.output.append(chunk, got);
        }
        if (!exited && GetTickCount64() > deadline) {
            run.timedOut = true;
            TerminateProcess(process.hProcess, 99);
            break;
        }
    }
    WaitForSingleObject(process.hProcess, 5000);
    GetExitCodeProcess(process.hProcess, &run.exitCode);
    CloseHandle(process.hProcess);
    CloseHandle(process.hThread);
    CloseHandle(readEnd);
    return run;
}

static const wchar_t* kShellFolders =
    L"Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\User Shell Folders";

DocumentsRedirect::DocumentsRedirect(const std::wstring& folder) {
    RegOpenKeyExW(HKEY_CURRENT_USER, kShellFolders, 0, KEY_READ | KEY_WRITE, &key);
    DWORD size = sizeof saved;
    hadValue = RegQueryValueExW(key, L"Personal", nullptr, &savedType,
                                reinterpret_cast<BYTE*>(saved), &size) == ERROR_SUCCESS;
    Set(folder.c_str(), REG_EXPAND_SZ, (folder.size() + 1) * sizeof(wchar_t));
}

DocumentsRedirect::~DocumentsRedirect() {
    if (hadValue) {
        Set(saved, savedType, (wcslen(saved) + 1) * sizeof(wchar_t));
    } else {
        RegDeleteValueW(key, L"Personal");
    }
    RegCloseKey(key);
}

void DocumentsRedirect::Set(const wchar_t* value, DWORD type, std::size_t bytes) {
    RegSetValueExW(key, L"Personal", 0, type, reinterpret_cast<const BYTE*>(value),
                   static_cast<DWORD>(bytes));
}

std::wstring UnixPath(const std::wstring& windowsPath) {
    using ToUnix = char* (*)(const wchar_t*);
    auto toUnix = reinterpret_cast<ToUnix>(reinterpret_cast<void (*)()>(
        GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "wine_get_unix_file_name")));
    char* unix = toUnix ? toUnix(windowsPath.c_str()) : nullptr;
    if (unix == nullptr) {
        return {};
    }
    std::string narrow = unix;
    HeapFree(GetProcessHeap(), 0, unix);
    return std::wstring(narrow.begin(), narrow.end()); // the test folders are ASCII
}

static bool CanCreateFileIn(const std::wstring& folder) {
    HANDLE probe = CreateFileW((folder + L"\\probe").c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                               FILE_FLAG_DELETE_ON_CLOSE, nullptr);
    if (probe == INVALID_HANDLE_VALUE) {
        return false;
    }
    CloseHandle(probe);
    return true;
}

bool MakeImmutable(const std::wstring& folder, bool immutable) {
    RunUnixCommand(std::wstring(L"Z:\\usr\\bin\\chattr ") + (immutable ? L"+i " : L"-i ") +
                   UnixPath(folder));
    // Wine does not wait for a Linux program: watch for its effect instead.
    for (int tries = 0; tries < 200; ++tries) {
        if (CanCreateFileIn(folder) != immutable) {
            return true;
        }
        Sleep(10);
    }
    return false;
}

int RunUnixCommand(const std::wstring& commandLine) {
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    std::wstring line = commandLine;
    if (!CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                        &startup, &process)) {
        return -1;
    }
    WaitForSingleObject(process.hProcess, 10000);
    DWORD code = 0;
    GetExitCodeProcess(process.hProcess, &code);
    CloseHandle(process.hProcess);
    CloseHandle(process.hThread);
    return static_cast<int>(code);
}

void GameTest::SetUp() {
    RemoveTree(DocumentsFolder() + L"\\My Games");
    game = MakeGameFolder(L"game");
}

std::wstring GameTest::PluginElsewhere() {
    std::wstring plugin = TestsFolder() + L"\\plugin-elsewhere";
    MakeFolders(plugin);
    CopyFileW((BuildFolder() + L"\\Quellstone.dll").c_str(), (plugin + L"\\Quellstone.dll").c_str(),
              FALSE);
    RemoveTree(game + L"\\Data");
    return L"--plugin \"" + plugin + L"\\Quellstone.dll\"";
}
