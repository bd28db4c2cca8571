#include "standin_trims.h"

#include "standin_clock.h"
#include "standin_imports.h"
#include "standin_report.h"

static int failCall = 0;
static LONG calls = 0;

// Reported with the plugin's clock when it asked (tick) and when the answer
// goes back to it (done): the next trim is due 120 s after about the latter.
static BOOL WINAPI ReportedTrim(HANDLE process, SIZE_T minimum, SIZE_T maximum) {
    ULONGLONG tick = PluginTickCount();
    bool fails = InterlockedIncrement(&calls) == failCall;
    BOOL trimmed = fails ? FALSE : SetProcessWorkingSetSize(process, minimum, maximum);
    DWORD error = fails ? ERROR_ACCESS_DENIED : GetLastError();
    Report("trim: tick=%llu min=0x%llX max=0x%llX ok=%d done=%llu", tick,
           static_cast<unsigned long long>(minimum), static_cast<unsigned long long>(maximum),
           fails ? 0 : 1, PluginTickCount());
    SetLastError(error);
    return trimmed;
}

// Every trim is reported, failing or not.
void InstallTrimReports(HMODULE plugin, int failTrimCall) {
    failCall = failTrimCall;
    HookImportOrReport(plugin, "kernel32.dll", "SetProcessWorkingSetSize",
                       reinterpret_cast<const void*>(ReportedTrim));
}
