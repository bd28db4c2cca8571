// The plugin's own calls to the system, made to refuse or to answer as a test
// says, so that what the plugin does then can be seen on the real DLL: entries
// of the plugin's import table are pointed at the stand-ins below before the
// load. Only the plugin's calls go through them, never the game's.
#include "standin.h"

#include <cstring>
#include <psapi.h>
#include <shlobj.h>

bool HookImport(HMODULE plugin, const char* dll, const char* name, const void* replacement) {
    auto* base = reinterpret_cast<std::uint8_t*>(plugin);
    auto* dos = reinterpret_cast<IMAGE_DOS_HEADER*>(base);
    auto* nt = reinterpret_cast<IMAGE_NT_HEADERS64*>(base + dos->e_lfanew);
    const IMAGE_DATA_DIRECTORY& dir =
        nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
    auto* import = reinterpret_cast<IMAGE_IMPORT_DESCRIPTOR*>(base + dir.VirtualAddress);
    for (; dir.VirtualAddress != 0 && import->Name != 0; ++import) {
        if (_stricmp(reinterpret_cast<char*>(base + import->Name), dll) != 0) {
            continue;
        }
        auto* names = reinterpret_cast<IMAGE_THUNK_DATA64*>(base + import->OriginalFirstThunk);
        auto* slots = reinterpret_cast<IMAGE_THUNK_DATA64*>(base + import->FirstThunk);
        for (; names->u1.AddressOfData != 0; ++names, ++slots) {
            if (IMAGE_SNAP_BY_ORDINAL64(names->u1.Ordinal)) {
                continue;
            }
            auto* byName = reinterpret_cast<IMAGE_IMPORT_BY_NAME*>(base + names->u1.AddressOfData);
            if (std::strcmp(reinterpret_cast<char*>(byName->Name), name) == 0) {
                DWORD old;
                VirtualProtect(&slots->u1.Function, 8, PAGE_READWRITE, &old);
                slots->u1.Function = reinterpret_cast<ULONGLONG>(replacement);
                VirtualProtect(&slots->u1.Function, 8, old, &old);
                return true;
            }
        }
    }
    return false;
}

static Faults faults;
static LONG threadCalls = 0, trimCalls = 0;
static ULONGLONG tickAtInstall = 0;
static LARGE_INTEGER counterAtInstall = {}, counterFrequency = {};

static HANDLE WINAPI RefusingCreateThread(LPSECURITY_ATTRIBUTES security, SIZE_T stack,
                                          LPTHREAD_START_ROUTINE start, LPVOID parameter,
                                          DWORD flags, LPDWORD id) {
    if (InterlockedIncrement(&threadCalls) == faults.failThreadCall) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    return CreateThread(security, stack, start, parameter, flags, id);
}

// The plugin's clock: from tickStart (or the real tick count at the load) on,
// tickSpeed times as fast as the real one. Counted from the performance
// counter, so that a clock that runs fast still moves in steps of a game
// millisecond or so, not of tickSpeed of them.
ULONGLONG PluginClockStart() {
    return faults.tickStart >= 0 ? faults.tickStart : tickAtInstall;
}

ULONGLONG PluginTickCount() {
    if (counterFrequency.QuadPart == 0) { // no plugin loaded: its clock would be the real one
        return GetTickCount64();
    }
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    auto elapsedUs = static_cast<ULONGLONG>((now.QuadPart - counterAtInstall.QuadPart) * 1000000.0 /
                                            counterFrequency.QuadPart);
    return PluginClockStart() + elapsedUs * faults.tickSpeed / 1000;
}

static ULONGLONG WINAPI PluginTickCount64() {
    return PluginTickCount();
}

// Sleeps at least this long on the plugin's clock are reported when they end:
// the memory monitor's pause between two passes is the only one, so each such
// line marks a pass.
constexpr DWORD kReportedSleepMs = 1000;

// The real length of a sleep of ms on the plugin's clock: ms / sleepSpeed,
// rounded up to whole milliseconds. A short sleep (the watcher's 10 ms, the
// worker's 5) thus still gives the core away for a millisecond instead of
// turning into a spin of Sleep(0) that would starve the machine; its thread
// just runs slower on the plugin's clock than it would at full speed. 0 stays
// 0 (a yield, as the player asked), INFINITE stays INFINITE.
static DWORD RealSleepMs(DWORD ms) {
    if (ms == 0 || ms == INFINITE) {
        return ms;
    }
    return static_cast<DWORD>((ms + faults.sleepSpeed - 1) / faults.sleepSpeed);
}

// Sleep is all the plugin waits on while it runs; its one other wait, the
// load's for the window's thread to make the borderless change, belongs to the
// load and keeps its real length.
static void WINAPI FastSleep(DWORD ms) {
    ULONGLONG from = PluginTickCount();
    Sleep(RealSleepMs(ms));
    if (ms >= kReportedSleepMs && ms != INFINITE) {
        Report("sleep: ms=%lu from=%llu to=%llu", ms, from, PluginTickCount());
    }
}

// Reported with the plugin's clock when it asked (tick) and when the answer
// goes back to it (done): the next trim is due 120 s after about the latter.
static BOOL WINAPI ReportedTrim(HANDLE process, SIZE_T minimum, SIZE_T maximum) {
    ULONGLONG tick = PluginTickCount();
    bool fails = InterlockedIncrement(&trimCalls) == faults.failTrimCall;
    BOOL trimmed = fails ? FALSE : SetProcessWorkingSetSize(process, minimum, maximum);
    DWORD error = fails ? ERROR_ACCESS_DENIED : GetLastError();
    Report("trim: tick=%llu min=0x%llX max=0x%llX ok=%d done=%llu", tick,
           static_cast<unsigned long long>(minimum), static_cast<unsigned long long>(maximum),
           fails ? 0 : 1, PluginTickCount());
    SetLastError(error);
    return trimmed;
}

static BOOL WINAPI ToldMemoryStatus(MEMORYSTATUSEX* status) {
    if (faults.freeBytes < 0 || !GlobalMemoryStatusEx(status)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    status->ullAvailPhys = static_cast<DWORDLONG>(faults.freeBytes);
    return TRUE;
}

static BOOL WINAPI RefusingProcessMemoryInfo(HANDLE, PPROCESS_MEMORY_COUNTERS, DWORD) {
    SetLastError(ERROR_ACCESS_DENIED);
    return FALSE;
}

static HRESULT WINAPI RefusingFolderPath(HWND, int, HANDLE, DWORD, LPWSTR path) {
    path[0] = L'\0';
    return E_FAIL;
}

static DWORD WINAPI RefusingModuleFileName(HMODULE, LPWSTR name, DWORD size) {
    if (size > 0) {
        name[0] = L'\0';
    }
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return 0;
}

static HHOOK WINAPI RefusingHook(int, HOOKPROC, HINSTANCE, DWORD) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return nullptr;
}

void InstallFaults(HMODULE plugin, const Faults& told) {
    faults = told;
    tickAtInstall = GetTickCount64();
    QueryPerformanceFrequency(&counterFrequency);
    QueryPerformanceCounter(&counterAtInstall);
    auto hook = [plugin](const char* dll, const char* name, const void* replacement) {
        if (!HookImport(plugin, dll, name, replacement)) {
            Report("faults: the plugin does not import %s", name);
        }
    };
    if (faults.failThreadCall > 0) {
        hook("kernel32.dll", "CreateThread", reinterpret_cast<const void*>(RefusingCreateThread));
    }
    if (faults.tickStart >= 0 || faults.tickSpeed != 1) {
        hook("kernel32.dll", "GetTickCount64", reinterpret_cast<const void*>(PluginTickCount64));
    }
    if (faults.sleepSpeed != 1) {
        hook("kernel32.dll", "Sleep", reinterpret_cast<const void*>(FastSleep));
    }
    // Every trim is reported, failing or not.
    hook("kernel32.dll", "SetProcessWorkingSetSize", reinterpret_cast<const void*>(ReportedTrim));
    if (faults.freeBytes != kSystemAnswers) {
        hook("kernel32.dll", "GlobalMemoryStatusEx",
             reinterpret_cast<const void*>(ToldMemoryStatus));
    }
    if (faults.failProcessQuery) {
        hook("kernel32.dll", "K32GetProcessMemoryInfo",
             reinterpret_cast<const void*>(RefusingProcessMemoryInfo));
    }
    if (faults.failDocuments) {
        hook("shell32.dll", "SHGetFolderPathW", reinterpret_cast<const void*>(RefusingFolderPath));
    }
    if (faults.failHook) {
        hook("user32.dll", "SetWindowsHookExW", reinterpret_cast<const void*>(RefusingHook));
    }
    if (faults.failExePath) {
        hook("kernel32.dll", "GetModuleFileNameW",
             reinterpret_cast<const void*>(RefusingModuleFileName));
    }
}
