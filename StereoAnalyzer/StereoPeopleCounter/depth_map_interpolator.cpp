#include "StereoAnalyzer/StereoPeopleCounter/depth_map_interpolator.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <type_traits>

#include "CommonUtilities/algorithm_support/kiv_exception.h"
#include "StereoAnalyzer/StereoPeopleCounter/mask_rows_simd.h"

namespace stereo {

void DepthMapInterpolator::Init(cv::Size size)
{
    m_to_fill.create(size);
    m_counts.create(size);
    m_sums.create(size);
    m_full_mask.create(size);
    m_queue.reserve(static_cast<std::size_t>(size.width) * static_cast<std::size_t>(size.height) + 1);
    m_full_mask.setTo(255);
    m_initialized = true;
    SetBuffersToZero();
}

void DepthMapInterpolator::ReinitIfNeed(cv::Size size)
{
    if (size == m_to_fill.size() && m_initialized)
        return;
    Log(kKivLogWarning) << "DepthMapInterpolator::ReinitIfNeed reinitialising on fly, may be time consuming\n";
    Init(size);
}

void DepthMapInterpolator::SetBuffersToZero()
{
    if (!m_initialized) {
        Log(kKivLogWarning) << "Warning DepthMapInterpolator::SetBuffersToZero object is not initialized\n";
        return;
    }
    m_to_fill.setTo(0);
    m_counts.setTo(0);
    m_sums.setTo(0);
    m_queue.clear();
}

namespace {

// sum / count rounded half away from zero, for counts 1..8 and |sum| < 2^19: the integer form
// (2 |sum| + count) / (2 count), the division a multiplication by the rounded-up reciprocal, exact
// there (its error stays below 2^-11 while the quotient's fraction is at most 15/16). It equals
// the mean computed in double precision and rounded: a tie (a fraction of exactly one half) is
// exact in both, and anything else is at least 1/16 away from one.
int RoundedMean(int sum, int count)
{
    static constexpr auto kReciprocals = [] {
        std::array<uint64_t, 9> r{};
        for (uint64_t c = 1; c < r.size(); ++c) r[c] = ((uint64_t{1} << 32) + 2 * c - 1) / (2 * c);
        return r;
    }();
    const uint32_t magnitude = static_cast<uint32_t>(sum < 0 ? -sum : sum);
    const uint32_t numerator = 2 * magnitude + static_cast<uint32_t>(count);
    const int mean = static_cast<int>((numerator * kReciprocals[static_cast<size_t>(count)]) >> 32);
    return sum < 0 ? -mean : mean;
}

}  // namespace

template <typename T, bool kUseMask>
void DepthMapInterpolator::FillDepthImpl(T invalid_max, cv::Rect roi, const cv::Mat_<uchar>& mask, cv::Mat_<T>& depth)
{
    ReinitIfNeed(depth.size());
    KIV_CHECK(!kUseMask || mask.size() == depth.size(), "DepthInterpMaskSize_140312_120101");
    const int x0 = std::max(roi.x, 0);
    const int x1 = std::min(roi.x + roi.width - 1, depth.cols - 1);
    const int y0 = std::max(roi.y, 0);
    const int y1 = std::min(roi.y + roi.height - 1, depth.rows - 1);
    if (x0 > x1 || y0 > y1)
        return;

    // Inside the region (nothing outside it is looked at): 255 for a hole, 0 for a known pixel,
    // and 1 outside the mask, where a pixel is neither: never filled and never a source.
    constexpr uchar kHole = 255;
    for (int y = y0; y <= y1; ++y) {
        const T* d = depth[y] + x0;
        uchar* f = m_to_fill[y] + x0;
        const int n = x1 - x0 + 1;
        int x = 0;
        if constexpr (std::is_same_v<T, short> || std::is_same_v<T, uchar>)
            x = mask_rows_simd::BinarizeLessOrEqualRow(d, invalid_max, f, n);
        for (; x < n; ++x) f[x] = d[x] <= invalid_max ? kHole : 0;
        if constexpr (kUseMask) {
            const uchar* m = mask[y] + x0;
            for (x = 0; x < n; ++x)
                if (m[x] == 0)
                    f[x] = 1;
        }
    }

    // Seeds, row by row: known pixels with a hole among their neighbours in the region. `near`
    // tells for the columns x - 1, x and x + 1 whether the rows y - 1 .. y + 1 hold a hole there.
    for (int y = y0; y <= y1; ++y) {
        const uchar* up = m_to_fill[y > y0 ? y - 1 : y];
        const uchar* row = m_to_fill[y];
        const uchar* down = m_to_fill[y < y1 ? y + 1 : y];
        auto holeIn = [&](int x) { return static_cast<int>(up[x] == kHole || row[x] == kHole || down[x] == kHole); };
        int before = 0;
        int here = holeIn(x0);
        for (int x = x0; x <= x1; ++x) {
            const int after = x < x1 ? holeIn(x + 1) : 0;
            if (row[x] == 0 && (before | here | after))
                m_queue.push_back(cv::Point(x, y));
            before = here;
            here = after;
        }
    }

    // Rings: the points in the queue up to a marker feed the holes around them; the holes reached
    // follow them in the queue, in the order first reached, and are filled when the marker comes.
    const int width = m_to_fill.cols;
    uchar* const toFill = m_to_fill.ptr<uchar>();
    uchar* const counts = m_counts.ptr<uchar>();
    int* const sums = m_sums.ptr<int>();
    const cv::Point marker(-1, -1);
    m_queue.push_back(marker);
    while (!m_queue.empty()) {
        const cv::Point p = m_queue.front();
        m_queue.pop_front();
        if (p.x < 0) {
            if (m_queue.empty())
                break;
            for (std::size_t i = 0; i < m_queue.size(); ++i) {
                const cv::Point& q = m_queue[i];
                const int at = q.y * width + q.x;
                toFill[at] = 0;
                depth(q) = static_cast<T>(RoundedMean(sums[at], counts[at]));
                sums[at] = 0;
                counts[at] = 0;
            }
            m_queue.push_back(marker);
            continue;
        }
        const int value = depth(p);
        auto feed = [&](int nx, int ny) {
            const int at = ny * width + nx;
            if (toFill[at] != kHole)
                return;
            if (counts[at] == 0)
                m_queue.push_back(cv::Point(nx, ny));
            sums[at] += value;
            counts[at] += 1;
        };
        // Row by row, left to right (p itself is never a hole).
        if (p.x > x0 && p.x < x1 && p.y > y0 && p.y < y1) {
            feed(p.x - 1, p.y - 1), feed(p.x, p.y - 1), feed(p.x + 1, p.y - 1);
            feed(p.x - 1, p.y), feed(p.x + 1, p.y);
            feed(p.x - 1, p.y + 1), feed(p.x, p.y + 1), feed(p.x + 1, p.y + 1);
            continue;
        }
        for (int ny = std::max(p.y - 1, y0); ny <= std::min(p.y + 1, y1); ++ny)
            for (int nx = std::max(p.x - 1, x0); nx <= std::min(p.x + 1, x1); ++nx) feed(nx, ny);
    }
}

template <typename T>
void DepthMapInterpolator::FillDepthInsideMask(T invalid_max, cv::Rect roi, const cv::Mat_<uchar>& mask,
                                               cv::Mat_<T>& depth)
{
    KIV_CHECK(mask.size() == depth.size(), "DepthInterpMaskSize_140312_120102");
    FillDepthImpl<T, true>(invalid_max, roi, mask, depth);
}

template void DepthMapInterpolator::FillDepthImpl<short, false>(short, cv::Rect, const cv::Mat_<uchar>&,
                                                                cv::Mat_<short>&);
template void DepthMapInterpolator::FillDepthImpl<uchar, true>(uchar, cv::Rect, const cv::Mat_<uchar>&,
                                                               cv::Mat_<uchar>&);
template void DepthMapInterpolator::FillDepthInsideMask<uchar>(uchar, cv::Rect, const cv::Mat_<uchar>&,
                                                               cv::Mat_<uchar>&);

}  // namespace stereo
