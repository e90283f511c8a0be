#include "StereoAnalyzer/StereoPeopleCounter/depth_map_interpolator.h"

#include <algorithm>
#include <cmath>

#include "CommonUtilities/algorithm_support/kiv_exception.h"
#include "StereoAnalyzer/StereoPeopleCounter/binarize.h"

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

    // Outside the mask a pixel is neither a source nor a target: it counts as known and never feeds.
    auto inside_mask = [&](int x, int y) { return !kUseMask || mask(y, x) != 0; };
    for (int y = 0; y < depth.rows; ++y) {
        const T* d = depth[y];
        uchar* f = m_to_fill[y];
        for (int x = 0; x < depth.cols; ++x) f[x] = d[x] <= invalid_max ? 255 : 0;
    }

    // Seeds: known pixels with an unknown one around them.
    for (int y = y0; y <= y1; ++y) {
        for (int x = x0; x <= x1; ++x) {
            if (m_to_fill(y, x) || !inside_mask(x, y))
                continue;
            bool touches_hole = false;
            for (int ny = std::max(y - 1, y0); ny <= std::min(y + 1, y1) && !touches_hole; ++ny)
                for (int nx = std::max(x - 1, x0); nx <= std::min(x + 1, x1); ++nx)
                    if (m_to_fill(ny, nx) && inside_mask(nx, ny)) {
                        touches_hole = true;
                        break;
                    }
            if (touches_hole)
                m_queue.push_back(cv::Point(x, y));
        }
    }

    const cv::Point marker(-1, -1);
    m_queue.push_back(marker);
    while (!m_queue.empty()) {
        const cv::Point p = m_queue.front();
        m_queue.pop_front();
        if (p == marker) {
            if (m_queue.empty())
                break;
            for (std::size_t i = 0; i < m_queue.size(); ++i) {
                const cv::Point& q = m_queue[i];
                m_to_fill(q) = 0;
                const double mean = static_cast<double>(m_sums(q)) / m_counts(q);
                depth(q) = static_cast<T>(mean > 0 ? mean + 0.5 : mean - 0.5);
            }
            m_queue.push_back(marker);
            continue;
        }
        const int value = depth(p);
        for (int ny = p.y - 1; ny <= p.y + 1; ++ny) {
            if (ny < y0 || ny > y1)
                continue;
            for (int nx = p.x - 1; nx <= p.x + 1; ++nx) {
                if (nx < x0 || nx > x1 || m_to_fill(ny, nx) != 255 || !inside_mask(nx, ny))
                    continue;
                if (m_counts(ny, nx) == 0)
                    m_queue.push_back(cv::Point(nx, ny));
                m_sums(ny, nx) += value;
                m_counts(ny, nx) += 1;
            }
        }
    }
    SetBuffersToZero();
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
