#include "StereoAnalyzer/StereoMatchers/disparity_conversions.h"

namespace stereo {

void CopyDisparity(const cv::Mat& src, cv::Mat& dst)
{
    TransformOneChannelMatricesImpl(src, dst, CopyCaller());
}

void RoundDisparity(const cv::Mat& src, cv::Mat& dst)
{
    TransformOneChannelMatricesImpl(src, dst, TransformCaller<Rounder>());
}

void DivideDisparity(const cv::Mat& src, double divisor, cv::Mat& dst)
{
    const Divider<double, int> divider(divisor);
    TransformOneChannelMatricesImpl(src, dst, TransformCaller<Divider>(divider));
}

void RescaleDisparityInt(const cv::Mat& src, unsigned int from, unsigned int to, cv::Mat& dst)
{
    KIV_CHECK(from >= 1 && from <= static_cast<unsigned int>(INT_MAX), "DispRescaleScale_091226_081550")
        << "the source scale must lie in 1..INT_MAX:" << static_cast<double>(from);
    KIV_CHECK(to >= 1 && to <= static_cast<unsigned int>(INT_MAX), "DispRescaleScale_091226_081551")
        << "the destination scale must lie in 1..INT_MAX:" << static_cast<double>(to);
    if (from == to) {
        TransformOneChannelMatricesImpl(src, dst, CopyCaller());
        return;
    }
    const Rescaler<double, int> rescaler(static_cast<int>(from), static_cast<int>(to));
    TransformOneChannelMatricesImpl(src, dst, TransformCaller<Rescaler>(rescaler));
}

}  // namespace stereo
