// The refusing stand-ins: each fails as the system would when it runs short,
// or tells what a test says.
#include "standin_faults.h"

#include <psapi.h>
#include <shlobj.h>

#include "standin_imports.h"

static Faults faults;
static LONG threadCalls = 0;

static HANDLE WINAPI RefusingCreateThread(LPSECURITY_ATTRIBUTES security, SIZE_T stack,
                                          LPTHREAD_START_ROUTINE start, LPVOID parameter,
                                          DWORD flags, LPDWORD id) {
    if (InterlockedIncrement(&threadCalls) == faults.failThreadCall) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    return CreateThread(security, stack, start, parameter, flags, id);
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

static BOOL WINAPI LeakingProcessMemoryInfo(HANDLE process, PPROCESS_MEMORY_COUNTERS counters,
                                            DWORD size) {
    VirtualAlloc(nullptr, SIZE_T(faults.leakKbPerQuery) * 1024, MEM_RESERVE | MEM_COMMIT,
                 PAGE_READWRITE);
    return K32GetProcessMemoryInfo(process, counters, size);
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
    auto hook = [plugin](const char* dll, const char* name, const void* replacement) {
        HookImportOrReport(plugin, dll, name, replacement);
    };
    if (faults.failThreadCall > 0) {
        hook("kernel32.dll", "CreateThread", reinterpret_cast<const void*>(RefusingCreateThread));
    }
    if (faults.freeBytes != kSystemAnswers) {
        hook("kernel32.dll", "GlobalMemoryStatusEx",
             reinterpret_cast<const void*>(ToldMemoryStatus));
    }
    if (faults.leakKbPerQuery > 0) {
        hook("kernel32.dll", "K32GetProcessMemoryInfo",
             reinterpret_cast<const void*>(LeakingProcessMemoryInfo));
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
