#pragma once

#include <opencv2/core.hpp>

namespace stereo {

// Marks (255) the pixels of `first` whose disparity the map `second` of the other view does not
// confirm within `thresh` whole pixels, 0 elsewhere. A disparity d at column x of either map points to
// column x - d of the other one; `invalid` counts as a missing disparity in both maps. `mask` is
// (re)created 8-bit of the maps' size.
void LeftRightCheck(const cv::Mat& first, const cv::Mat& second, int thresh, short invalid, cv::Mat& mask);
// The same where every value takes part in the check.
void LeftRightCheck(const cv::Mat& first, const cv::Mat& second, int thresh, cv::Mat& mask);

// Sets the image pixels where the mask is not 0 to `value`; returns the mean of the other pixels (0.0
// when there is none).
double SetToMaskedWithFindUnmaskedMean(const cv::Mat_<uchar>& mask, uchar value, cv::Mat_<uchar>& image);

}  // namespace stereo
