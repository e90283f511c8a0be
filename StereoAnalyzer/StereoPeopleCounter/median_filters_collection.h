#pragma once

#include <opencv2/core.hpp>

namespace stereo {

// The median over the windows of both pictures (both aligned on the left view's columns).
void DoubleMedianFilter(const cv::Mat_<uchar>& a, const cv::Mat_<uchar>& b, int radius, cv::Mat_<uchar>& dst);
// The same, replacing only the pixels where the median is not 0.
void DoubleMedianFilterFill(const cv::Mat_<uchar>& a, const cv::Mat_<uchar>& b, int radius, cv::Mat_<uchar>& dst);
// One picture, replacing only the pixels where the median is not 0.
void MedianFilterFill(const cv::Mat_<uchar>& a, int radius, cv::Mat_<uchar>& dst);

}  // namespace stereo
