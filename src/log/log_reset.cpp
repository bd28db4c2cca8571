#include "log/log_reset.h"

// The system's codes for "no such file" and "no such folder": nothing was
// there to reset. Any other failure means something holds the name.
constexpr std::uint32_t kErrorFileNotFound = 2;
constexpr std::uint32_t kErrorPathNotFound = 3;

static const std::wstring kPrefix = L"Quellstone.log.";
static const std::wstring kSuffix = L".old";

LogResetStep AfterMovingAside(bool moved, std::uint32_t error) {
    if (moved) {
        return LogResetStep::kDeleteMovedFile;
    }
    if (error == kErrorFileNotFound || error == kErrorPathNotFound) {
        return LogResetStep::kNothing;
    }
    return LogResetStep::kEmptyInPlace;
}

std::wstring MovedAsideLogName(std::uint32_t process, std::uint64_t tick) {
    return kPrefix + std::to_wstring(process) + L"-" + std::to_wstring(tick) + kSuffix;
}

// Digits from at on; returns where they end, or npos when there are none.
static std::size_t SkipDigits(const std::wstring& text, std::size_t at) {
    std::size_t start = at;
    while (at < text.size() && text[at] >= L'0' && text[at] <= L'9') {
        ++at;
    }
    return at > start ? at : std::wstring::npos;
}

bool IsMovedAsideLogName(const std::wstring& name) {
    if (!name.starts_with(kPrefix) || !name.ends_with(kSuffix)) {
        return false;
    }
    std::size_t at = SkipDigits(name, kPrefix.size());
    if (at == std::wstring::npos || at >= name.size() || name[at] != L'-') {
        return false;
    }
    return SkipDigits(name, at + 1) == name.size() - kSuffix.size();
}
