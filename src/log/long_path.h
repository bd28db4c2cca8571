// Paths as Windows' file functions take them past MAX_PATH, for the log and
// the settings file alike.
//
// A game's executable carries no long-path manifest, so Windows' file
// functions refuse a path of MAX_PATH (260) characters or more, and
// CreateDirectoryW one of 248 or more, unless it is in the extended-length
// form "\\?\C:\..." or "\\?\UNC\server\share\..." (Microsoft, "Maximum Path
// Length Limitation"). A game folder or a Documents folder deep enough (a
// synced company folder, say) would otherwise lose the settings file or every
// line of the log. The extended form is passed to the file system as it is,
// with no clean-up of "..", "." or "/", so it is built from the full path
// that the system itself has normalised.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

// The extended-length form of a full, normalised path: "C:\x" becomes
// "\\?\C:\x", "\\server\share\x" becomes "\\?\UNC\server\share\x". A path
// already in that form, a device path ("\\.\"), and anything that is not a
// full path are returned as they are.
std::wstring ExtendedLengthForm(std::wstring_view fullPath);

// The length of the root of an extended-length path, the part no folder can
// be made of: "\\?\C:\" or "\\?\UNC\server\share\". 0 for any other path.
std::size_t ExtendedRootLength(std::wstring_view path);

// The file named name in the folder of path ("C:\a\b.log", "c.old" gives
// "C:\a\c.old"); name alone when path names no folder.
std::wstring SiblingPath(std::wstring_view path, std::wstring_view name);

#ifdef _WIN32
#include <filesystem>

// The path as the plugin hands it to every file function: full, normalised by
// the system, in the extended-length form. A path the system cannot make full
// is returned as it is.
std::wstring LongPath(const std::filesystem::path& path);

// Makes folder (as LongPath gives it) and every missing level above it; true
// when the whole chain then stands as folders. One look when it is there.
bool MakeFolderChain(const std::wstring& folder);
#endif
