#include "standin_files.h"

#include <cstdio>
#include <cwchar>

#include "standin_imports.h"
#include "standin_report.h"

static FileOptions files;
static const DWORD gameThread = GetCurrentThreadId(); // the window's: it makes it
static LONG opens = 0, opensOnGameThread = 0;
static LONG iniAppeared = 0;
static LONG iniWriteOpens = 0;

// The settings file, or the name the plugin writes it under first.
static bool IsSettingsFile(const wchar_t* path) {
    return path != nullptr && (std::wcsstr(path, L"Quellstone.ini") != nullptr ||
                               std::wcsstr(path, L"Quellstone.tmp") != nullptr);
}

// Slows the open and counts where it was made.
static void Opening() {
    InterlockedIncrement(&opens);
    if (GetCurrentThreadId() == gameThread) {
        InterlockedIncrement(&opensOnGameThread);
    }
    if (files.slowOpenMs > 0) {
        Sleep(static_cast<DWORD>(files.slowOpenMs));
    }
}

// Another program makes the settings file between the plugin's look and its
// write, in the folder the plugin writes to.
static void MakeIniAsAnotherProgram(const wchar_t* path) {
    if (!files.iniAppears || InterlockedExchange(&iniAppeared, 1) != 0) {
        return;
    }
    std::wstring real(path);
    std::size_t name = real.find_last_of(L"\\/");
    real = real.substr(0, name == std::wstring::npos ? 0 : name + 1) + L"Quellstone.ini";
    HANDLE file = CreateFileW(real.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    DWORD written = 0;
    WriteFile(file, files.iniText.data(), DWORD(files.iniText.size()), &written, nullptr);
    CloseHandle(file);
}

static HANDLE WINAPI PluginCreateFile(LPCWSTR path, DWORD access, DWORD share,
                                      LPSECURITY_ATTRIBUTES security, DWORD disposition,
                                      DWORD flags, HANDLE templateFile) {
    Opening();
    if (IsSettingsFile(path) && (access & GENERIC_WRITE)) {
        InterlockedIncrement(&iniWriteOpens);
        MakeIniAsAnotherProgram(path);
    }
    return CreateFileW(path, access, share, security, disposition, flags, templateFile);
}

// The file behind a handle the plugin writes to, asked of the system, so no
// table of the plugin's handles is kept.
static bool IsOpenSettingsFile(HANDLE file) {
    static thread_local wchar_t path[32768]; // the longest path the system gives
    DWORD length = GetFinalPathNameByHandleW(file, path, 32768, FILE_NAME_NORMALIZED);
    return length > 0 && length < 32768 && IsSettingsFile(path);
}

static BOOL WINAPI PluginWriteFile(HANDLE file, LPCVOID data, DWORD size, LPDWORD written,
                                   LPOVERLAPPED overlapped) {
    if (IsOpenSettingsFile(file)) {
        if (written != nullptr) {
            *written = 0;
        }
        SetLastError(ERROR_DISK_FULL);
        return FALSE;
    }
    return WriteFile(file, data, size, written, overlapped);
}

static BOOL WINAPI PluginDeleteFile(LPCWSTR path) {
    if (IsSettingsFile(path)) {
        SetLastError(ERROR_SHARING_VIOLATION); // a program holds it, sharing no deletion
        return FALSE;
    }
    return DeleteFileW(path);
}

// The plugin's look at a file.
static DWORD WINAPI PluginFileAttributes(LPCWSTR path) {
    if (IsSettingsFile(path)) {
        SetLastError(ERROR_ACCESS_DENIED);
        return INVALID_FILE_ATTRIBUTES;
    }
    return GetFileAttributesW(path);
}

static FILE* __cdecl PluginOpenStream(const wchar_t* path, const wchar_t* mode, int share) {
    Opening();
    return _wfsopen(path, mode, share);
}

void InstallFileFaults(HMODULE plugin, const FileOptions& options) {
    files = options;
    auto hook = [plugin](const char* dll, const char* name, const void* replacement) {
        HookImportOrReport(plugin, dll, name, replacement);
    };
    if (files.slowOpenMs > 0 || files.iniWriteFails || files.iniAppears || files.iniLookFails) {
        hook("kernel32.dll", "CreateFileW", reinterpret_cast<const void*>(PluginCreateFile));
        // The C runtime's opens too: the settings file is read through one.
        hook("msvcrt.dll", "_wfsopen", reinterpret_cast<const void*>(PluginOpenStream));
    }
    if (files.iniWriteFails) {
        hook("kernel32.dll", "WriteFile", reinterpret_cast<const void*>(PluginWriteFile));
        hook("kernel32.dll", "DeleteFileW", reinterpret_cast<const void*>(PluginDeleteFile));
    }
    if (files.iniLookFails) {
        hook("kernel32.dll", "GetFileAttributesW",
             reinterpret_cast<const void*>(PluginFileAttributes));
    }
}

void ReportFileOpens() {
    if (files.slowOpenMs > 0) {
        Report("file-opens: all=%ld window-thread=%ld", opens, opensOnGameThread);
    }
    if (files.iniLookFails) {
        Report("ini-write-opens: %ld", iniWriteOpens);
    }
}
