#include "standin_report.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>

#include <windows.h>

std::string Narrow(const std::wstring& text) {
    int size = WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, nullptr, 0, nullptr, nullptr);
    std::string out(size > 0 ? size - 1 : 0, '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, out.data(), size, nullptr, nullptr);
    return out;
}

// One write per line: the plugin's threads report too (trims, sleeps), and
// two lines written at once must not run into each other.
void Report(const char* format, ...) {
    char line[1024];
    va_list args;
    va_start(args, format);
    int length = std::vsnprintf(line, sizeof line - 1, format, args);
    va_end(args);
    length = length < 0 ? 0 : std::min<int>(length, sizeof line - 2);
    line[length] = '\n';
    std::fwrite(line, 1, length + 1, stdout);
    std::fflush(stdout);
}
