#include "settings/settings.h"

#include <cstdio>
#include <string>

static bool IsSpace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

bool ParseSettingValue(std::string_view text, std::int32_t* value) {
    std::size_t i = 0;
    while (i < text.size() && IsSpace(text[i])) {
        ++i;
    }
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
        negative = text[i] == '-';
        ++i;
    }
    // Accumulate the magnitude in 64 bits and stop caring once it is past any
    // 32-bit value, so a run of a thousand digits cannot overflow.
    constexpr std::int64_t kLimit = 2147483648LL; // the magnitude of INT32_MIN
    std::int64_t magnitude = 0;
    bool anyDigit = false;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
        anyDigit = true;
        if (magnitude <= kLimit) {
            magnitude = magnitude * 10 + (text[i] - '0');
        }
    }
    if (!anyDigit || magnitude > (negative ? kLimit : kLimit - 1)) {
        return false;
    }
    *value = static_cast<std::int32_t>(negative ? -magnitude : magnitude);
    return true;
}

void ApplySettingsLine(std::string_view line, Settings& into) {
    std::int32_t value = 0;
    if (line.starts_with("Iter=")) {
        if (ParseSettingValue(line.substr(5), &value)) {
            into.iterations = value;
        }
    } else if (line.starts_with("Sleep=")) {
        if (ParseSettingValue(line.substr(6), &value)) {
            into.sleepMs = value;
        }
    } else if (line.starts_with("OverlayBatch=")) {
        if (ParseSettingValue(line.substr(13), &value)) {
            into.overlayBatch = value != 0;
        }
    }
}

void ApplySettingsText(std::string_view chunk, std::string* pending, bool final, Settings& into) {
    for (;;) {
        std::size_t end = chunk.find('\n');
        if (end == std::string_view::npos) {
            break;
        }
        pending->append(chunk.substr(0, end));
        ApplySettingsLine(*pending, into);
        pending->clear();
        chunk.remove_prefix(end + 1);
    }
    pending->append(chunk);
    // A last line without a line end still counts; a line end at the very end
    // of the file does not start another, empty line.
    if (final && !pending->empty()) {
        ApplySettingsLine(*pending, into);
        pending->clear();
    }
}

std::string DefaultSettingsText() {
    const Settings defaults;
    char text[128];
    std::snprintf(text, sizeof text, "[Settings]\r\nIter=%d\r\nSleep=%d\r\nOverlayBatch=%d\r\n",
                  static_cast<int>(defaults.iterations), static_cast<int>(defaults.sleepMs),
                  defaults.overlayBatch ? 1 : 0);
    return text;
}

std::wstring QueryFullPath(std::uint32_t (*query)(wchar_t* buffer, std::uint32_t size)) {
    constexpr std::uint32_t kLongestPath = 32768;
    std::wstring buffer(260, L'\0');
    for (;;) {
        auto size = static_cast<std::uint32_t>(buffer.size());
        std::uint32_t length = query(buffer.data(), size);
        if (length == 0) {
            return {};
        }
        if (length < size) {
            buffer.resize(length);
            return buffer;
        }
        if (size >= kLongestPath) {
            return {};
        }
        buffer.resize(2 * size);
    }
}
