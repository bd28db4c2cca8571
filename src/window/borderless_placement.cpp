#include "window/borderless.h"

constexpr unsigned kNoSize = 0x01, kNoZOrder = 0x04, kFrameChanged = 0x20, kShowWindow = 0x40;

WindowPlacement BorderlessPlacement(bool rectKnown, int left, int top, int right, int bottom) {
    unsigned flags = kNoZOrder | kFrameChanged | kShowWindow;
    if (!rectKnown) {
        return {0, 0, 0, 0, flags | kNoSize};
    }
    // Signed 32-bit differences; right and bottom of a real window never sit
    // far enough from left and top to overflow.
    return {0, 0, right - left, bottom - top, flags};
}
