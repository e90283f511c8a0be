#include "StereoAnalyzer/StereoPeopleCounter/head_candidates.h"

#include <algorithm>
#include <cmath>
#include <cstdint>

#include "CommonUtilities/algorithm_support/kiv_exception.h"
#include "CommonUtilities/algorithm_support/rounding.h"
#include "StereoAnalyzer/StereoPeopleCounter/circle_iterator.h"

namespace stereo {

int RobustHeightAround(const cv::Mat_<uchar>& height_map, const cv::Point& p, int radius, std::vector<uchar>& samples)
{
    samples.clear();
    for (CircleIterator it(p, radius, height_map.size()); !it.IsFinished(); it.MoveToNextPosition()) {
        const uchar v = height_map(it.Position());
        if (v)
            samples.push_back(v);
    }
    const double n = static_cast<double>(samples.size());
    const int lo = AlgoLibrary::RoundHalfAwayFromZero(0.85 * n);
    const int hi = AlgoLibrary::RoundHalfAwayFromZero(0.95 * n);
    if (lo == 0 || hi == 0)
        return height_map(p);
    std::nth_element(samples.begin(), samples.begin() + (lo - 1), samples.end());
    std::nth_element(samples.begin() + (lo - 1), samples.begin() + (hi - 1), samples.end());
    double sum = 0.0;
    for (int i = lo - 1; i <= hi - 1; ++i) sum += samples[static_cast<std::size_t>(i)];
    return AlgoLibrary::RoundHalfAwayFromZero(sum / (hi - lo + 1));
}

void FindObjectsCoords(maximums_finder::MaximumsFinder& finder, const cv::Mat_<uchar>& processed,
                       const cv::Mat_<uchar>& filter_input, const cv::Mat_<uchar>& left_height_map,
                       const HeadCandidateSettings& settings, std::vector<uchar>& samples,
                       std::deque<cv::Point>& points, std::deque<int>& heights)
{
    KIV_CHECK(filter_input.size() == processed.size(), "HeadCandidatesInputSize_140312_120501");
    KIV_CHECK(!settings.obtain_height_directly_from_height_map || left_height_map.size() == processed.size(),
              "HeadCandidatesHeightMapSize_140312_120502");
    finder.FindHeightMaximums(processed, points);
    heights.assign(points.size(), 0);
    for (std::size_t i = 0; i < points.size(); ++i) {
        const cv::Point& p = points[i];
        int v = filter_input(p);
        if (settings.obtain_height_directly_from_height_map)
            v = RobustHeightAround(left_height_map, p, settings.circle_around_head_rad, samples);
        heights[i] = AlgoLibrary::RoundHalfAwayFromZero(v / 255.0 * settings.obj_h_max);
    }
    if (!settings.use_height_map_processing_scale)
        return;
    const int64_t w = processed.cols;
    const int64_t h = processed.rows;
    for (cv::Point& p : points) {
        p.x = static_cast<int>(p.x * static_cast<int64_t>(settings.processing_size.width) / w);
        p.y = static_cast<int>(p.y * static_cast<int64_t>(settings.processing_size.height) / h);
    }
}

}  // namespace stereo
