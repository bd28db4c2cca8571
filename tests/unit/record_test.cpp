#include "plugin/record.h"

#include <cstring>
#include <gtest/gtest.h>

static void PutU32(unsigned char* at, std::uint32_t value) {
    for (int i = 0; i < 4; ++i) {
        at[i] = static_cast<unsigned char>(value >> (8 * i));
    }
}

// The loader reads these bytes before anything of ours runs: check them one by
// one against a layout written out by hand.
TEST(PluginRecord, HasTheExactBytesTheLoaderReads) {
    unsigned char expected[604] = {};
    PutU32(expected + 0, 1);
    PutU32(expected + 4, 1);
    std::memcpy(expected + 8, "Duskhaven Quellstone", 20);
    std::memcpy(expected + 264, "Wrenfold7", 9);
    PutU32(expected + 520, 4);
    PutU32(expected + 524, 8);
    PutU32(expected + 528, 0x010F0DE0);

    ASSERT_EQ(sizeof kPluginRecord, 604u);
    EXPECT_EQ(std::memcmp(&kPluginRecord, expected, 604), 0);
}

TEST(HostCheck, AcceptsOnlyTheExactLoaderVersion) {
    HostInterface supported{0x00020120};
    EXPECT_TRUE(IsSupportedHost(&supported));
    for (std::uint32_t other :
         {0x00020121u, 0x00020110u, 0x00020130u, 0x00030120u, 0u, 0xFFFFFFFFu}) {
        HostInterface host{other};
        EXPECT_FALSE(IsSupportedHost(&host)) << std::hex << other;
    }
    EXPECT_FALSE(IsSupportedHost(nullptr));
}
