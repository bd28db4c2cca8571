#include "settings/settings.h"

#include "log/log.h"
#include "log/long_path.h"

#include <cstdio>
#include <share.h>
#include <string>
#include <windows.h>

namespace fs = std::filesystem;

Settings settings;

// The game's executable path in wide characters: a narrow 260-byte query would
// mangle a folder name outside the ANSI code page and cut a long path short.
static std::uint32_t QueryExecutablePath(wchar_t* buffer, std::uint32_t size) {
    return GetModuleFileNameW(nullptr, buffer, size);
}

fs::path GetIniPath() noexcept {
    try {
        std::wstring executable = QueryFullPath(QueryExecutablePath);
        if (executable.empty()) {
            return L"Quellstone.ini";
        }
        fs::path folder = fs::path(executable).parent_path() / L"Data" / L"VELQ" / L"Plugins";
        // A folder that cannot be made shows up when the file is used.
        MakeFolderChain(LongPath(folder));
        return folder / L"Quellstone.ini";
    } catch (...) {
        return L"Quellstone.ini";
    }
}

enum class FileLook { kPresent, kAbsent, kUnknown };

// Asked of the system itself: the C runtime's look at a file takes the "?" of
// an extended-length path for a wildcard, and says no file is there.
static FileLook LookAtFile(const std::wstring& path) {
    if (GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES) {
        return FileLook::kPresent;
    }
    DWORD error = GetLastError();
    bool absent = error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
    return absent ? FileLook::kAbsent : FileLook::kUnknown;
}

enum class DefaultFile { kMade, kNotMade, kAppeared };

// The default file is written whole under a name that no reader looks at,
// then moved to its real name, so the real name never holds an empty or half
// file, whatever fails on the way: a C runtime stream writes its buffer only
// as it closes, and under Wine (and so Proton) its close does not report a
// write that a full disk refused; a half file that could not be deleted (a
// program holding it without delete sharing) would be read at every later
// start. The move never replaces a file: one that another program made
// meanwhile is kept, and read.
static DefaultFile WriteDefaultFile(const std::wstring& path) {
    // A name of the plugin's own, beside the real one: a file left there by a
    // start that failed is ours to write over.
    std::wstring temporary = SiblingPath(path, L"Quellstone.tmp");
    HANDLE file = CreateFileW(temporary.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return DefaultFile::kNotMade; // a read-only folder, or a file where a folder should be
    }
    std::string text = DefaultSettingsText();
    DWORD written = 0;
    bool whole = WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr) &&
                 written == text.size() && FlushFileBuffers(file);
    whole = CloseHandle(file) && whole;
    if (whole && MoveFileExW(temporary.c_str(), path.c_str(), MOVEFILE_WRITE_THROUGH)) {
        return DefaultFile::kMade;
    }
    DWORD error = whole ? GetLastError() : ERROR_WRITE_FAULT;
    DeleteFileW(temporary.c_str()); // refused: it only lies under a name nobody reads
    bool appeared = error == ERROR_ALREADY_EXISTS || error == ERROR_FILE_EXISTS;
    return appeared ? DefaultFile::kAppeared : DefaultFile::kNotMade;
}

// True when the file was read to its end; false when it could not be opened
// (a folder at the path, or a program holding it and sharing nothing) or a
// read failed on the way. What was read until then stays in force.
static bool ReadSettingsFile(const std::wstring& path) {
    FILE* file = _wfsopen(path.c_str(), L"rt", _SH_DENYNO);
    if (file == nullptr) {
        return false;
    }
    std::string pending;
    char chunk[4096];
    std::size_t got;
    while ((got = std::fread(chunk, 1, sizeof chunk, file)) > 0) {
        ApplySettingsText(std::string_view(chunk, got), &pending, false, settings);
    }
    bool whole = std::ferror(file) == 0;
    if (whole) {
        ApplySettingsText({}, &pending, true, settings);
    }
    std::fclose(file);
    return whole;
}

void LoadSettings() noexcept {
    bool existed = true, done = false;
    try {
        std::wstring path = LongPath(GetIniPath());
        // When the look itself fails, the file may well be there: never write
        // over it, and try to read it instead.
        if (LookAtFile(path) == FileLook::kAbsent) {
            DefaultFile made = WriteDefaultFile(path);
            existed = made == DefaultFile::kAppeared;
            done = made == DefaultFile::kMade;
        }
        if (existed) {
            done = ReadSettingsFile(path);
        }
    } catch (...) {
        // Out of memory on an absurdly long line: keep what was read so far.
    }
    // The report says what happened to the file; the values are those in
    // force either way.
    int iterations = settings.iterations, sleepMs = settings.sleepMs;
    int overlay = settings.overlayBatch ? 1 : 0;
    if (!existed && done) {
        Log("[QS] Created default INI: Iter=%d, Sleep=%d, Overlay=%d", iterations, sleepMs,
            overlay);
    } else if (!existed) {
        Log("[QS] Could not create default INI: Iter=%d, Sleep=%d, Overlay=%d", iterations, sleepMs,
            overlay);
    } else if (done) {
        Log("[QS] INI loaded: Iter=%d, Sleep=%d, Overlay=%d", iterations, sleepMs, overlay);
    } else {
        Log("[QS] Could not read INI: Iter=%d, Sleep=%d, Overlay=%d", iterations, sleepMs, overlay);
    }
}
