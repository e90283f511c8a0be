#pragma once

#include <opencv2/core.hpp>

namespace stereo {

// The (2r + 1) x (2r + 1) median of an 8-bit one-channel picture with replicated borders. `bordered`
// is the caller's work picture (the source widened by r replicated columns on each side); with
// use_om the running-histogram algorithm runs, else the constant-time one. A radius below 1 copies.
void MedianFilterOpenCV(const cv::Mat& src, int radius, bool use_om, cv::Mat& bordered, cv::Mat& dst);

}  // namespace stereo
