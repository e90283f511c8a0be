#include "StereoAnalyzer/StereoPeopleCounter/body_outline.h"

#include <algorithm>
#include <cmath>
#include <opencv2/imgproc.hpp>

#include "StereoAnalyzer/StereoPeopleCounter/convex_shell.h"

namespace stereo {

void BodyOutlineParams::Declare(ParamsLib::ParametersSupportHelperBase& block)
{
    block.InitValueParameterStringDefault(sectors_num, "", "", "sectors_num", "how many points are there in circle", "",
                                          "8");
    sectors_num.SetLimits(4, 18);
    block.InitValueParameterStringDefault(body_height_rate, "", "", "body_height_rate",
                                          "proportion between man height and his body", "", "0.3");
    body_height_rate.SetLimits(0.0f, 0.8f);
    block.InitValueParameterStringDefault(dist_from_center, "", "", "dist_from_center",
                                          "distance of points from center in centimeters", "", "30");
    dist_from_center.SetLimits(10.0f, 60.0f);
    block.InitValueParameterStringDefault(head_height_rate, "", "", "head_height_rate",
                                          "proportion between head height and man's body height", "", "0.17");
    head_height_rate.SetLimits(0.15f, 0.19f);
    block.InitValueParameterStringDefault(head_radius, "", "", "head_radius", "head radius in centimeters", "", "20");
    head_radius.SetLimits(5.0f, 30.0f);
}

void BodyOutlineBuilder::Build(const std::deque<int>& heights, const IScene3DReconstructor& reconstructor,
                               const std::deque<cv::Point_<int>>& points, size_t count, const cv::Size& frame,
                               const BodyOutlineParams& params, std::vector<Outline>& outlines)
{
    if (outlines.size() < count)
        outlines.resize(count);
    const int sectors = params.sectors_num();
    const double head_radius = params.head_radius(), distance = params.dist_from_center();
    const float head_rate = params.head_height_rate(), body_rate = params.body_height_rate();
    for (size_t k = 0; k < count; ++k) {
        cv::Point3f top;
        reconstructor.FindWorld3DCoordinateOfImagePoint(points[k], heights[k], kLeftView, top);
        m_ring_points.clear();
        for (int s = 0; s < sectors; ++s) {
            const auto angle = static_cast<float>(s * 6.283185307179586 / sectors);
            const float c = std::cos(angle), d = std::sin(angle);
            const auto along = [](double length, float factor) { return static_cast<float>(length * factor); };
            m_ring_points.emplace_back(top.x + along(head_radius, c), top.y + along(distance, d), top.z);
            m_ring_points.emplace_back(top.x + along(distance, c), top.y + along(distance, d),
                                       top.z - top.z * head_rate);
            m_ring_points.emplace_back(top.x + along(distance, c), top.y + along(distance, d),
                                       top.z - top.z * (body_rate + head_rate));
        }
        m_projections.clear();
        for (const auto& world : m_ring_points) {
            cv::Point p;
            reconstructor.ProjectPointToImage(world, kLeftView, p);
            m_projections.emplace_back(std::clamp(p.x, 0, frame.width - 1), std::clamp(p.y, 0, frame.height - 1));
        }
        AlgoLibrary::convex_shell_helpers::GetConvexShellImpl(m_projections, m_shell);
        outlines[k].Init(m_shell);
    }
}

void DrawOutlines(const std::vector<Outline>& outlines, size_t count, cv::Mat& image)
{
    for (size_t k = 0; k < count && k < outlines.size(); ++k) {
        const auto& vertices = outlines[k].Vertices();
        for (size_t i = 0; i < vertices.size(); ++i)
            cv::line(image, vertices[i], vertices[(i + 1) % vertices.size()], cv::Scalar(255, 0, 0, 0), 1, 8, 0);
    }
}

}  // namespace stereo
