#include "StereoAnalyzer/StereoPeopleCounter/polygons_around_objects.h"

#include "CommonUtilities/algorithm_support/kiv_exception.h"

namespace stereo {

void PolygonsAroundObjects::InitializeDefaultParameters()
{
    m_params.Declare(*this);
}

void PolygonsAroundObjects::CalcPolygonsAroundObjects(const std::deque<int>& heights,
                                                      const IScene3DReconstructor& reconstructor,
                                                      const std::deque<cv::Point_<int>>& points)
{
    KIV_CHECK(heights.size() == points.size(), "PolygonsAroundObjects_200811_130201")
        << "heights: " << static_cast<int>(heights.size()) << ", points: " << static_cast<int>(points.size());
    m_valid_outlines = points.size();
    m_frame_size = reconstructor.GetFrameSize();
    m_builder.Build(heights, reconstructor, points, m_valid_outlines, m_frame_size, m_params, m_outlines);
}

void PolygonsAroundObjects::DrawPolygons(cv::Mat& image) const
{
    KIV_CHECK(image.cols == m_frame_size.width && image.rows == m_frame_size.height,
              "PolygonsAroundObjectsDraw_200811_130202")
        << "picture " << image.cols << "x" << image.rows;
    DrawOutlines(m_outlines, m_valid_outlines, image);
}

}  // namespace stereo
