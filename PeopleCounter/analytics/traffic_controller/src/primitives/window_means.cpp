#include "PeopleCounter/analytics/traffic_controller/src/primitives/window_means.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <opencv2/core.hpp>
#include <opencv2/core/hal/intrin.hpp>

#include "CommonUtilities/algorithm_support/kernel_path.h"
#include "PeopleCounter/analytics/traffic_controller/src/primitives/simd_divide.h"

namespace AlgoLibrary {

namespace {

// Sum of the s samples x - s/2 .. x - s/2 + s - 1 of a row for every x, with the edge samples
// replicated beyond both ends; s < width.
void RowWindowSums(const unsigned char* row, int width, int s, uint32_t* sums)
{
    const int left = s / 2;
    const int right = s - left - 1;
    uint32_t sum = 0;
    for (int i = -left; i <= right; ++i) sum += row[std::clamp(i, 0, width - 1)];
    sums[0] = sum;
    // While the window's left end lies beyond the first sample, the first sample leaves; once its
    // right end lies beyond the last sample, the last sample enters.
    int x = 1;
    for (; x <= left; ++x) {
        sum += static_cast<uint32_t>(row[x + right]) - row[0];
        sums[x] = sum;
    }
    for (; x < width - right; ++x) {
        sum += static_cast<uint32_t>(row[x + right]) - row[x - 1 - left];
        sums[x] = sum;
    }
    for (; x < width; ++x) {
        sum += static_cast<uint32_t>(row[width - 1]) - row[x - 1 - left];
        sums[x] = sum;
    }
}

// column_sums += entering - leaving, then dst = pixel_function(column_sums), over one row.
int UpdateAndDivideScalar(uint32_t* column_sums, const uint32_t* entering, const uint32_t* leaving, unsigned char* dst,
                          int begin, int width, const FastUintDividerSmoothingPixelFunction& pixel_function)
{
    for (int x = begin; x < width; ++x) {
        column_sums[x] = column_sums[x] + entering[x] - leaving[x];
        dst[x] = pixel_function(column_sums[x]);
    }
    return width;
}

#if CV_SIMD
// The vectorised part of UpdateAndDivideScalar; returns the first column it left undone.
int UpdateAndDivideSimd(uint32_t* column_sums, const uint32_t* entering, const uint32_t* leaving, unsigned char* dst,
                        int width, const FastUintDividerSmoothingPixelFunction& pixel_function)
{
    if (!SimdUintDivider::Supports(pixel_function.Divider()))
        return 0;
    const SimdUintDivider divider(pixel_function.Divider());
    const cv::v_uint32 half = cv::vx_setall_u32(pixel_function.Half());
    const int step = cv::v_uint8::nlanes;
    const int lanes = cv::v_uint32::nlanes;
    int x = 0;
    for (; x + step <= width; x += step) {
        cv::v_uint32 quotients[4];
        for (int part = 0; part < 4; ++part) {
            const int at = x + part * lanes;
            const cv::v_uint32 sum =
                cv::vx_load(column_sums + at) + cv::vx_load(entering + at) - cv::vx_load(leaving + at);
            cv::v_store(column_sums + at, sum);
            quotients[part] = divider.Divide(sum + half);  // sums stay below 2^21
        }
        cv::v_store(dst + x, NarrowToBytes(quotients[0], quotients[1], quotients[2], quotients[3]));
    }
    return x;
}
#endif

}  // namespace

template <>
bool CalcWindowMeans<unsigned char, unsigned char, FastUintDividerSmoothingPixelFunction>(
    const unsigned char* src, unsigned char* dst, FastUintDividerSmoothingPixelFunction pixel_function, int width,
    int height, int window, std::vector<char>& scratch)
{
    const int s = std::min(window, kMaxWindowMeansSide);
    if (!src || !dst || s <= 2 || s >= width || s >= height)
        return false;
    if (!pixel_function.Init(static_cast<uint32_t>(s * s)))
        return false;

    // Layout: a ring of s + 1 rows of row sums (the row entering the window and the one leaving it
    // never share a slot), then one row of column sums; rows padded to 16 bytes.
    const int slots = s + 1;
    const std::size_t row_ints = (static_cast<std::size_t>(width) + 3) & ~std::size_t{3};
    const std::size_t needed = ((static_cast<std::size_t>(slots) + 1) * row_ints + 4) * sizeof(uint32_t) + 16;
    if (scratch.size() < needed)
        scratch.resize(needed);
    const auto base = reinterpret_cast<std::uintptr_t>(scratch.data());
    uint32_t* const ring = reinterpret_cast<uint32_t*>((base + 15) & ~std::uintptr_t{15});
    uint32_t* const column_sums = ring + static_cast<std::size_t>(slots) * row_ints;
    // The slot of window row r; r runs from -s/2 to height - 1 + s, rows beyond the image holding
    // the sums of the nearest image row.
    const auto ring_row = [&](int r) {
        return ring + static_cast<std::size_t>((r % slots + slots) % slots) * row_ints;
    };
    const auto src_row = [&](int r) {
        return src + static_cast<std::size_t>(std::clamp(r, 0, height - 1)) * static_cast<std::size_t>(width);
    };

    const int top = s / 2;
    const int bottom = s - top - 1;  // window rows below the centre
    std::fill(column_sums, column_sums + width, 0u);
    for (int r = -top; r <= bottom; ++r) {
        uint32_t* slot = ring_row(r);
        RowWindowSums(src_row(r), width, s, slot);
        for (int x = 0; x < width; ++x) column_sums[x] += slot[x];
    }
    for (int x = 0; x < width; ++x) dst[x] = pixel_function(column_sums[x]);

    const AlgoLibrary::KernelPath path = AlgoLibrary::ActiveKernelPath();
    for (int y = 1; y < height; ++y) {
        // Row y + bottom enters the window, row y - 1 - top leaves it. The entering row is read
        // before any output row at or below it is written, so src and dst may coincide.
        uint32_t* entering = ring_row(y + bottom);
        const uint32_t* leaving = ring_row(y - 1 - top);
        RowWindowSums(src_row(y + bottom), width, s, entering);
        unsigned char* out = dst + static_cast<std::size_t>(y) * static_cast<std::size_t>(width);
        int x = 0;
#if CV_SIMD
        if (path == AlgoLibrary::KernelPath::kVector)
            x = UpdateAndDivideSimd(column_sums, entering, leaving, out, width, pixel_function);
#else
        (void)path;
#endif
        UpdateAndDivideScalar(column_sums, entering, leaving, out, x, width, pixel_function);
    }
    return true;
}

void filter_smoothness(const avector<unsigned char>& src, avector<unsigned char>& dst, int width, int height,
                       int first_row, int end_row)
{
    if (width <= 2 || height <= 0)
        return;
    const std::size_t pixels = static_cast<std::size_t>(width) * static_cast<std::size_t>(height);
    if (src.size() < pixels || dst.size() < pixels)
        return;
    const int first = (first_row >= 1 && first_row <= height - 1) ? first_row : 1;
    const int end = (end_row >= 1 && end_row <= height - 1) ? end_row : height - 1;
    const AlgoLibrary::KernelPath path = AlgoLibrary::ActiveKernelPath();
    for (int y = first; y < end; ++y) {
        const unsigned char* above = src.data() + static_cast<std::size_t>(y - 1) * width;
        const unsigned char* row = above + width;
        const unsigned char* below = row + width;
        unsigned char* out = dst.data() + static_cast<std::size_t>(y) * width;
        int x = 1;
#if CV_SIMD
        if (path == AlgoLibrary::KernelPath::kVector) {
            // Columns x - 1 .. x + 1 of three rows summed in 16 bits (at most 2295); the division
            // by 9 is (sum * 7282) >> 16, exact for sums up to 2295.
            const int step = cv::v_uint16::nlanes;
            const cv::v_uint16 nine_reciprocal = cv::vx_setall_u16(7282);
            for (; x + step + 1 <= width; x += step) {
                cv::v_uint16 sum = cv::vx_load_expand(above + x - 1) + cv::vx_load_expand(row + x - 1) +
                                   cv::vx_load_expand(below + x - 1);
                sum += cv::vx_load_expand(above + x) + cv::vx_load_expand(row + x) + cv::vx_load_expand(below + x);
                sum += cv::vx_load_expand(above + x + 1) + cv::vx_load_expand(row + x + 1) +
                       cv::vx_load_expand(below + x + 1);
                cv::v_pack_store(out + x, cv::v_mul_hi(sum, nine_reciprocal));
            }
        }
#else
        (void)path;
#endif
        for (; x < width - 1; ++x) {
            const int sum = above[x - 1] + above[x] + above[x + 1] + row[x - 1] + row[x] + row[x + 1] + below[x - 1] +
                            below[x] + below[x + 1];
            out[x] = static_cast<unsigned char>(sum / 9);
        }
    }
}

}  // namespace AlgoLibrary
