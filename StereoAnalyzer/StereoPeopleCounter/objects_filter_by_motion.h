#pragma once

#include <deque>
#include <opencv2/core.hpp>
#include <vector>

#include "CommonUtilities/algorithm_support/block_light.h"
#include "StereoAnalyzer/StereoPeopleCounter/body_outline.h"

namespace stereo {

// Removes detected people whose body outline differs too little from the background: the trimmed
// mean of the difference picture between two quantiles inside the outline must reach a threshold.
class ObjectsFilterByMotion : public BlockHighlevel::LightBlock<BlockEntities::IAlgoEntityBase> {
public:
    void InitializeDefaultParameters() override;

    // Deletes the objects without motion from the points and, in step with them, from the heights.
    void DeleteObjectsWithNoMotion(const cv::Mat_<unsigned char>& difference, std::deque<int>& heights,
                                   const IScene3DReconstructor& reconstructor, std::deque<cv::Point_<int>>& points);

    void DrawAvSubtractedBackgroundInObjects(cv::Mat& image) const;
    void DrawPolygons(cv::Mat& image) const;

    const std::vector<bool>& DeletionFlags() const { return m_delete; }
    const std::vector<unsigned char>& Values() const { return m_values; }

private:
    void CalcPolygonsAroundObjects(const std::deque<int>& heights, const IScene3DReconstructor& reconstructor,
                                   const std::deque<cv::Point_<int>>& points);
    void FindObjectsToDelete(const std::deque<cv::Point_<int>>& points);
    unsigned char TrimmedMean(const Outline& outline, float low, float high) const;
    void CheckDrawingSize(const cv::Mat& image) const;

    cv::Size m_frame_size;
    ParamsLib::IntValueParam<> m_av_diff_thresh;
    ParamsLib::FltValueParam<> m_med_low_rate;
    ParamsLib::FltValueParam<> m_med_high_rate;
    BodyOutlineParams m_outline_params;
    size_t m_objects = 0;
    std::vector<bool> m_delete;
    std::vector<Outline> m_outlines;
    std::vector<unsigned char> m_values;
    BodyOutlineBuilder m_builder;
    cv::Mat_<unsigned char> m_difference;  // shares the caller's picture
};

}  // namespace stereo
