#pragma once

#include <cmath>
#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>

#include "PeopleCounter/analytics/traffic_controller/src/primitives/gaussian_blur.h"

namespace testing_support {

// OpenCV's Gaussian at the sigma a recursive blur of parameter `size_x100` stands for, with
// replicated borders: the reference of the recursive blurs in tests and benchmarks.
inline cv::Mat OpenCvGaussian(const cv::Mat& image, int size_x100)
{
    const double sigma = events_detector_utils::DericheSigma(size_x100 / 100.0);
    const int half = static_cast<int>(std::ceil(5 * sigma));
    cv::Mat out;
    cv::GaussianBlur(image, out, cv::Size(2 * half + 1, 2 * half + 1), sigma, sigma, cv::BORDER_REPLICATE);
    return out;
}

}  // namespace testing_support
