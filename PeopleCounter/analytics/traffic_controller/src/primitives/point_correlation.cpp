#include "PeopleCounter/analytics/traffic_controller/src/primitives/point_correlation.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <opencv2/core.hpp>
#include <opencv2/core/hal/intrin.hpp>

#include "CommonUtilities/algorithm_support/kernel_path.h"
#include "CommonUtilities/algorithm_support/kiv_exception.h"

namespace Correlation {

namespace {

constexpr int kHalf = 7;        // the windows are 15 x 15
constexpr int kMaxOffset = 21;  // points this far apart on an axis are never compared
constexpr int kKept = 180;      // differences summed by the trimmed median

int ImageHeight(int width, const avector<unsigned char>& A, const avector<unsigned char>& B)
{
    if (width <= 0)
        return 0;
    return static_cast<int>(std::min(A.size(), B.size()) / static_cast<std::size_t>(width));
}

// The 15 x 15 window around p lies inside the image.
bool WindowInside(const AlgoLibrary::TPoint<int>& p, int width, int height)
{
    return p.x >= kHalf && p.x < width - kHalf && p.y >= kHalf && p.y < height - kHalf;
}

bool Comparable(int width, int height, const AlgoLibrary::TPoint<int>& a, const AlgoLibrary::TPoint<int>& b)
{
    return std::abs(a.x - b.x) < kMaxOffset && std::abs(a.y - b.y) < kMaxOffset && WindowInside(a, width, height) &&
           WindowInside(b, width, height);
}

}  // namespace

namespace detail {

bool WindowDifference(const unsigned char* wa, const unsigned char* wb, int width, AlgoLibrary::KernelPath path,
                      int64_t& sa, int64_t& sb, int64_t& difference)
{
    constexpr int kSide = 2 * kHalf + 1;
#if CV_SIMD128
    if (path == AlgoLibrary::KernelPath::kVector) {
        // Each 15-byte row is read as its bytes 0..7 and 7..14, byte 7 masked out of the second
        // half, so that no byte after the row is read (the last row may end the image).
        const cv::v_uint16x8 keep_high(0, 0xFFFF, 0xFFFF, 0xFFFF, 0xFFFF, 0xFFFF, 0xFFFF, 0xFFFF);
        const auto load_row = [&keep_high](const unsigned char* row, cv::v_uint16x8 halves[2]) {
            halves[0] = cv::v_load_expand(row);
            halves[1] = cv::v_load_expand(row + kHalf) & keep_high;
        };
        cv::v_uint16x8 sum_a = cv::v_setzero_u16(), sum_b = cv::v_setzero_u16();
        for (int y = 0; y < kSide; ++y) {
            cv::v_uint16x8 a[2], b[2];
            load_row(wa + static_cast<std::ptrdiff_t>(y) * width, a);
            load_row(wb + static_cast<std::ptrdiff_t>(y) * width, b);
            sum_a += a[0] + a[1];
            sum_b += b[0] + b[1];
        }
        sa = cv::v_reduce_sum(sum_a);
        sb = cv::v_reduce_sum(sum_b);
        if (sa == 0 || sb == 0)
            return false;
        // Products of a pixel and a window sum stay below 2^24, 15 of them below 2^28.
        const cv::v_uint16x8 vsa = cv::v_setall_u16(static_cast<unsigned short>(sa));
        const cv::v_uint16x8 vsb = cv::v_setall_u16(static_cast<unsigned short>(sb));
        cv::v_uint32x4 acc[4] = {cv::v_setzero_u32(), cv::v_setzero_u32(), cv::v_setzero_u32(), cv::v_setzero_u32()};
        for (int y = 0; y < kSide; ++y) {
            cv::v_uint16x8 a[2], b[2];
            load_row(wa + static_cast<std::ptrdiff_t>(y) * width, a);
            load_row(wb + static_cast<std::ptrdiff_t>(y) * width, b);
            for (int h = 0; h < 2; ++h) {
                cv::v_uint32x4 p0, p1, q0, q1;
                cv::v_mul_expand(a[h], vsb, p0, p1);
                cv::v_mul_expand(b[h], vsa, q0, q1);
                acc[2 * h] += cv::v_abs(cv::v_reinterpret_as_s32(p0) - cv::v_reinterpret_as_s32(q0));
                acc[2 * h + 1] += cv::v_abs(cv::v_reinterpret_as_s32(p1) - cv::v_reinterpret_as_s32(q1));
            }
        }
        difference = 0;
        for (const cv::v_uint32x4& v : acc) difference += cv::v_reduce_sum(v);
        return true;
    }
#else
    (void)path;
#endif
    sa = 0;
    sb = 0;
    for (int y = 0; y < kSide; ++y) {
        const unsigned char* ra = wa + static_cast<std::ptrdiff_t>(y) * width;
        const unsigned char* rb = wb + static_cast<std::ptrdiff_t>(y) * width;
        for (int x = 0; x < kSide; ++x) {
            sa += ra[x];
            sb += rb[x];
        }
    }
    if (sa == 0 || sb == 0)
        return false;
    difference = 0;
    for (int y = 0; y < kSide; ++y) {
        const unsigned char* ra = wa + static_cast<std::ptrdiff_t>(y) * width;
        const unsigned char* rb = wb + static_cast<std::ptrdiff_t>(y) * width;
        for (int x = 0; x < kSide; ++x) {
            const int64_t d = ra[x] * sb - rb[x] * sa;
            difference += d < 0 ? -d : d;
        }
    }
    return true;
}

}  // namespace detail

float CorrelatePoints(int width, const avector<unsigned char>& A, const avector<unsigned char>& B, float scale,
                      const AlgoLibrary::TPoint<int>& a, const AlgoLibrary::TPoint<int>& b)
{
    (void)scale;
    const int height = ImageHeight(width, A, B);
    if (!Comparable(width, height, a, b))
        return kNoMatch;
    const unsigned char* wa = A.data() + static_cast<std::ptrdiff_t>(a.y - kHalf) * width + (a.x - kHalf);
    const unsigned char* wb = B.data() + static_cast<std::ptrdiff_t>(b.y - kHalf) * width + (b.x - kHalf);
    int64_t sa = 0, sb = 0, difference = 0;
    // A black window has no shape to compare.
    if (!detail::WindowDifference(wa, wb, width, AlgoLibrary::ActiveKernelPath(), sa, sb, difference))
        return kNoMatch;
    return static_cast<float>(static_cast<double>(difference) / static_cast<double>(sa * sb));
}

float CorrelatePointsByMedian(int width, const avector<unsigned char>& A, const avector<unsigned char>& B, float scale,
                              const AlgoLibrary::TPoint<int>& a, const AlgoLibrary::TPoint<int>& b)
{
    KIV_CHECK(scale > 0.f, "CorrelationScale_151012_100420")
        << "the median correlation needs a positive scale, got" << static_cast<double>(scale);
    const int height = ImageHeight(width, A, B);
    if (!Comparable(width, height, a, b))
        return kNoMatch;
    int differences[(2 * kHalf + 1) * (2 * kHalf + 1)];
    int n = 0;
    for (int y = -kHalf; y <= kHalf; ++y) {
        const unsigned char* ra = A.data() + static_cast<std::ptrdiff_t>(a.y + y) * width + a.x;
        const unsigned char* rb = B.data() + static_cast<std::ptrdiff_t>(b.y + y) * width + b.x;
        for (int x = -kHalf; x <= kHalf; ++x) differences[n++] = std::abs(ra[x] - rb[x]);
    }
    std::nth_element(differences, differences + kKept, differences + n);
    int sum = 0;
    for (int i = 0; i < kKept; ++i) sum += differences[i];
    const float value = (static_cast<float>(sum) / kKept) / scale;
    return value * value;
}

float BestCorrelation(int width, const avector<unsigned char>& A, const avector<unsigned char>& B, float scale,
                      const AlgoLibrary::TPoint<int>& a, AlgoLibrary::TPoint<int> b, int mode)
{
    if (mode == 0)
        return CorrelatePointsByMedian(width, A, B, scale, a, b);
    const int height = ImageHeight(width, A, B);
    if (!WindowInside(a, width, height))
        return kNoMatch;

    // Offsets from the start already scored: three steps of one pixel stay within +-3.
    bool visited[7][7] = {};
    float best = kNoMatch;
    AlgoLibrary::TPoint<int> current = b;
    for (int pass = 0; pass < 3; ++pass) {
        int move_x = 0, move_y = 0;
        for (int dy = -1; dy <= 1; ++dy) {
            for (int dx = -1; dx <= 1; ++dx) {
                const AlgoLibrary::TPoint<int> p{current.x + dx, current.y + dy};
                bool& seen = visited[p.y - b.y + 3][p.x - b.x + 3];
                if (seen || !WindowInside(p, width, height))
                    continue;
                seen = true;
                const float score = CorrelatePoints(width, A, B, scale, a, p);
                if (score < best) {
                    best = score;
                    move_x = dx;
                    move_y = dy;
                }
            }
        }
        if (move_x == 0 && move_y == 0)
            return best;
        current.x += move_x;
        current.y += move_y;
    }
    return best;
}

}  // namespace Correlation
