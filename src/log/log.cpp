#include "log/log.h"

#include "log/log_line.h"
#include "log/log_reset.h"
#include "log/long_path.h"

#include <cstdarg>
#include <shlobj.h>
#include <windows.h>

namespace fs = std::filesystem;

// Lines from different threads must never overwrite one another. On Windows
// an append-only handle writes each WriteFile at the end as one piece, but
// Wine (and so Proton) finds the end and then writes there, so two lines
// written at once can land at the same offset: one is lost, or cut into the
// other. The lock is held only around one open-write-close, so no thread
// holds it for long; statically initialised, so it needs no setup.
static SRWLOCK logLock = SRWLOCK_INIT;

// Set when the previous run's log could be neither moved aside nor emptied at
// the start (a program held it without sharing writing): the first line that
// can reach the file finishes the reset first, so the file never holds lines
// of two runs. Read and written under logLock only.
static bool resetPending = false;

fs::path GetLogPath() noexcept {
    try {
        // The wide query: a narrow one turns a user name outside the ANSI code
        // page (Cyrillic, Chinese) into '?' and every line would be lost.
        wchar_t documents[MAX_PATH] = {};
        if (FAILED(SHGetFolderPathW(nullptr, CSIDL_PERSONAL, nullptr, SHGFP_TYPE_CURRENT,
                                    documents))) {
            return L"Quellstone.log";
        }
        fs::path directory = fs::path(documents) / L"My Games" / L"Duskhaven" / L"VELQ" / L"Logs";
        // A directory that cannot be made shows up as a failed open.
        MakeFolderChain(LongPath(directory));
        return directory / L"Quellstone.log";
    } catch (...) {
        return L"Quellstone.log";
    }
}

// Moved files that a holder kept alive at an earlier start.
static void RemoveLeftovers(const std::wstring& log) {
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW((log + L".*.old").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) {
        return;
    }
    do {
        if (IsMovedAsideLogName(found.cFileName)) {
            // Still held: the next start tries again.
            DeleteFileW(SiblingPath(log, found.cFileName).c_str());
        }
    } while (FindNextFileW(search, &found));
    FindClose(search);
}

// A holder that shares writing lets us cut the file to nothing; appends then
// start at byte 0 again.
static bool EmptyInPlace(const std::wstring& log) {
    HANDLE file = CreateFileW(log.c_str(), GENERIC_WRITE,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              TRUNCATE_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return false;
    }
    CloseHandle(file);
    return true;
}

// True when the log's name is free, or names an empty file, afterwards.
static bool ResetLogFile(const std::wstring& log) {
    std::wstring aside =
        SiblingPath(log, MovedAsideLogName(GetCurrentProcessId(), GetTickCount64()));
    bool moved = MoveFileExW(log.c_str(), aside.c_str(), 0);
    switch (AfterMovingAside(moved, moved ? 0 : GetLastError())) {
    case LogResetStep::kDeleteMovedFile:
        DeleteFileW(aside.c_str()); // a holder keeps it alive: the next start removes it
        return true;
    case LogResetStep::kEmptyInPlace:
        return EmptyInPlace(log);
    case LogResetStep::kNothing:
        return true;
    }
    return false;
}

void ResetLog() noexcept {
    AcquireSRWLockExclusive(&logLock); // no worker yet; resetPending is the lock's
    try {
        std::wstring log = LongPath(GetLogPath());
        RemoveLeftovers(log);
        resetPending = !ResetLogFile(log);
    } catch (...) {
        resetPending = true; // the old file may still be there: the first line tries again
    }
    ReleaseSRWLockExclusive(&logLock);
}

// Each line is one append of whole bytes through the system: no C runtime
// stream whose lock a thread could hold when the game exits. The file is shared
// for reading, writing and deleting, so players and tools can read the log, or
// remove it, while the game runs.
static void AppendLine(const std::wstring& path, const char* message) {
    HANDLE file = CreateFileW(path.c_str(), FILE_APPEND_DATA,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return;
    }
    // The time is read after the open, so the stamp is the time of writing.
    // The system's own local time: the C runtime's reads a TZ variable in
    // Windows' form only, and takes UTC for one a Linux desktop sets
    // (TZ=Europe/Berlin), which Wine and Proton hand on to the game.
    SYSTEMTIME now;
    GetLocalTime(&now);
    std::tm local = {};
    local.tm_year = now.wYear - 1900;
    local.tm_mon = now.wMonth - 1;
    local.tm_mday = now.wDay;
    local.tm_hour = now.wHour;
    local.tm_min = now.wMinute;
    local.tm_sec = now.wSecond;
    char stamp[kTimestampBufferSize];
    FormatLogTimestamp(local, stamp);
    char line[kLineBufferSize];
    std::size_t length = BuildLogLine(stamp, message, line);
    DWORD written = 0; // a short write leaves part of the line; nothing to report to
    WriteFile(file, line, static_cast<DWORD>(length), &written, nullptr);
    CloseHandle(file);
}

void Log(const char* format, ...) noexcept {
    char message[kMessageBufferSize];
    std::va_list args;
    va_start(args, format);
    FormatLogMessage(message, format, args);
    va_end(args);
    AcquireSRWLockExclusive(&logLock);
    try {
        std::wstring path = LongPath(GetLogPath());
        if (resetPending) {
            resetPending = !ResetLogFile(path);
        }
        if (!resetPending) { // else the line would join the old run's: it is lost
            AppendLine(path, message);
        }
    } catch (...) {
        // The line is lost; the next call starts again from the beginning.
    }
    ReleaseSRWLockExclusive(&logLock);
}
