#include "window/borderless.h"

#include <gtest/gtest.h>

// The styles and the move are checked on real windows under Wine; a rectangle
// that cannot be read cannot be made there.
TEST(Borderless, UnreadableRectangleMovesButKeepsTheSize) {
    WindowPlacement p = BorderlessPlacement(false, 0, 0, 0, 0);
    EXPECT_EQ(p.x, 0);
    EXPECT_EQ(p.y, 0);
    EXPECT_EQ(p.flags, 0x64u | 0x01u); // no z-order, frame changed, show, and no size
}
