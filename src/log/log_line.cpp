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

static std::size_t AppendText(char* out, std::size_t at, const char* text) {
    for (; *text != '\0'; ++text) {
        if (*text == '\n') {
            out[at++] = '\r';
        }
        out[at++] = *text;
    }
    return at;
}

std::size_t BuildLogLine(const char* stamp, const char* message, char (&out)[kLineBufferSize]) {
    // Bounded by the buffer sizes of stamp and message, which the callers use.
    char safeStamp[kTimestampBufferSize];
    std::snprintf(safeStamp, sizeof safeStamp, "%s", stamp);
    char safeMessage[kMessageBufferSize];
    std::snprintf(safeMessage, sizeof safeMessage, "%s", message);

    std::size_t at = 0;
    out[at++] = '[';
    at = AppendText(out, at, safeStamp);
    out[at++] = ']';
    out[at++] = ' ';
    at = AppendText(out, at, safeMessage);
    return AppendText(out, at, "\n");
}
