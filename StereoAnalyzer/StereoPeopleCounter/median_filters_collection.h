#pragma once

#include <opencv2/core.hpp>

namespace stereo {

// Inclusive bounds of a median window.
struct RectPoints {
    int x0;
    int x1;
    int y0;
    int y1;
};

// Brings the 256-level and 16-level histograms of N pictures up to date for one move of the window
// down a column: the whole window, or the new bottom row added and the old top row removed.
template <int N>
struct HistMedCycleImpl {
    void operator()(const cv::Mat_<uchar>** inputs, const RectPoints& rect, bool add_bottom_row, bool remove_top_row,
                    bool whole_rect, int* fine, int* coarse, int& count) const;
};

// Square-window median over the union of the windows of N pictures, the window clipped to the picture,
// the histograms sliding down each column (columns run in parallel). With `fill` a median of 0 keeps
// the first picture's own value. The median is the sample of rank count / 2 (the upper one for an even
// count).
template <template <int> class Impl, int N>
struct HistMedFilter {
    void operator()(const cv::Mat_<uchar>** inputs, int radius, bool fill, cv::Mat_<uchar>& dst) const;
};

// The median over the windows of both pictures (both aligned on the left view's columns).
void DoubleMedianFilter(const cv::Mat_<uchar>& a, const cv::Mat_<uchar>& b, int radius, cv::Mat_<uchar>& dst);
// The same, replacing only the pixels where the median is not 0.
void DoubleMedianFilterFill(const cv::Mat_<uchar>& a, const cv::Mat_<uchar>& b, int radius, cv::Mat_<uchar>& dst);
// One picture, replacing only the pixels where the median is not 0.
void MedianFilterFill(const cv::Mat_<uchar>& a, int radius, cv::Mat_<uchar>& dst);

}  // namespace stereo
