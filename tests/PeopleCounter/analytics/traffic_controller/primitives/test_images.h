#pragma once

#include <cstddef>
#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>
#include <vector>

// Test images with fixed seeds.

// Uniform noise, optionally smoothed into blobs by a Gaussian of the given sigma.
inline cv::Mat RandomImage(int width, int height, unsigned seed, double sigma = 0.0)
{
    cv::Mat image(height, width, CV_8UC1);
    cv::RNG rng(seed);
    rng.fill(image, cv::RNG::UNIFORM, 0, 256);
    if (sigma > 0.0) {
        cv::GaussianBlur(image, image, cv::Size(0, 0), sigma, sigma, cv::BORDER_REPLICATE);
        cv::normalize(image, image, 0, 255, cv::NORM_MINMAX);
    }
    return image;
}

template <typename TVector>
TVector ToVector(const cv::Mat& image)
{
    const cv::Mat continuous = image.isContinuous() ? image : image.clone();
    return TVector(continuous.datastart, continuous.dataend);
}

// The largest absolute difference of two 8-bit images.
inline double MaxDifference(const cv::Mat& a, const cv::Mat& b)
{
    return cv::norm(a, b, cv::NORM_INF);
}
