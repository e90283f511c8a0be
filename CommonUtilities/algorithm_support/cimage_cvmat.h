#pragma once

#include <opencv2/core.hpp>

// Copies between 8-bit grey (CV_8UC1), BGR (CV_8UC3) and BGRA (CV_8UC4) images, and the choice
// of a reduced working resolution. Failures throw exc::KIVException.
namespace cimage_cvmat {

enum ReductionKind {
    NoReduction = 0,             // the result equals the input
    ReductionKeepingAspect = 1,  // smaller, the width-to-height ratio exactly kept
    ReductionChangingAspect = 2  // smaller, the ratio changed
};

// dst (CV_8UC1 or empty) becomes a grey image of src; a grey src is shared, not copied.
void PutMatTo1ChannelMat(const cv::Mat& src, cv::Mat& dst);
// dst (CV_8UC3) becomes a three-channel copy of src.
void CopyMatTo3ChannelMat(const cv::Mat& src, cv::Mat& dst);
// Copies a CV_8UC3 src into dst in dst's own channel layout.
void Copy3ChannelMatToMat(const cv::Mat& src, cv::Mat& dst);
// Copies a CV_8UC1 src into dst in dst's own channel layout.
void Copy1ChannelMatToMat(const cv::Mat& src, cv::Mat& dst);
// m becomes all zeros of that size, keeping its type.
void CreateZeroed(cv::Mat& m, const cv::Size& size);

// An even-sided working size with an area between minArea and maxArea (as far as the aspect
// allows), never larger than the input; the kind of reduction goes to *kind when it is given.
cv::Size FindReduceResolution(const cv::Size& in, int minArea, int maxArea, ReductionKind* kind);

}  // namespace cimage_cvmat
