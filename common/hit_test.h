#pragma once
// Rectangles of integer pixels and the platform's point-in-rectangle rule,
// shared by every editor that hit-tests what it drew itself.

#include <cstdint>

namespace geom {

struct RectI {
    int32_t left = 0;
    int32_t top = 0;
    int32_t right = 0;
    int32_t bottom = 0;
    bool operator==(const RectI&) const = default;
};

// True when (x, y) lies in `rect`: left and top edges inside, right and
// bottom edges outside (unlike QRect::contains, whose right edge is inside).
inline bool RectHitTest(const RectI& rect, int64_t x, int64_t y)
{
    return x >= rect.left && x < rect.right && y >= rect.top && y < rect.bottom;
}

}  // namespace geom
