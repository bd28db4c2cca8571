#include "standin_loader.h"

#include <cstdio>
#include <cstring>

#include "standin_bare.h"
#include "standin_clock.h"
#include "standin_faults.h"
#include "standin_files.h"
#include "standin_imports.h"
#include "standin_memory.h"
#include "standin_overlay.h"
#include "standin_path_limit.h"
#include "standin_report.h"
#include "standin_starvation.h"
#include "standin_threads.h"
#include "standin_trims.h"
#include "standin_windows_rules.h"

// The loader's interface as the plugin sees it: the loader's version first.
struct HostInterface {
    std::uint32_t loaderVersion;
    std::uint32_t reserved[15];
};

using LoadEntry = bool (*)(const HostInterface*);

// --- The error box: the plugin's call is recorded exactly as made, and the
// real box it shows is found, read and closed by a helper thread.

static int WINAPI RecordMessageBoxA(HWND owner, LPCSTR text, LPCSTR caption, UINT type) {
    std::string escaped;
    for (const char* c = text; c != nullptr && *c != '\0'; ++c) {
        escaped += *c == '\n' ? std::string("\\n") : std::string(1, *c);
    }
    Report("box-call: owner=%p type=0x%X caption=\"%s\" text=\"%s\"", static_cast<void*>(owner),
           type, caption != nullptr ? caption : "(null)", escaped.c_str());
    return MessageBoxA(owner, text, caption, type);
}

static BOOL CALLBACK ReportStaticText(HWND child, LPARAM) {
    wchar_t className[32] = {}, text[256] = {};
    GetClassNameW(child, className, 32);
    if (std::wcscmp(className, L"Static") == 0 && GetWindowTextW(child, text, 256) > 0) {
        std::string shown = Narrow(text);
        for (std::size_t at; (at = shown.find('\n')) != std::string::npos;) {
            shown.replace(at, 1, "\\n");
        }
        Report("box-shown: text=\"%s\"", shown.c_str());
    }
    return TRUE;
}

static DWORD WINAPI CloseErrorBox(LPVOID stop) {
    while (WaitForSingleObject(stop, 5) == WAIT_TIMEOUT) {
        HWND box = FindWindowW(L"#32770", L"Incompatible VELQ");
        if (box != nullptr) {
            EnumChildWindows(box, ReportStaticText, 0);
            PostMessageW(box, WM_COMMAND, IDOK, 0);
            return 0;
        }
    }
    return 0;
}

static long long MicrosecondsSince(const LARGE_INTEGER& start) {
    LARGE_INTEGER frequency, end;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&end);
    return (end.QuadPart - start.QuadPart) * 1000000 / frequency.QuadPart;
}

// A loader that frees its plugin once the load entry returned, as if the
// plugin were done: "freed: 1 mapped=0|1". The plugin, or nullptr when it is
// gone from the process.
static HMODULE FreeAfterLoad(HMODULE plugin) {
    BOOL freed = FreeLibrary(plugin);
    HMODULE stillThere = nullptr;
    bool mapped = GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS |
                                         GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                                     reinterpret_cast<LPCWSTR>(plugin), &stillThere);
    Report("freed: %d mapped=%d", freed ? 1 : 0, mapped ? 1 : 0);
    return mapped ? plugin : nullptr;
}

HMODULE LoadPlugin(const StandinOptions& options) {
    LoadLibraryW(L"shell32.dll"); // a game has it loaded long before its plugins
    LARGE_INTEGER start;
    QueryPerformanceCounter(&start);
    if (options.bare) {
        BareLoad();
        Report("load-us: %lld", MicrosecondsSince(start));
        return nullptr;
    }
    HMODULE plugin = LoadLibraryW(options.pluginPath.c_str());
    Report("loadlibrary-us: %lld", MicrosecondsSince(start));
    if (plugin == nullptr) {
        Report("load: no-module error=%lu", GetLastError());
        return nullptr;
    }
    auto* record =
        reinterpret_cast<const std::uint8_t*>(GetProcAddress(plugin, "VELQPlugin_Version"));
    auto load = reinterpret_cast<LoadEntry>(
        reinterpret_cast<void (*)()>(GetProcAddress(plugin, "VELQPlugin_Load")));
    if (record == nullptr || load == nullptr) {
        Report("load: no-exports");
        return plugin;
    }
    // The loader calls only a plugin that lists the running game's version.
    bool listsGame = false;
    for (int slot = 0; slot < 16; ++slot) {
        std::uint32_t version;
        std::memcpy(&version, record + 528 + 4 * slot, 4);
        listsGame = listsGame || version == options.gameVersion;
    }
    if (!listsGame) {
        Report("load: skipped (game version not listed)");
        return plugin;
    }
    HookImport(plugin, "user32.dll", "MessageBoxA",
               reinterpret_cast<const void*>(RecordMessageBoxA));
    InstallPluginClock(plugin, options.clock);
    InstallTrimReports(plugin, options.faults.failTrimCall);
    InstallWindowsRules(plugin, options.postQuota);
    InstallFileFaults(plugin, options.files);
    InstallFaults(plugin, options.faults); // a refusal replaces what came before
    RecordPluginThreads(plugin);           // the threads the system did make
    // These pass each call on to what came before.
    InstallPathLimit(plugin);
    CountMemoryQueries(plugin);
    WatchPluginPassesOn(plugin);
    if (options.starveWorkersMs > 0) {
        InstallStarvation(plugin, options.starveWorkersMs);
    }
    if (options.entriesOnGuardPage) {
        CountGuardPageFaults(plugin);
    }
    HANDLE stopCloser = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    HANDLE closer = CreateThread(nullptr, 0, CloseErrorBox, stopCloser, 0, nullptr);

    HostInterface host = {options.hostVersion, {}};
    QueryPerformanceCounter(&start);
    bool accepted = load(options.hostIsNull ? nullptr : &host);
    long long loadUs = MicrosecondsSince(start);
    SYSTEMTIME local;
    PluginLocalTime(&local);
    Report("load: %d", accepted ? 1 : 0);
    Report("load-us: %lld", loadUs);
    Report("load-local-time: %04u-%02u-%02u %02u:%02u:%02u", local.wYear, local.wMonth, local.wDay,
           local.wHour, local.wMinute, local.wSecond);

    SetEvent(stopCloser);
    WaitForSingleObject(closer, INFINITE);
    CloseHandle(closer);
    CloseHandle(stopCloser);
    return accepted && options.freeAfterLoad ? FreeAfterLoad(plugin) : plugin;
}
