// The plugin record that the VELQ loader reads before it calls the load entry,
// and the host-version check of the load entry. Plain data, no Windows headers,
// so that the exact bytes can be checked by native unit tests.
#pragma once

#include <cstdint>

// A packed version: major in bits 24-31, minor 16-23, build 4-15, sub-build 0-3.
using HostVersion = std::uint32_t;

constexpr HostVersion MakeHostVersion(unsigned major, unsigned minor, unsigned build,
                                      unsigned sub) {
    return (major & 0xFFu) << 24 | (minor & 0xFFu) << 16 | (build & 0xFFFu) << 4 | (sub & 0xFu);
}

constexpr HostVersion kSupportedLoaderVersion = MakeHostVersion(0, 2, 18, 0); // 0x00020120
constexpr HostVersion kSupportedGameVersion = MakeHostVersion(1, 15, 222, 0); // 0x010F0DE0

// Laid out exactly as the loader expects: 604 bytes, little-endian, no padding.
struct PluginVersionRecord {
    std::uint32_t firstWord;
    std::uint32_t secondWord;
    char name[256];
    char author[256];
    std::uint32_t thirdWord;
    std::uint32_t fourthWord;
    HostVersion gameVersions[16];
    std::uint32_t fifthWord;
    std::uint32_t sixthWord;
    std::uint32_t seventhWord;
};
static_assert(sizeof(PluginVersionRecord) == 604, "the loader reads exactly 604 bytes");

constexpr PluginVersionRecord kPluginRecord = {
    1, 1, "Duskhaven Quellstone", "Wrenfold7", 4, 8, {kSupportedGameVersion}, 0, 0, 0,
};

// The part of the loader's interface that the plugin reads: its own version.
struct HostInterface {
    HostVersion loaderVersion;
};

// Exact equality on the whole word: a loader of any other version, even one
// differing only in the sub-build, may lay out its interface differently.
inline bool IsSupportedHost(const HostInterface* host) {
    return host != nullptr && host->loaderVersion == kSupportedLoaderVersion;
}
