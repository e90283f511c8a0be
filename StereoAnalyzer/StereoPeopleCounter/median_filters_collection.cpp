#include "StereoAnalyzer/StereoPeopleCounter/median_filters_collection.h"

#include "CommonUtilities/algorithm_support/kiv_exception.h"
#include "StereoAnalyzer/StereoPeopleCounter/square_window_median.h"

namespace stereo {

namespace {

// The median over the windows of one or two pictures, cut at the picture's edges.
void ClippedMedian(const cv::Mat_<uchar>& a, const cv::Mat_<uchar>* b, int radius, bool fill, cv::Mat_<uchar>& dst)
{
    median_detail::MedianInputs in;
    in.pictures[0] = &a;
    in.pictures[1] = b;
    in.count = b ? 2 : 1;
    for (int i = 0; i < in.count; ++i)
        KIV_CHECK(in.pictures[i]->size() == dst.size(), "HistMedFilterSizes_140312_120301");
    // Rows are written while later ones are still read: the output must not share an input's pixels.
    for (int i = 0; i < in.count; ++i)
        KIV_CHECK(dst.empty() || in.pictures[i]->data != dst.data, "HistMedFilterInPlace_140312_120303");
    KIV_CHECK(radius >= 1, "HistMedFilterRadius_140312_120302") << radius;
    in.radius = radius;
    in.borders = median_detail::Borders::kClip;
    in.fill = fill;
    median_detail::SquareWindowMedian(in, dst);
}

}  // namespace

void DoubleMedianFilter(const cv::Mat_<uchar>& a, const cv::Mat_<uchar>& b, int radius, cv::Mat_<uchar>& dst)
{
    ClippedMedian(a, &b, radius, false, dst);
}

void DoubleMedianFilterFill(const cv::Mat_<uchar>& a, const cv::Mat_<uchar>& b, int radius, cv::Mat_<uchar>& dst)
{
    ClippedMedian(a, &b, radius, true, dst);
}

void MedianFilterFill(const cv::Mat_<uchar>& a, int radius, cv::Mat_<uchar>& dst)
{
    ClippedMedian(a, nullptr, radius, true, dst);
}

}  // namespace stereo
