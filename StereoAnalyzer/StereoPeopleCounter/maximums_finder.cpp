#include "StereoAnalyzer/StereoPeopleCounter/maximums_finder.h"

#include <algorithm>

#include "CommonUtilities/algorithm_support/kiv_exception.h"

namespace maximums_finder {

void MaximumsFinder::Init(cv::Size size, int threshold)
{
    m_plateau_labels.create(size);
    m_max_labels.create(size);
    const std::size_t n = static_cast<std::size_t>(size.width) * static_cast<std::size_t>(size.height) + 1;
    m_point_counts.reserve(n);
    m_point_sums.reserve(n);
    m_max_number.reserve(n);
    m_not_max.reserve(n);
    m_seen.reserve(n);
    m_segmentator.Init(size);
    m_threshold = std::max(threshold, 1);
    m_initialized = true;
}

void MaximumsFinder::ReinitIfNeed(cv::Size size)
{
    if (m_initialized && size == m_plateau_labels.size())
        return;
    Log(kKivLogWarning) << "MaximumsFinder::ReinitIfNeed reinitialising on fly, may be time consuming\n";
    if (m_initialized) {
        Init(size, m_threshold);
    } else {
        // Init raises a threshold below 1 to 1: the line names the threshold actually set.
        Init(size, 0);
        Log(kKivLogWarning) << "MaximumsFinder::ReinitIfNeed setting threshold to " << m_threshold << "\n";
    }
}

template <typename T, typename L>
void MaximumsFinder::FindLocalMaximums(const cv::Mat_<T>& heights, cv::Mat_<L>& labels, int& count)
{
    ReinitIfNeed(heights.size());
    if (m_plateau_labels.size() != heights.size())
        m_plateau_labels.create(heights.size());
    labels.create(heights.size());

    m_segmentator.Start(heights, m_plateau_labels, segmentator::ConnectedComponentsSegmentator::kFour, 0);
    for (int y = 0; y < heights.rows; ++y) {
        const T* row = heights[y];
        for (int x = 0; x < heights.cols; ++x) m_segmentator.PickOutOneSegment<T>(cv::Point(x, y), row[x]);
    }
    const int plateaus = m_segmentator.LastLabel();
    m_not_max.assign(static_cast<std::size_t>(plateaus) + 1, 0);
    m_seen.assign(static_cast<std::size_t>(plateaus) + 1, 0);

    const int rows = heights.rows;
    const int cols = heights.cols;
    for (int y = 0; y < rows; ++y) {
        const T* row = heights[y];
        const int* plateau = m_plateau_labels[y];
        for (int x = 0; x < cols; ++x) {
            const int l = plateau[x];
            if (m_not_max[l])
                continue;
            m_seen[l] = 1;
            const T v = row[x];
            if (v < m_threshold) {
                m_not_max[l] = 1;
                continue;
            }
            if (x > 0 && row[x - 1] > v)
                m_not_max[l] = 1;
            else if (x + 1 < cols && row[x + 1] > v)
                m_not_max[l] = 1;
            if (y > 0 && heights(y - 1, x) > v)
                m_not_max[l] = 1;
            else if (y + 1 < rows && heights(y + 1, x) > v)
                m_not_max[l] = 1;
        }
    }

    count = 0;
    m_max_number.assign(static_cast<std::size_t>(plateaus) + 1, 0);
    for (int l = 1; l <= plateaus; ++l)
        if (!m_not_max[l])
            m_max_number[l] = ++count;
    for (int y = 0; y < rows; ++y) {
        const int* plateau = m_plateau_labels[y];
        L* out = labels[y];
        for (int x = 0; x < cols; ++x) out[x] = static_cast<L>(m_max_number[plateau[x]]);
    }
}

template void MaximumsFinder::FindLocalMaximums<uchar, int>(const cv::Mat_<uchar>&, cv::Mat_<int>&, int&);

void MaximumsFinder::FindHeightMaximums(const cv::Mat_<uchar>& heights, std::deque<cv::Point>& points)
{
    KIV_CHECK(!heights.empty(), "MaximumsFinderEmpty_140312_120401");
    ReinitIfNeed(heights.size());
    int count = 0;
    FindLocalMaximums<uchar, int>(heights, m_max_labels, count);
    m_point_sums.assign(static_cast<std::size_t>(count), cv::Point_<int64_t>(0, 0));
    m_point_counts.assign(static_cast<std::size_t>(count), 0);
    for (int y = 0; y < heights.rows; ++y) {
        const int* labels = m_max_labels[y];
        for (int x = 0; x < heights.cols; ++x) {
            const int k = labels[x];
            if (k > 0) {
                m_point_sums[k - 1] += cv::Point_<int64_t>(x, y);
                ++m_point_counts[k - 1];
            }
        }
    }
    points.resize(static_cast<std::size_t>(count));
    for (std::size_t i = 0; i < points.size(); ++i)
        points[i] = cv::Point(static_cast<int>(m_point_sums[i].x / m_point_counts[i]),
                              static_cast<int>(m_point_sums[i].y / m_point_counts[i]));
}

}  // namespace maximums_finder
