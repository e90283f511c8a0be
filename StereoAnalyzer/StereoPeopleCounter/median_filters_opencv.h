#pragma once

#include <opencv2/core.hpp>

namespace stereo {

// The (2r + 1) x (2r + 1) median of an 8-bit one-channel picture with replicated borders, equal to
// cv::medianBlur. A radius below 1 copies; radii above median_detail::kMaxReplicatedRadius are
// refused. `use_om` is the parameter file's choice between two algorithms with the same result; one
// algorithm serves both, so it changes nothing. `bordered` is the caller's work picture: it holds a
// copy of the source when the source shares the output's pixels, and is left alone otherwise.
void MedianFilterOpenCV(const cv::Mat& src, int radius, bool use_om, cv::Mat& bordered, cv::Mat& dst);

}  // namespace stereo
