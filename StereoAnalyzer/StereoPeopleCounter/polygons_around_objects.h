#pragma once

#include <deque>
#include <opencv2/core.hpp>
#include <vector>

#include "CommonUtilities/algorithm_support/block_light.h"
#include "StereoAnalyzer/StereoPeopleCounter/body_outline.h"

namespace stereo {

// The outlines that detected people occupy in the picture, from their head points and heights.
class PolygonsAroundObjects : public BlockHighlevel::LightBlock<BlockEntities::IAlgoEntityBase> {
public:
    void InitializeDefaultParameters() override;

    // One outline per object: the k-th point with the k-th height, in the reconstructor's frame.
    void CalcPolygonsAroundObjects(const std::deque<int>& heights, const IScene3DReconstructor& reconstructor,
                                   const std::deque<cv::Point_<int>>& points);
    void DrawPolygons(cv::Mat& image) const;

    size_t ValidOutlines() const { return m_valid_outlines; }
    const std::vector<Outline>& Outlines() const { return m_outlines; }

private:
    cv::Size m_frame_size;
    BodyOutlineParams m_params;
    size_t m_valid_outlines = 0;
    std::vector<Outline> m_outlines;
    BodyOutlineBuilder m_builder;
};

}  // namespace stereo
