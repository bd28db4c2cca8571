// The tests delete Documents\My Games and point Documents elsewhere in the
// registry: they run only in a throwaway prefix and home folder that
// scripts/lib.sh made and marked, each mark naming the prefix (C: is the
// prefix's own). Checked before anything else: in a contributor's prefix,
// Documents is their real one.
#include "wine_support.h"

#include <cstdio>

int main(int argc, char** argv) {
    wchar_t home[MAX_PATH] = {}; // \??\Z:\... as Wine gives it
    DWORD length = GetEnvironmentVariableW(L"WINEHOMEDIR", home, MAX_PATH);
    std::string prefix = ReadBytes(L"C:\\.quellstone-throwaway");
    bool marked = !prefix.empty() && length > 4 && length < MAX_PATH;
    for (const std::wstring& folder : {DocumentsFolder(), std::wstring(home + 4)}) {
        marked =
            marked && !folder.empty() && ReadBytes(folder + L"\\.quellstone-throwaway") == prefix;
    }
    if (!marked) {
        std::puts("refusing to run: the Wine prefix and home folder are not a throwaway pair made "
                  "by scripts/lib.sh, and the tests delete and rewrite files there; run bash "
                  "scripts/with_wine.sh ctest --preset win (or bash scripts/test.sh)");
        return 1;
    }
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
