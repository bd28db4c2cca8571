// Formatting of one log line, kept apart from file handling so that it can be
// tested natively.
#pragma once

#include <cstdarg>
#include <cstddef>
#include <ctime>

constexpr std::size_t kTimestampBufferSize = 64;
constexpr std::size_t kMessageBufferSize = 512; // at most 511 bytes of message text
// "[" stamp "] " message CR LF, with every line feed of the message doubled to
// CR LF in the worst case.
constexpr std::size_t kLineBufferSize = 1 + kTimestampBufferSize + 2 + 2 * kMessageBufferSize + 2;

// "%Y-%m-%d %H:%M:%S" of the given local time; returns the length written.
std::size_t FormatLogTimestamp(const std::tm& localTime, char (&out)[kTimestampBufferSize]);

// The caller's message, cut after 511 bytes; returns the stored length.
std::size_t FormatLogMessage(char (&out)[kMessageBufferSize], const char* format,
                             std::va_list args);

// The bytes of one line as they reach the file: "[stamp] message" and CR LF,
// each line feed in the message written as CR LF as a text-mode stream would.
std::size_t BuildLogLine(const char* stamp, const char* message, char (&out)[kLineBufferSize]);
