#include "StereoAnalyzer/StereoPeopleCounter/median_filters_opencv.h"

#include "StereoAnalyzer/StereoPeopleCounter/square_window_median.h"

namespace stereo {

void MedianFilterOpenCV(const cv::Mat& src, int radius, bool /*use_om*/, cv::Mat& bordered, cv::Mat& dst)
{
    if (radius < 1) {
        src.copyTo(dst);
        return;
    }
    CV_Assert(src.depth() == CV_8U && src.channels() == 1);
    CV_Assert(radius <= median_detail::kMaxReplicatedRadius);
    // Rows are written while later ones are still read: a source that shares the output's pixels is
    // read from a copy in the caller's work picture.
    dst.create(src.size(), src.type());
    const bool shared = !src.empty() && src.datastart < dst.dataend && dst.datastart < src.dataend;
    if (shared)
        src.copyTo(bordered);
    median_detail::MedianInputs in;
    const cv::Mat_<uchar> source = shared ? bordered : src;
    in.pictures[0] = &source;
    in.radius = radius;
    in.borders = median_detail::Borders::kReplicate;
    cv::Mat_<uchar> out = dst;
    median_detail::SquareWindowMedian(in, out);
}

}  // namespace stereo
