#include "settings/settings.h"

#include "log/log.h"

#include <cstdio>
#include <share.h>
#include <string>
#include <system_error>
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
        std::error_code ignored; // a folder that cannot be made shows up when the file is used
        fs::create_directories(folder, ignored);
        return folder / L"Quellstone.ini";
    } catch (...) {
        return L"Quellstone.ini";
    }
}

static void WriteDefaultFile(const fs::path& path) {
    FILE* file = _wfsopen(path.c_str(), L"wt", _SH_DENYNO);
    if (file == nullptr) {
        return; // a read-only folder, say: the next start tries again
    }
    std::string text = DefaultSettingsText();
    std::fwrite(text.data(), 1, text.size(), file);
    std::fclose(file);
}

static void ReadSettingsFile(const fs::path& path) {
    FILE* file = _wfsopen(path.c_str(), L"rt", _SH_DENYNO);
    if (file == nullptr) {
        return; // a folder at the path, or access refused: the defaults stay
    }
    std::string pending;
    char chunk[4096];
    std::size_t got;
    while ((got = std::fread(chunk, 1, sizeof chunk, file)) > 0) {
        ApplySettingsText(std::string_view(chunk, got), &pending, false, settings);
    }
    ApplySettingsText({}, &pending, true, settings);
    std::fclose(file);
}

void LoadSettings() noexcept {
    bool created = false;
    try {
        fs::path path = GetIniPath();
        std::error_code error;
        bool present = fs::exists(path, error);
        // When the test itself fails, the file may well be there: never write
        // over it, and try to read it instead.
        if (!present && !error) {
            WriteDefaultFile(path);
            created = true;
        } else {
            ReadSettingsFile(path);
        }
    } catch (...) {
        // Out of memory on an absurdly long line: keep what was read so far.
    }
    int iterations = settings.iterations, sleepMs = settings.sleepMs;
    int overlay = settings.overlayBatch ? 1 : 0;
    if (created) {
        Log("[QS] Created default INI: Iter=%d, Sleep=%d, Overlay=%d", iterations, sleepMs,
            overlay);
    } else {
        Log("[QS] INI loaded: Iter=%d, Sleep=%d, Overlay=%d", iterations, sleepMs, overlay);
    }
}
