#pragma once

#include <opencv2/core.hpp>

#include "CommonUtilities/algorithm_support/block_light.h"
#include "StereoAnalyzer/StereoPeopleCounter/circular_buffer.h"

namespace stereo {

// Fills the holes of a disparity or height map from the outside in, one ring at a time: each hole
// pixel touching known pixels takes the rounded mean of the known 8-neighbours that reached it, then
// feeds the next ring. The fill never leaves the region of interest. One instance per thread.
class DepthMapInterpolator : public BlockHighlevel::LightBlock<BlockEntities::IAlgoEntityBase> {
public:
    // Sizes the work buffers; the queue holds a whole picture, so fills do not allocate.
    void Init(cv::Size size);
    // Re-initialises (with a warning) when a picture of another size comes.
    void ReinitIfNeed(cv::Size size);
    void SetBuffersToZero();

    // Fills, in place, the pixels of `depth` whose value is <= invalid_max, inside roi. With kUseMask
    // only pixels where `mask` is not 0 are filled, from known pixels where it is not 0.
    template <typename T, bool kUseMask>
    void FillDepthImpl(T invalid_max, cv::Rect roi, const cv::Mat_<uchar>& mask, cv::Mat_<T>& depth);

    // The mask-restricted fill; mask and depth must have one size.
    template <typename T>
    void FillDepthInsideMask(T invalid_max, cv::Rect roi, const cv::Mat_<uchar>& mask, cv::Mat_<T>& depth);

    // All 255 at the working size: the mask argument for a fill that needs none.
    const cv::Mat_<uchar>& FullMask() const { return m_full_mask; }

private:
    cv::Mat_<uchar> m_to_fill;  // 255 = still unknown
    cv::Mat_<uchar> m_counts;   // contributions a pending pixel received in the current ring
    cv::Mat_<int> m_sums;
    cv::Mat_<uchar> m_full_mask;
    CircularBuffer<cv::Point> m_queue;
    bool m_initialized = false;
};

}  // namespace stereo
