// The three settings of the CPU worker and the file they come from:
// (game folder)\Data\VELQ\Plugins\Quellstone.ini.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>

struct Settings {
    std::int32_t iterations = 10000; // terms of the summation per active pass
    std::int32_t sleepMs = 5;        // pause after each pass
    bool overlayBatch = true;        // reported once at start
};

// Written only by LoadSettings, on the CPU worker's thread, and read only by
// that thread afterwards.
extern Settings settings;

// The settings file's path. Makes its folder when the game's folder is known.
std::filesystem::path GetIniPath() noexcept;

// Creates the file with the defaults, or reads it; always logs one report line
// and always returns, leaving each setting at its default or a valid value.
void LoadSettings() noexcept;

// --- The reading rules, free of file handling so they can be tested natively.

// Base-10 value of the text after a key's "=": white space, one optional sign,
// digits; the rest is ignored. False when there is no digit or the number does
// not fit in 32 bits, and then *value is not touched.
bool ParseSettingValue(std::string_view text, std::int32_t* value);

// Applies one line (without its line end) when it starts with "Iter=",
// "Sleep=" or "OverlayBatch=" at its very first character; others are ignored.
void ApplySettingsLine(std::string_view line, Settings& into);

// Splits text at line feeds and applies each line; a carriage return is part of
// a line (text mode has already turned CR LF into LF). Keeps an unfinished last
// line in *pending so that text can be fed in chunks; call with final = true
// at the end of the file.
void ApplySettingsText(std::string_view chunk, std::string* pending, bool final, Settings& into);

// The whole path that query gives, asked again with a larger buffer while the
// answer fills the buffer (a path past 259 characters). query(buffer, size)
// returns the length written, size when it had to cut, 0 on failure. Empty on
// failure, or when the path is longer than any Windows path.
std::wstring QueryFullPath(std::uint32_t (*query)(wchar_t* buffer, std::uint32_t size));

// The default file as it lies on disk, 49 bytes: "[Settings]\r\nIter=10000\r\n...".
std::string DefaultSettingsText();
