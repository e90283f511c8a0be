#pragma once

#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>

// Rectified test pairs for the stereo matcher tests.
namespace stereo_test {

// Random texture, lightly smoothed so that neighbouring disparities differ smoothly in cost.
inline cv::Mat Texture(cv::Size size, unsigned seed)
{
    cv::Mat noise(size, CV_8UC1);
    cv::RNG rng(seed);
    rng.fill(noise, cv::RNG::UNIFORM, 0, 256);
    cv::Mat smooth;
    cv::GaussianBlur(noise, smooth, cv::Size(3, 3), 0.8);
    return smooth;
}

// A pair whose right view is the left one shifted by `shift` pixels: left(x) = right(x - shift).
struct ShiftedPair {
    cv::Mat left;
    cv::Mat right;
};

inline ShiftedPair MakeShiftedPair(cv::Size size, int shift, unsigned seed)
{
    const cv::Mat base = Texture(cv::Size(size.width + shift, size.height), seed);
    return {base.colRange(0, size.width).clone(), base.colRange(shift, shift + size.width).clone()};
}

// A pair with a step in depth: the middle third of the rows is shifted by `near`, the rest by `far`.
inline ShiftedPair MakeSteppedPair(cv::Size size, int far, int near, unsigned seed)
{
    const ShiftedPair back = MakeShiftedPair(size, far, seed);
    const ShiftedPair front = MakeShiftedPair(size, near, seed + 1);
    ShiftedPair pair{back.left.clone(), back.right.clone()};
    const cv::Range rows(size.height / 3, 2 * size.height / 3);
    front.left.rowRange(rows).copyTo(pair.left.rowRange(rows));
    front.right.rowRange(rows).copyTo(pair.right.rowRange(rows));
    return pair;
}

}  // namespace stereo_test
