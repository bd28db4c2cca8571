#include "standin_path_limit.h"

#include <cerrno>
#include <cstdio>
#include <cwchar>
#include <string>

#include <sys/stat.h>

#include "standin_imports.h"
#include "standin_report.h"

constexpr std::size_t kMaxPath = MAX_PATH;  // 260
constexpr std::size_t kMaxFolderPath = 248; // MAX_PATH less an 8.3 name
static LONG refused = 0;

// True, and counted, when Windows would refuse path for its length: the
// limit is on the full path the system makes of it, the current folder
// prefixed to a relative one.
static bool TooLong(const wchar_t* path, std::size_t limit) {
    if (path == nullptr || std::wcsncmp(path, L"\\\\?\\", 4) == 0) {
        return false;
    }
    DWORD full = GetFullPathNameW(path, 0, nullptr, nullptr); // its length, NUL counted
    std::size_t length = full > 0 ? full - 1 : std::wcslen(path);
    if (length < limit) {
        return false;
    }
    InterlockedIncrement(&refused);
    return true;
}

static bool TooLongForSystem(const wchar_t* path, std::size_t limit = kMaxPath) {
    if (!TooLong(path, limit)) {
        return false;
    }
    SetLastError(ERROR_FILENAME_EXCED_RANGE);
    return true;
}

static bool TooLongForRuntime(const wchar_t* path, std::size_t limit = kMaxPath) {
    if (!TooLong(path, limit)) {
        return false;
    }
    errno = ENAMETOOLONG;
    return true;
}

// What each import pointed at before the limit: the system's function or an
// earlier stand-in's.
static decltype(&CreateFileW) nextCreateFile;
static decltype(&MoveFileExW) nextMoveFile;
static decltype(&DeleteFileW) nextDeleteFile;
static decltype(&CreateDirectoryW) nextCreateDirectory;
static decltype(&GetFileAttributesW) nextGetFileAttributes;
static decltype(&FindFirstFileW) nextFindFirstFile;
using OpenStream = FILE*(__cdecl*)(const wchar_t*, const wchar_t*, int);
using OpenLowLevel = int(__cdecl*)(const wchar_t*, int, int);
using StatFile = int(__cdecl*)(const wchar_t*, struct _stat64*);
using MakeDir = int(__cdecl*)(const wchar_t*);
static OpenStream nextOpenStream;
static OpenLowLevel nextOpen;
static StatFile nextStat;
static MakeDir nextMakeDir;

static HANDLE WINAPI LimitedCreateFile(LPCWSTR path, DWORD access, DWORD share,
                                       LPSECURITY_ATTRIBUTES security, DWORD disposition,
                                       DWORD flags, HANDLE templateFile) {
    if (TooLongForSystem(path)) {
        return INVALID_HANDLE_VALUE;
    }
    return nextCreateFile(path, access, share, security, disposition, flags, templateFile);
}

static BOOL WINAPI LimitedMoveFile(LPCWSTR from, LPCWSTR to, DWORD flags) {
    if (TooLongForSystem(from) || TooLongForSystem(to)) {
        return FALSE;
    }
    return nextMoveFile(from, to, flags);
}

static BOOL WINAPI LimitedDeleteFile(LPCWSTR path) {
    return TooLongForSystem(path) ? FALSE : nextDeleteFile(path);
}

static BOOL WINAPI LimitedCreateDirectory(LPCWSTR path, LPSECURITY_ATTRIBUTES security) {
    return TooLongForSystem(path, kMaxFolderPath) ? FALSE : nextCreateDirectory(path, security);
}

static DWORD WINAPI LimitedGetFileAttributes(LPCWSTR path) {
    return TooLongForSystem(path) ? INVALID_FILE_ATTRIBUTES : nextGetFileAttributes(path);
}

static HANDLE WINAPI LimitedFindFirstFile(LPCWSTR pattern, LPWIN32_FIND_DATAW found) {
    return TooLongForSystem(pattern) ? INVALID_HANDLE_VALUE : nextFindFirstFile(pattern, found);
}

static FILE* __cdecl LimitedOpenStream(const wchar_t* path, const wchar_t* mode, int share) {
    return TooLongForRuntime(path) ? nullptr : nextOpenStream(path, mode, share);
}

static int __cdecl LimitedOpen(const wchar_t* path, int flags, int mode) {
    return TooLongForRuntime(path) ? -1 : nextOpen(path, flags, mode);
}

static int __cdecl LimitedStat(const wchar_t* path, struct _stat64* status) {
    return TooLongForRuntime(path) ? -1 : nextStat(path, status);
}

static int __cdecl LimitedMakeDir(const wchar_t* path) {
    return TooLongForRuntime(path, kMaxFolderPath) ? -1 : nextMakeDir(path);
}

// An import the plugin does not have is left alone.
void InstallPathLimit(HMODULE plugin) {
    nextCreateFile = ChainImport(plugin, "kernel32.dll", "CreateFileW", &LimitedCreateFile);
    nextMoveFile = ChainImport(plugin, "kernel32.dll", "MoveFileExW", &LimitedMoveFile);
    nextDeleteFile = ChainImport(plugin, "kernel32.dll", "DeleteFileW", &LimitedDeleteFile);
    nextCreateDirectory =
        ChainImport(plugin, "kernel32.dll", "CreateDirectoryW", &LimitedCreateDirectory);
    nextGetFileAttributes =
        ChainImport(plugin, "kernel32.dll", "GetFileAttributesW", &LimitedGetFileAttributes);
    nextFindFirstFile =
        ChainImport(plugin, "kernel32.dll", "FindFirstFileW", &LimitedFindFirstFile);
    // The C runtime's, which a build of the plugin may reach files through.
    nextOpenStream = ChainImport(plugin, "msvcrt.dll", "_wfsopen", &LimitedOpenStream);
    nextOpen = ChainImport(plugin, "msvcrt.dll", "_wopen", &LimitedOpen);
    nextStat = ChainImport(plugin, "msvcrt.dll", "_wstat64", &LimitedStat);
    nextMakeDir = ChainImport(plugin, "msvcrt.dll", "_wmkdir", &LimitedMakeDir);
}

void ReportPathLimit() {
    Report("long-paths: refused=%ld", refused);
}
