#pragma once

#include <deque>
#include <opencv2/core.hpp>
#include <vector>

#include "CommonUtilities/algorithm_support/block_light.h"
#include "StereoAnalyzer/StereoPeopleCounter/i_scene_3d_reconstructor.h"
#include "StereoAnalyzer/StereoPeopleCounter/polygon_with_monotonic_edges.h"

namespace stereo {

using Outline = PolygonWithMonotonicAlongXEdges<cv::Point_<int>>;

// The five parameters of a body outline, declared by the block that owns them.
struct BodyOutlineParams {
    ParamsLib::IntValueParam<> sectors_num;
    ParamsLib::FltValueParam<> body_height_rate;
    ParamsLib::FltValueParam<> dist_from_center;
    ParamsLib::FltValueParam<> head_height_rate;
    ParamsLib::FltValueParam<> head_radius;

    void Declare(ParamsLib::ParametersSupportHelperBase& block);
};

// Builds the outlines of people standing at image points with the given heights: three rings of
// world points around each top point (top of the head, bottom of the head, body), projected into
// the left view, clamped to the frame and wrapped in their convex shell. Work lists are kept.
class BodyOutlineBuilder {
public:
    // Outline k of the first `count` objects; `outlines` grows to `count` and never shrinks.
    void Build(const std::deque<int>& heights, const IScene3DReconstructor& reconstructor,
               const std::deque<cv::Point_<int>>& points, size_t count, const cv::Size& frame,
               const BodyOutlineParams& params, std::vector<Outline>& outlines);

private:
    std::vector<cv::Point3_<float>> m_ring_points;
    std::vector<cv::Point_<int>> m_projections;
    std::vector<cv::Point_<int>> m_shell;
};

// Draws every edge of the first `count` outlines.
void DrawOutlines(const std::vector<Outline>& outlines, size_t count, cv::Mat& image);

}  // namespace stereo
