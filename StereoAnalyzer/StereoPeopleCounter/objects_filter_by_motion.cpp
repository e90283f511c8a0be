#include "StereoAnalyzer/StereoPeopleCounter/objects_filter_by_motion.h"

#include <algorithm>
#include <array>
#include <cmath>

#include "CommonUtilities/algorithm_support/kiv_exception.h"
#include "StereoAnalyzer/StereoPeopleCounter/delete_spaces_in_array.h"

namespace stereo {

void ObjectsFilterByMotion::InitializeDefaultParameters()
{
    InitValueParameterStringDefault(m_av_diff_thresh, "", "", "Stereo_av_diff_from_background_thresh",
                                    "difference from background", "", "10");
    InitValueParameterStringDefault(m_med_low_rate, "", "", "Stereo_m_med_low_rate", "Stereo_m_med_rate", "", "0.7");
    InitValueParameterStringDefault(m_med_high_rate, "", "", "Stereo_m_med_high_rate", "Stereo_m_med_rate", "", "0.9");
    m_outline_params.Declare(*this);
}

void ObjectsFilterByMotion::DeleteObjectsWithNoMotion(const cv::Mat_<unsigned char>& difference,
                                                      std::deque<int>& heights,
                                                      const IScene3DReconstructor& reconstructor,
                                                      std::deque<cv::Point_<int>>& points)
{
    KIV_CHECK(heights.size() == points.size(), "ObjectsFilterByMotion_200811_130301")
        << "heights: " << static_cast<int>(heights.size()) << ", points: " << static_cast<int>(points.size());
    m_objects = points.size();
    if (difference.size() != m_frame_size)
        m_frame_size = difference.size();
    m_difference = difference;
    auto timer = StatScopedTimeCalculator("No-motion deletion");
    CalcPolygonsAroundObjects(heights, reconstructor, points);
    FindObjectsToDelete(points);
    DeleteSpacesInArray(points, m_delete);
    DeleteSpacesInArray(heights, m_delete);
}

void ObjectsFilterByMotion::CalcPolygonsAroundObjects(const std::deque<int>& heights,
                                                      const IScene3DReconstructor& reconstructor,
                                                      const std::deque<cv::Point_<int>>& points)
{
    m_builder.Build(heights, reconstructor, points, m_objects, m_frame_size, m_outline_params, m_outlines);
}

unsigned char ObjectsFilterByMotion::TrimmedMean(const Outline& outline, float low, float high) const
{
    std::array<int, 256> histogram{};
    std::array<int, 16> groups{};
    int n = 0;
    const auto& spans = outline.RowSpans();
    for (size_t r = 0; r < spans.size(); ++r) {
        const unsigned char* row = m_difference[outline.SmallestY() + static_cast<int>(r)];
        for (int x = spans[r].first; x <= spans[r].second; ++x) {
            ++histogram[row[x]];
            ++groups[row[x] >> 4];
            ++n;
        }
    }
    if (n == 0)
        return 0;
    KIV_CHECK(low >= 0.0f && high >= 0.0f, "ObjectsFilterRateBelowZero_200811_130302")
        << "quantile rates " << double(low) << ", " << double(high);
    KIV_CHECK(low <= 1.0f && high <= 1.0f, "ObjectsFilterRateAboveOne_200811_130303")
        << "quantile rates " << double(low) << ", " << double(high);
    const double q1 = std::min(low, high), q2 = std::max(low, high);
    const auto rank = [n](double q) { return std::min<long long>(std::llround(q * (n - 1)), n - 1); };
    const long long first = rank(q1), last = rank(q2);
    // Sum of the sorted values at ranks first..last; whole groups of 16 values before the first
    // rank are skipped.
    long long sum = 0, seen = 0;
    int value = 0;
    for (int g = 0; g < 16 && seen + groups[g] <= first; ++g) {
        seen += groups[g];
        value = (g + 1) * 16;
    }
    for (; value < 256 && seen <= last; ++value) {
        const long long from = std::max(seen, first), to = std::min(seen + histogram[value] - 1, last);
        if (to >= from)
            sum += static_cast<long long>(value) * (to - from + 1);
        seen += histogram[value];
    }
    const long long count = last - first + 1;
    return static_cast<unsigned char>(std::clamp<long long>((2 * sum + count) / (2 * count), 0, 255));
}

void ObjectsFilterByMotion::FindObjectsToDelete(const std::deque<cv::Point_<int>>& points)
{
    (void)points;
    m_delete.assign(m_objects, false);
    m_values.resize(m_objects);
    for (size_t i = 0; i < m_objects; ++i) {
        m_values[i] = TrimmedMean(m_outlines[i], m_med_low_rate(), m_med_high_rate());
        if (m_values[i] < m_av_diff_thresh())
            m_delete[i] = true;
    }
}

void ObjectsFilterByMotion::CheckDrawingSize(const cv::Mat& image) const
{
    KIV_CHECK(image.cols == m_frame_size.width && image.rows == m_frame_size.height,
              "ObjectsFilterDrawSize_200811_130304")
        << "picture " << image.cols << "x" << image.rows;
}

void ObjectsFilterByMotion::DrawAvSubtractedBackgroundInObjects(cv::Mat& image) const
{
    CheckDrawingSize(image);
    KIV_CHECK(image.type() == CV_8UC3, "ObjectsFilterDrawType_200811_130305") << "picture type " << image.type();
    for (size_t i = 0; i < m_objects && i < m_outlines.size(); ++i) {
        const auto& spans = m_outlines[i].RowSpans();
        for (size_t r = 0; r < spans.size(); ++r) {
            auto* row = image.ptr<cv::Vec3b>(m_outlines[i].SmallestY() + static_cast<int>(r));
            for (int x = spans[r].first; x <= spans[r].second; ++x) row[x] = cv::Vec3b::all(m_values[i]);
        }
    }
    DrawPolygons(image);
}

void ObjectsFilterByMotion::DrawPolygons(cv::Mat& image) const
{
    CheckDrawingSize(image);
    DrawOutlines(m_outlines, m_objects, image);
}

}  // namespace stereo
