#pragma once

#include <cstdint>

namespace kiv {

// The format of the frames a counter is about to receive, given once before the first frame.
struct VideoFormat {
    int32_t width;  // one view of a stereo pair
    int32_t height;
    int32_t bytes_per_pixel;
    int32_t bytes_per_line;
    int32_t row_order;
    int32_t pixel_format;
};

}  // namespace kiv
