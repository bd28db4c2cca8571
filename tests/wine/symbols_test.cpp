// What a crash logger makes of our DLL: it finds Quellstone.pdb through the
// DLL's debug record and turns module+offset places into our functions' names.
#include "wine_support.h"

#include <dbghelp.h>
#include <gtest/gtest.h>

#include <sstream>

using Symbols = GameTest;

// The name dbghelp gives an address, as a crash report prints it.
static std::string SymbolAt(DWORD64 address) {
    alignas(SYMBOL_INFOW) char buffer[sizeof(SYMBOL_INFOW) + 256 * sizeof(wchar_t)] = {};
    auto* symbol = reinterpret_cast<SYMBOL_INFOW*>(buffer);
    symbol->SizeOfStruct = sizeof(SYMBOL_INFOW);
    symbol->MaxNameLen = 256;
    DWORD64 displacement = 0;
    if (!SymFromAddrW(GetCurrentProcess(), address, &displacement, symbol)) {
        return "(none)";
    }
    return fs::path(symbol->Name).string();
}

TEST_F(Symbols, ACrashReportNamesTheLoadEntryAndEachThreadOfOurs) {
    // The places where the game's own run of the plugin started its threads.
    GameRun run = RunGame(game, L"--virtual-clock");
    std::istringstream places(run.Value("plugin-thread-starts"));
    std::vector<DWORD64> offsets;
    for (std::string place; places >> place;) {
        ASSERT_TRUE(place.starts_with("Quellstone.dll+0x")) << place;
        offsets.push_back(std::stoull(place.substr(17), nullptr, 16));
    }
    ASSERT_EQ(offsets.size(), 3u) << run.output;

    // A crash logger's view: the same DLL, its PDB found beside it.
    std::wstring dll = BuildFolder() + L"\\Quellstone.dll";
    HMODULE plugin = LoadLibraryW(dll.c_str());
    ASSERT_NE(plugin, nullptr);
    auto base = reinterpret_cast<DWORD64>(plugin);
    SymSetOptions(SYMOPT_UNDNAME | SYMOPT_FAIL_CRITICAL_ERRORS);
    ASSERT_TRUE(SymInitializeW(GetCurrentProcess(), BuildFolder().c_str(), FALSE));
    ASSERT_EQ(
        SymLoadModuleExW(GetCurrentProcess(), nullptr, dll.c_str(), nullptr, base, 0, nullptr, 0),
        base);
    IMAGEHLP_MODULEW64 module = {};
    module.SizeOfStruct = sizeof module;
    ASSERT_TRUE(SymGetModuleInfoW64(GetCurrentProcess(), base, &module));
    EXPECT_EQ(module.SymType, SymPdb);

    auto load = reinterpret_cast<DWORD64>(GetProcAddress(plugin, "VELQPlugin_Load"));
    EXPECT_EQ(SymbolAt(load), "VELQPlugin_Load");
    std::vector<std::string> threads;
    for (DWORD64 offset : offsets) {
        EXPECT_EQ(SymbolAt(base + offset + 1), SymbolAt(base + offset)) << "inside the function";
        threads.push_back(SymbolAt(base + offset));
    }
    std::sort(threads.begin(), threads.end());
    EXPECT_EQ(threads, (std::vector<std::string>{"ActivityWatcherThread", "CpuWorkerThread",
                                                 "MemoryMonitorThread"}));
    SymCleanup(GetCurrentProcess());
    FreeLibrary(plugin);
}
