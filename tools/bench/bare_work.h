// The floors of the benchmarks: the plugin's work done the plainest way the
// design allows, with no safety of its own. Shared by bench_win and the
// stand-in's "--bare", so that both measure against the same floor.
#pragma once

#include <cstdint>
#include <string>

#include <shlobj.h>
#include <windows.h>

// Asks for Documents and looks once that the log folder is there; makes it
// only when it is missing.
inline std::wstring BareLogFolder() {
    wchar_t documents[MAX_PATH];
    SHGetFolderPathW(nullptr, CSIDL_PERSONAL, nullptr, SHGFP_TYPE_CURRENT, documents);
    std::wstring folder = std::wstring(documents) + L"\\My Games\\Duskhaven\\VELQ\\Logs";
    if (GetFileAttributesW(folder.c_str()) == INVALID_FILE_ATTRIBUTES) {
        SHCreateDirectoryExW(nullptr, folder.c_str(), nullptr);
    }
    return folder;
}

// One log line: the folder as above, then open, append, close.
inline void BareLogLine(const wchar_t* fileName, const std::string& line) {
    HANDLE file = CreateFileW((BareLogFolder() + L"\\" + fileName).c_str(), FILE_APPEND_DATA,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    DWORD written;
    WriteFile(file, line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
    CloseHandle(file);
}

// Plain loads: what the watcher would cost if it trusted the game's memory
// (holder slot at base + 0x5EBB6B8, count at +0x430, list at +0x438).
inline bool PlainScan(std::uintptr_t base) {
    auto holder = *reinterpret_cast<const volatile std::uint64_t*>(base + 0x5EBB6B8);
    if (holder == 0) {
        return false;
    }
    std::uint32_t count = *reinterpret_cast<const volatile std::uint32_t*>(holder + 0x430);
    auto entries = *reinterpret_cast<const std::uint64_t* const volatile*>(holder + 0x438);
    for (std::uint32_t i = 0; i < count; ++i) {
        if (entries[i] != 0) {
            return true;
        }
    }
    return false;
}
