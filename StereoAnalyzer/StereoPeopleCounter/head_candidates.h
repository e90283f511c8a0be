#pragma once

#include <deque>
#include <opencv2/core.hpp>
#include <vector>

#include "StereoAnalyzer/StereoPeopleCounter/maximums_finder.h"

namespace stereo {

// How the heads' heights and points are taken from the filtered height maps.
struct HeadCandidateSettings {
    bool obtain_height_directly_from_height_map = true;  // robust height around the point, not the filtered value
    bool use_height_map_processing_scale = true;         // points go from the height-map to the processing size
    int circle_around_head_rad = 0;                      // radius of the disc the robust height is taken over
    double obj_h_max = 0.0;                              // cm of the height level 255
    cv::Size processing_size;                            // where the points go
};

// The head candidates of a frame: the maxima of the processed height map with their heights in cm,
// index by index. `filter_input` is the picture that entered the final median filter and
// `left_height_map` the unfiltered left height map, both of the processed map's size; `samples` is a
// work list kept by the caller.
void FindObjectsCoords(maximums_finder::MaximumsFinder& finder, const cv::Mat_<uchar>& processed,
                       const cv::Mat_<uchar>& filter_input, const cv::Mat_<uchar>& left_height_map,
                       const HeadCandidateSettings& settings, std::vector<uchar>& samples,
                       std::deque<cv::Point>& points, std::deque<int>& heights);

// The height level at p: the mean of the 85th to 95th percentile of the non-zero levels of the disc
// around p, or the level at p when the disc has too few of them.
int RobustHeightAround(const cv::Mat_<uchar>& height_map, const cv::Point& p, int radius, std::vector<uchar>& samples);

}  // namespace stereo
