#include "standin_imports.h"

#include <cstdint>
#include <cstring>

#include "standin_report.h"

const void* HookImport(HMODULE plugin, const char* dll, const char* name, const void* replacement) {
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
                auto previous = reinterpret_cast<const void*>(slots->u1.Function);
                slots->u1.Function = reinterpret_cast<ULONGLONG>(replacement);
                VirtualProtect(&slots->u1.Function, 8, old, &old);
                return previous;
            }
        }
    }
    return nullptr;
}

const void* HookImportOrReport(HMODULE plugin, const char* dll, const char* name,
                               const void* replacement) {
    const void* previous = HookImport(plugin, dll, name, replacement);
    if (previous == nullptr) {
        Report("faults: the plugin does not import %s", name);
    }
    return previous;
}
