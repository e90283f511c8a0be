#pragma once

#include <opencv2/core.hpp>
#include <string>

#include "StereoAnalyzer/StereoPeopleCounter/connected_components_segmentator.h"
#include "StereoAnalyzer/StereoPeopleCounter/depth_map_interpolator.h"
#include "StereoAnalyzer/StereoPeopleCounter/scene_params.h"

namespace stereo {

// The morphology and median sizes of the height-map filtering, in pixels (areas for the thresholds).
struct MorphologyParams {
    int segm_threshold = 0;     // blobs with fewer pixels are deleted
    int hole_threshold = 0;     // holes with fewer pixels are filled
    int close_rad = 0;          // radius of the closing
    int open_rad = 0;           // radius of the opening
    int median_fill_rad = 0;    // radius of the median filling
    int double_median_rad = 0;  // radius of the double median filling
    int med_rad = 0;            // radius of the final median filtering
};

// Appends one line per unusable field to `report` (values below 0, double-median radii below 1);
// when all are usable, `report` becomes "Ok" and the result is true.
bool CheckMorphologyParams(std::string& report, const MorphologyParams& p);

// Scales every field by `scale` (rounded half away from zero); a positive radius never falls below
// 1 (a radius of 0 stays 0) and a threshold never below 0.
void RescaleMorphologyParams(double scale, MorphologyParams& p);

// The height-map level of 50 cm below the smallest object (levels are obj_h_max / 255 cm).
int MorphologyHeightThreshold(const SceneParams& scene);

// Cleans an 8-bit height map: the mask of pixels at least 50 cm below the smallest object's height is
// opened, stripped of small blobs, closed, opened and stripped of small holes; `out` keeps height + 1
// (saturated) where the cleaned mask agrees with the raw one and 0 where the cleaning changed it.
// `bin` and `tmp` are work pictures kept by the caller; after the call `tmp` holds the complement of
// the cleaned mask.
void ProcessWithMorphology(const cv::Mat_<uchar>& heights, const MorphologyParams& params, const SceneParams& scene,
                           segmentator::ConnectedComponentsSegmentator& segmentator, DepthMapInterpolator& interpolator,
                           cv::Mat_<uchar>& bin, cv::Mat_<uchar>& tmp, cv::Mat_<uchar>& out);

}  // namespace stereo
