#include "log/log_line.h"

#include <cstdio>
#include <cstring>

std::size_t FormatLogTimestamp(const std::tm& localTime, char (&out)[kTimestampBufferSize]) {
    std::size_t length = std::strftime(out, sizeof out, "%Y-%m-%d %H:%M:%S", &localTime);
    out[length] = '\0';
    return length;
}

std::size_t FormatLogMessage(char (&out)[kMessageBufferSize], const char* format,
                             std::va_list args) {
    // The untruncated length that vsnprintf returns is of no use: a longer
    // expansion is simply cut.
    if (std::vsnprintf(out, sizeof out, format, args) < 0) {
        out[0] = '\0';
    }
    return std::strlen(out);
}

// Appends at most limit bytes of text, each line feed as CR LF.
static std::size_t AppendText(char* out, std::size_t at, const char* text, std::size_t limit) {
    for (std::size_t i = 0; i < limit && text[i] != '\0'; ++i) {
        if (text[i] == '\n') {
            out[at++] = '\r';
        }
        out[at++] = text[i];
    }
    return at;
}

std::size_t BuildLogLine(const char* stamp, const char* message, char (&out)[kLineBufferSize]) {
    // The limits keep the line within its buffer whatever the callers pass.
    std::size_t at = 0;
    out[at++] = '[';
    at = AppendText(out, at, stamp, kTimestampBufferSize - 1);
    out[at++] = ']';
    out[at++] = ' ';
    at = AppendText(out, at, message, kMessageBufferSize - 1);
    return AppendText(out, at, "\n", 1);
}
