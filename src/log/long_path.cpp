#include "log/long_path.h"

#include <vector>
#include <windows.h>

std::wstring LongPath(const std::filesystem::path& path) {
    const std::wstring& given = path.native();
    // GetFullPathNameW does no file access and takes a path of any length; it
    // answers with the length it needs, its NUL counted, when the buffer is
    // too small, and the folder it resolves against may change in between.
    std::wstring full(given.size() + MAX_PATH, L'\0');
    for (int tries = 0; tries < 3; ++tries) {
        DWORD length =
            GetFullPathNameW(given.c_str(), static_cast<DWORD>(full.size()), full.data(), nullptr);
        if (length == 0) {
            break;
        }
        if (length < full.size()) {
            full.resize(length);
            return ExtendedLengthForm(full);
        }
        full.resize(length);
    }
    return given;
}

static bool IsFolder(const std::wstring& path) {
    DWORD attributes = GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

static bool MakeFolder(const std::wstring& path) {
    return CreateDirectoryW(path.c_str(), nullptr) ||
           (GetLastError() == ERROR_ALREADY_EXISTS && IsFolder(path));
}

bool MakeFolderChain(const std::wstring& folder) {
    if (IsFolder(folder)) {
        return true;
    }
    // Climbs while a level's parent is missing, then makes the missing
    // levels downwards: no level is asked about twice, and the climb stops at
    // the root, which is never made.
    std::size_t root = ExtendedRootLength(folder);
    std::vector<std::size_t> missing; // where each missing level's name ends
    std::size_t end = folder.size();
    while (!CreateDirectoryW(folder.substr(0, end).c_str(), nullptr)) {
        DWORD error = GetLastError();
        if (error == ERROR_ALREADY_EXISTS && IsFolder(folder.substr(0, end))) {
            break; // made meanwhile by another thread or program
        }
        std::size_t parent = folder.rfind(L'\\', end - 1);
        if (error != ERROR_PATH_NOT_FOUND || root == 0 || parent == std::wstring::npos ||
            parent < root) {
            return false; // refused, a file in the way, or no level left to make
        }
        missing.push_back(end);
        end = parent;
    }
    for (auto level = missing.rbegin(); level != missing.rend(); ++level) {
        if (!MakeFolder(folder.substr(0, *level))) {
            return false;
        }
    }
    return true;
}
