// What the stand-in prints for tests: one "key: value" line at a time.
#pragma once

#include <string>

std::string Narrow(const std::wstring& text);
void Report(const char* format, ...) __attribute__((format(printf, 1, 2)));
