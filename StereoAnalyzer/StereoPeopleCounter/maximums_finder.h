#pragma once

#include <cstdint>
#include <deque>
#include <opencv2/core.hpp>
#include <vector>

#include "CommonUtilities/algorithm_support/block_light.h"
#include "StereoAnalyzer/StereoPeopleCounter/connected_components_segmentator.h"

namespace maximums_finder {

// Finds the head candidates of a height map: four-connected plateaus of equal height that no
// four-neighbour exceeds and that reach the threshold, one integer centroid per plateau.
class MaximumsFinder : public BlockHighlevel::LightBlock<BlockEntities::IAlgoEntityBase> {
public:
    // Sizes the buffers; `threshold` is the least height level of a maximum, never taken below 1 (a
    // floor of height 0 is no head).
    void Init(cv::Size size, int threshold);
    // Re-initialises (with a warning) for a picture of another size, keeping the threshold.
    void ReinitIfNeed(cv::Size size);

    // labels := the maximum number (1..count) of each pixel's plateau, 0 off the maxima.
    template <typename T, typename L>
    void FindLocalMaximums(const cv::Mat_<T>& heights, cv::Mat_<L>& labels, int& count);

    // One point per maximum, in the raster order of the plateaus' first pixels.
    void FindHeightMaximums(const cv::Mat_<uchar>& heights, std::deque<cv::Point>& points);

    int Threshold() const { return m_threshold; }

private:
    cv::Mat_<int> m_plateau_labels;
    cv::Mat_<int> m_max_labels;
    std::vector<int> m_point_counts;
    std::vector<cv::Point_<int64_t>> m_point_sums;  // coordinate sums per maximum
    std::vector<int> m_max_number;
    std::vector<uchar> m_not_max;
    std::vector<uchar> m_seen;
    segmentator::ConnectedComponentsSegmentator m_segmentator;
    int m_threshold = 1;
    bool m_initialized = false;
};

}  // namespace maximums_finder
