// The tests delete Documents\My Games and point Documents elsewhere in the
// registry: they run only in a throwaway prefix and home folder that
// scripts/lib.sh made and marked, each mark naming the prefix (C: is the
// prefix's own, Documents links to the home folder). Checked before anything
// else: in a contributor's prefix, Documents is their real one.
#include "wine_support.h"

#include <cstdio>

static const char* kRefusal =
    "refusing to run: the Wine prefix and home folder are not a throwaway pair made by "
    "scripts/lib.sh, and the tests delete and rewrite files there; run bash "
    "scripts/with_wine.sh ctest --preset win (or bash scripts/test.sh)";

static bool InThrowaway() {
    wchar_t home[MAX_PATH] = {}; // \??\Z:\... as Wine gives it
    DWORD length = GetEnvironmentVariableW(L"WINEHOMEDIR", home, MAX_PATH);
    std::wstring folders[] = {L"C:", DocumentsFolder(),
                              length > 4 && length < MAX_PATH ? home + 4 : L""};
    std::string prefix = ReadBytes(L"C:\\.quellstone-throwaway");
    for (const std::wstring& folder : folders) {
        if (folder.empty() || ReadBytes(folder + L"\\.quellstone-throwaway") != prefix) {
            return false;
        }
    }
    return !prefix.empty();
}

int main(int argc, char** argv) {
    if (!InThrowaway()) {
        std::puts(kRefusal);
        return 1;
    }
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
