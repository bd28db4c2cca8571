#include "standin_holder.h"

#include <windows.h>

#include "standin_clock.h"
#include "standin_report.h"

static HANDLE held = INVALID_HANDLE_VALUE;

void HoldFile(const std::wstring& path, bool beforeLoad) {
    held = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0,
                       nullptr);
    int ok = held != INVALID_HANDLE_VALUE ? 1 : 0;
    if (beforeLoad) {
        Report("hold: before-load ok=%d", ok);
    } else {
        Report("hold: at=%llu ok=%d", PluginTickCount(), ok);
    }
}

void LetGoOfFile() {
    if (held != INVALID_HANDLE_VALUE) {
        CloseHandle(held);
        held = INVALID_HANDLE_VALUE;
    }
    Report("let-go: at=%llu", PluginTickCount());
}
