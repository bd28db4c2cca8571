#include "standin_survey.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <psapi.h>
#include <string>
#include <tlhelp32.h>
#include <vector>

#include "standin_clock.h"
#include "standin_report.h"

static const DWORD mainThreadId = GetCurrentThreadId();

static double CpuMs(HANDLE thread) {
    FILETIME created, exited, kernel, user;
    if (!GetThreadTimes(thread, &created, &exited, &kernel, &user)) {
        return 0;
    }
    auto ms = [](FILETIME t) {
        return (ULONGLONG(t.dwHighDateTime) << 32 | t.dwLowDateTime) / 1e4;
    };
    return ms(kernel) + ms(user);
}

// Calls visit with the id of each thread of this process.
template <typename Visit> static void ForEachOwnThread(Visit visit) {
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
    THREADENTRY32 entry = {};
    entry.dwSize = sizeof entry;
    for (BOOL more = Thread32First(snapshot, &entry); more; more = Thread32Next(snapshot, &entry)) {
        if (entry.th32OwnerProcessID == GetCurrentProcessId()) {
            visit(entry.th32ThreadID);
        }
    }
    CloseHandle(snapshot);
}

// Counts this process's threads; adds the CPU time of the game's main thread
// and of all the others (the plugin's, once it is loaded).
static int SurveyThreads(double* mainCpuMs = nullptr, double* otherCpuMs = nullptr) {
    int count = 0;
    ForEachOwnThread([&](DWORD id) {
        ++count;
        if (mainCpuMs == nullptr) {
            return;
        }
        HANDLE thread = OpenThread(THREAD_QUERY_LIMITED_INFORMATION, FALSE, id);
        if (thread != nullptr) {
            (id == mainThreadId ? *mainCpuMs : *otherCpuMs) += CpuMs(thread);
            CloseHandle(thread);
        }
    });
    return count;
}

int CountOwnThreads() {
    return SurveyThreads();
}

// Where each of the plugin's threads started, as a crash report names a place:
// module and offset, and the priority each runs at, beside the game's main
// thread's. Wine and Windows both answer the start-address query, and both
// keep a thread's priority (Wine 8 and 10 without scheduling by it).
void ReportPluginThreadStarts(HMODULE plugin) {
    using QueryThread = LONG(WINAPI*)(HANDLE, int, void*, ULONG, ULONG*);
    auto query = reinterpret_cast<QueryThread>(
        GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "NtQueryInformationThread"));
    MODULEINFO module = {};
    if (plugin == nullptr || query == nullptr ||
        !K32GetModuleInformation(GetCurrentProcess(), plugin, &module, sizeof module)) {
        return;
    }
    auto base = reinterpret_cast<std::uintptr_t>(module.lpBaseOfDll);
    std::string starts, priorities;
    ForEachOwnThread([&](DWORD id) {
        HANDLE thread = OpenThread(THREAD_QUERY_INFORMATION, FALSE, id);
        if (thread == nullptr) {
            return;
        }
        std::uintptr_t start = 0;
        constexpr int kThreadQuerySetWin32StartAddress = 9;
        if (query(thread, kThreadQuerySetWin32StartAddress, &start, sizeof start, nullptr) == 0 &&
            start - base < module.SizeOfImage) {
            char place[48];
            std::snprintf(place, sizeof place, " Quellstone.dll+0x%llx",
                          static_cast<unsigned long long>(start - base));
            starts += place;
            priorities += " " + std::to_string(GetThreadPriority(thread));
        }
        CloseHandle(thread);
    });
    Report("plugin-thread-starts:%s", starts.c_str());
    Report("plugin-thread-priorities:%s", priorities.c_str());
    Report("game-thread-priority: %d", GetThreadPriority(GetCurrentThread()));
}

// The handles this process holds. Wine 8 answers GetProcessHandleCount with 0
// whatever is open; the system's table of all handles, which it does fill in,
// is counted then.
static DWORD CountOwnHandles() {
    DWORD count = 0;
    if (GetProcessHandleCount(GetCurrentProcess(), &count) && count > 0) {
        return count;
    }
    struct Entry { // SYSTEM_HANDLE_TABLE_ENTRY_INFO
        ULONG process;
        UCHAR type, flags;
        USHORT handle;
        void* object;
        ACCESS_MASK access;
    };
    struct Table {
        ULONG count;
        Entry entries[1];
    };
    using Query = LONG(WINAPI*)(ULONG, void*, ULONG, ULONG*);
    auto query = reinterpret_cast<Query>(
        GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "NtQuerySystemInformation"));
    constexpr ULONG kSystemHandleInformation = 16;
    constexpr LONG kInfoLengthMismatch = static_cast<LONG>(0xC0000004);
    std::vector<std::uint8_t> buffer(1 << 20);
    LONG status = kInfoLengthMismatch;
    for (int tries = 0; query != nullptr && status == kInfoLengthMismatch && tries < 6; ++tries) {
        ULONG needed = 0;
        status = query(kSystemHandleInformation, buffer.data(), static_cast<ULONG>(buffer.size()),
                       &needed);
        if (status == kInfoLengthMismatch) {
            buffer.resize(std::max<std::size_t>(buffer.size() * 2, needed + 65536));
        }
    }
    if (status != 0) {
        return 0;
    }
    const auto* table = reinterpret_cast<const Table*>(buffer.data());
    for (ULONG i = 0; i < table->count; ++i) {
        count += table->entries[i].process == GetCurrentProcessId();
    }
    return count;
}

// New figures go at the end of the line, so that readers of the older ones
// keep working. game-ms is the plugin's clock, which may run fast.
// The private memory committed in this process, as Windows counts a process's
// commit charge: every committed region of its own, touched or not, walked
// with VirtualQuery. Wine's PagefileUsage counts only the pages in use, so a
// leak that commits and never touches would not show in it.
unsigned long long CommittedPrivateBytes() {
    unsigned long long bytes = 0;
    MEMORY_BASIC_INFORMATION region;
    for (auto* at = static_cast<std::uint8_t*>(nullptr);
         VirtualQuery(at, &region, sizeof region) == sizeof region;
         at = static_cast<std::uint8_t*>(region.BaseAddress) + region.RegionSize) {
        if (region.State == MEM_COMMIT && region.Type == MEM_PRIVATE) {
            bytes += region.RegionSize;
        }
    }
    return bytes;
}

void ReportProcess() {
    DWORD handles = CountOwnHandles(); // before the survey opens any
    PROCESS_MEMORY_COUNTERS_EX counters = {};
    K32GetProcessMemoryInfo(GetCurrentProcess(),
                            reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&counters), sizeof counters);
    MEMORYSTATUSEX memory = {};
    memory.dwLength = sizeof memory;
    GlobalMemoryStatusEx(&memory);
    double mainCpuMs = 0, otherCpuMs = 0;
    int threads = SurveyThreads(&mainCpuMs, &otherCpuMs);
    Report("process: threads=%d ws-kb=%llu pf-kb=%llu free-mb=%llu main-cpu-ms=%.1f "
           "other-cpu-ms=%.1f handles=%lu game-ms=%llu private-kb=%llu",
           threads, static_cast<unsigned long long>(counters.WorkingSetSize / 1024),
           static_cast<unsigned long long>(counters.PagefileUsage / 1024),
           static_cast<unsigned long long>(memory.ullAvailPhys >> 20), mainCpuMs, otherCpuMs,
           handles, PluginTickCount(), CommittedPrivateBytes() / 1024);
}
