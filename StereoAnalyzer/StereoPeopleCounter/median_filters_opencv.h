#pragma once

#include <opencv2/core.hpp>

namespace stereo {

// The (2r + 1) x (2r + 1) median of an 8-bit one-channel picture with replicated borders. `bordered`
// is the caller's work picture (the source widened by r replicated columns on each side); with
// use_om the running-histogram algorithm runs, else the constant-time one. A radius below 1 copies.
void MedianFilterOpenCV(const cv::Mat& src, int radius, bool use_om, cv::Mat& bordered, cv::Mat& dst);

// The constant-time median of a bordered picture; dst (the unbordered size) gets its middle columns.
void MedianBlur8uO1(const cv::Mat& bordered, cv::Mat& dst, int ksize);
// The median of a bordered picture from per-column histograms summed along each row (bands of
// columns in parallel; Huang's running histogram for windows whose counts pass 16 bits).
void MedianBlur8uOm(const cv::Mat& bordered, cv::Mat& dst, int radius);

}  // namespace stereo
