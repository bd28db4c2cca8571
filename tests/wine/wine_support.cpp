#include "wine_support.h"

#include <gtest/gtest.h>
#include <shlobj.h>

#include <regex>

std::wstring DocumentsFolder() {
    wchar_t path[MAX_PATH] = {};
    SHGetFolderPathW(nullptr, CSIDL_PERSONAL, nullptr, SHGFP_TYPE_CURRENT, path);
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
