#pragma once

#include <algorithm>
#include <cstdint>
#include <opencv2/core.hpp>

namespace tracker {

// Visits the pixels of the disc around `centre` (distance at most radius + 0.5), clipped to a
// picture of `size`, row by row from the top and left to right. `visit(x, y)` returns false to
// stop the walk; the function returns false when it was stopped.
template <typename Visitor>
bool ForEachDiscPixel(const cv::Point& centre, int radius, const cv::Size& size, Visitor&& visit)
{
    const int64_t r = radius;
    const int64_t limit = r * r + r;  // d^2 <= (r + 0.5)^2 for integer d^2
    const int64_t x_left = std::max<int64_t>(int64_t{centre.x} - r, 0);
    const int64_t x_right = std::min<int64_t>(int64_t{centre.x} + r, int64_t{size.width} - 1);
    const int64_t y_top = std::max<int64_t>(int64_t{centre.y} - r, 0);
    const int64_t y_bottom = std::min<int64_t>(int64_t{centre.y} + r, int64_t{size.height} - 1);
    for (int64_t y = y_top; y <= y_bottom; ++y) {
        const int64_t dy = y - centre.y;
        for (int64_t x = x_left; x <= x_right; ++x) {
            const int64_t dx = x - centre.x;
            if (dx * dx + dy * dy > limit)
                continue;
            if (!visit(static_cast<int>(x), static_cast<int>(y)))
                return false;
        }
    }
    return true;
}

}  // namespace tracker
