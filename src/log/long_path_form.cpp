#include "log/long_path.h"

static constexpr std::wstring_view kExtendedPrefix = L"\\\\?\\";   // "\\?\"
static constexpr std::wstring_view kExtendedUnc = L"\\\\?\\UNC\\"; // "\\?\UNC\"
static constexpr std::wstring_view kDevicePrefix = L"\\\\.\\";     // "\\.\"

static bool IsDriveLetter(wchar_t c) {
    return (c >= L'A' && c <= L'Z') || (c >= L'a' && c <= L'z');
}

// "C:\" and what follows.
static bool IsFullDrivePath(std::wstring_view path) {
    return path.size() >= 3 && IsDriveLetter(path[0]) && path[1] == L':' && path[2] == L'\\';
}

std::wstring ExtendedLengthForm(std::wstring_view fullPath) {
    if (fullPath.starts_with(kExtendedPrefix) || fullPath.starts_with(kDevicePrefix)) {
        return std::wstring(fullPath);
    }
    if (IsFullDrivePath(fullPath)) {
        return std::wstring(kExtendedPrefix) + std::wstring(fullPath);
    }
    // A share: "\\server\share\..." with a server name, not "\\\" or "\\".
    if (fullPath.size() > 2 && fullPath.starts_with(L"\\\\") && fullPath[2] != L'\\') {
        return std::wstring(kExtendedUnc) + std::wstring(fullPath.substr(2));
    }
    return std::wstring(fullPath);
}

// The end of the name that starts at from, past its backslash; npos when the
// name is empty or has no backslash after it.
static std::size_t PastName(std::wstring_view path, std::size_t from) {
    std::size_t end = path.find(L'\\', from);
    return end == std::wstring_view::npos || end == from ? std::wstring_view::npos : end + 1;
}

std::size_t ExtendedRootLength(std::wstring_view path) {
    if (path.starts_with(kExtendedUnc)) {
        std::size_t server = PastName(path, kExtendedUnc.size());
        if (server == std::wstring_view::npos) {
            return 0;
        }
        std::size_t share = PastName(path, server);
        return share == std::wstring_view::npos ? 0 : share;
    }
    if (path.starts_with(kExtendedPrefix) && IsFullDrivePath(path.substr(kExtendedPrefix.size()))) {
        return kExtendedPrefix.size() + 3;
    }
    return 0;
}

std::wstring SiblingPath(std::wstring_view path, std::wstring_view name) {
    std::size_t folderEnd = path.find_last_of(L'\\');
    std::wstring sibling(path.substr(0, folderEnd == std::wstring_view::npos ? 0 : folderEnd + 1));
    return sibling.append(name);
}
