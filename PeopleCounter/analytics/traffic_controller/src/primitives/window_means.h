#pragma once

#include <cstdint>
#include <vector>

#include "CommonUtilities/algorithm_support/mem_manager.h"
#include "PeopleCounter/analytics/traffic_controller/src/primitives/fast_uint_divider.h"

namespace AlgoLibrary {

// Turns the sum of a window of `area` pixels into their mean, rounded half up.
struct FastUintDividerSmoothingPixelFunction {
    // Prepares the division by the window's pixel count; refuses 0.
    bool Init(uint32_t window_area)
    {
        m_half = window_area / 2;
        return m_divider.InitDivider(window_area);
    }

    unsigned char operator()(uint32_t sum) const { return static_cast<unsigned char>(m_divider.Divide(sum + m_half)); }

    const FastUintDivider<32>& Divider() const { return m_divider; }
    uint32_t Half() const { return m_half; }

private:
    FastUintDivider<32> m_divider;
    uint32_t m_half = 0;
};

// The largest window side of CalcWindowMeans; larger requests are cut to it.
constexpr int kMaxWindowMeansSide = 64;

// Mean of the s x s block centred on every pixel (s = min(window, 64); left and top halves s / 2),
// with the edge pixels replicated beyond every border. src and dst may be the same buffer; both
// have the stride equal to the width. The sums of rows live in `scratch`, which only grows.
// Returns false and writes nothing when a pointer is null, s <= 2, s >= width or s >= height.
template <typename TSrc, typename TDst, typename TPixelFunction>
bool CalcWindowMeans(const TSrc* src, TDst* dst, TPixelFunction pixel_function, int width, int height, int window,
                     std::vector<char>& scratch);

// 3 x 3 mean (sum / 9, truncated) from src into dst for rows first_row <= y < end_row and columns
// 1 .. width - 2. A first or end row outside 1 .. height - 1 is replaced by 1 and height - 1. Other
// pixels of dst are not written. dst must hold width x height pixels, like src.
void filter_smoothness(const avector<unsigned char>& src, avector<unsigned char>& dst, int width, int height,
                       int first_row, int end_row);

}  // namespace AlgoLibrary
