#include "window/borderless.h"

#include <gtest/gtest.h>

TEST(Borderless, ClearsOnlyTheFrameBits) {
    constexpr std::uint32_t overlapped = 0x00CF0000, visible = 0x10000000, clip = 0x04000000;
    EXPECT_EQ(BorderlessStyle(overlapped | visible | clip), visible | clip);
    EXPECT_EQ(BorderlessStyle(0xFFFFFFFF), 0xFF30FFFFu);
    EXPECT_EQ(BorderlessStyle(visible), visible); // already frameless: unchanged

    constexpr std::uint32_t topmost = 0x00000008, appWindow = 0x00040000;
    EXPECT_EQ(BorderlessExStyle(0x00020301 | topmost | appWindow), topmost | appWindow);
    EXPECT_EQ(BorderlessExStyle(0xFFFFFFFF), 0xFFFDFCFEu);
}

TEST(Borderless, MovesToOriginKeepingTheOuterSize) {
    WindowPlacement p =
        BorderlessPlacement(true, 1920 + 100, -50, 1920 + 900, 550); // second monitor
    EXPECT_EQ(p.x, 0);
    EXPECT_EQ(p.y, 0);
    EXPECT_EQ(p.width, 800);
    EXPECT_EQ(p.height, 600);
    EXPECT_EQ(p.flags, 0x64u); // no z-order, frame changed, show
}

TEST(Borderless, UnreadableRectangleKeepsTheSize) {
    WindowPlacement p = BorderlessPlacement(false, 0, 0, 0, 0);
    EXPECT_EQ(p.x, 0);
    EXPECT_EQ(p.y, 0);
    EXPECT_EQ(p.flags, 0x64u | 0x01u); // and SWP_NOSIZE
}
