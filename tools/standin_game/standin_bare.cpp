// The baselines for the benchmarks: what any plugin of this design must do at
// load and while idle, done with the plainest calls and no safety of its own.
// "--bare" runs these in place of the plugin.
#include "standin.h"

#include <shlobj.h>

static std::wstring BareLogPath() {
    wchar_t documents[MAX_PATH];
    SHGetFolderPathW(nullptr, CSIDL_PERSONAL, nullptr, SHGFP_TYPE_CURRENT, documents);
    std::wstring folder = std::wstring(documents) + L"\\My Games\\Duskhaven\\VELQ\\Logs";
    if (GetFileAttributesW(folder.c_str()) == INVALID_FILE_ATTRIBUTES) {
        SHCreateDirectoryExW(nullptr, folder.c_str(), nullptr);
    }
    return folder + L"\\Quellstone.log";
}

static void BareLine(const char* line) {
    HANDLE file = CreateFileW(BareLogPath().c_str(), FILE_APPEND_DATA,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    DWORD written;
    WriteFile(file, line, lstrlenA(line), &written, nullptr);
    CloseHandle(file);
}

// The three threads' sleeps, and the watcher's scan with plain loads.
static DWORD WINAPI BareMonitor(LPVOID) {
    for (;;) {
        Sleep(5000);
    }
}

static DWORD WINAPI BareWorker(LPVOID) {
    for (;;) {
        Sleep(5);
    }
}

static DWORD WINAPI BareWatcher(LPVOID) {
    for (;;) {
        auto holder = *reinterpret_cast<const volatile std::uint64_t*>(
            reinterpret_cast<std::uintptr_t>(GetModuleHandleW(nullptr)) + 0x5EBB6B8);
        if (holder != 0) {
            std::uint32_t count = *reinterpret_cast<const volatile std::uint32_t*>(holder + 0x430);
            auto entries = *reinterpret_cast<const std::uint64_t* const volatile*>(holder + 0x438);
            for (std::uint32_t i = 0; i < count && entries[i] == 0; ++i) {
            }
        }
        Sleep(10);
    }
}

void BareLoad() {
    DeleteFileW(BareLogPath().c_str());
    if (HWND window = FindWindowW(nullptr, L"Duskhaven")) {
        SetWindowLongW(window, GWL_STYLE, GetWindowLongW(window, GWL_STYLE) & ~0x00CF0000);
        SetWindowLongW(window, GWL_EXSTYLE, GetWindowLongW(window, GWL_EXSTYLE) & ~0x00020301);
        RECT rect;
        GetWindowRect(window, &rect);
        SetWindowPos(window, nullptr, 0, 0, rect.right - rect.left, rect.bottom - rect.top,
                     SWP_NOZORDER | SWP_FRAMECHANGED | SWP_SHOWWINDOW);
        BareLine("[2026-12-06 08:39:20] [QS] Borderless applied.\r\n");
    }
    for (LPTHREAD_START_ROUTINE thread : {BareMonitor, BareWorker, BareWatcher}) {
        CloseHandle(CreateThread(nullptr, 0, thread, nullptr, 0, nullptr));
    }
    BareLine("[2026-12-06 08:39:20] [QS] All threads started.\r\n");
}
