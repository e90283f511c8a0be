#pragma once

#include <cmath>
#include <cstdint>
#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>

// Rectified test pairs for the stereo matcher tests.
namespace stereo_test {

// Random texture, lightly smoothed so that neighbouring disparities differ smoothly in cost and every
// column has a unique match.
inline cv::Mat Texture(cv::Size size, uint64_t seed, int channels = 1)
{
    cv::Mat noise(size, CV_8UC(channels));
    cv::RNG rng(seed);
    rng.fill(noise, cv::RNG::UNIFORM, 0, 256);
    cv::Mat smooth;
    cv::GaussianBlur(noise, smooth, cv::Size(3, 3), 0.8);
    return smooth;
}

struct ShiftedPair {
    cv::Mat left;
    cv::Mat right;
};

// One fronto-parallel plane: left(x) = right(x - shift).
inline ShiftedPair MakeShiftedPair(cv::Size size, int shift, uint64_t seed, int channels = 1)
{
    const cv::Mat base = Texture(cv::Size(size.width + shift, size.height), seed, channels);
    return {base.colRange(0, size.width).clone(), base.colRange(shift, shift + size.width).clone()};
}

// A step in depth: the middle third of the rows is shifted by `near`, the rest by `far`.
inline ShiftedPair MakeSteppedPair(cv::Size size, int far, int near, uint64_t seed)
{
    const ShiftedPair back = MakeShiftedPair(size, far, seed);
    const ShiftedPair front = MakeShiftedPair(size, near, seed + 1);
    ShiftedPair pair{back.left.clone(), back.right.clone()};
    const cv::Range rows(size.height / 3, 2 * size.height / 3);
    front.left.rowRange(rows).copyTo(pair.left.rowRange(rows));
    front.right.rowRange(rows).copyTo(pair.right.rowRange(rows));
    return pair;
}

// A textured background plane at disparity `back` with a textured box in front at `front`.
inline ShiftedPair MakeBoxPair(cv::Size size, int back, int front, uint64_t seed)
{
    ShiftedPair pair = MakeShiftedPair(size, back, seed);
    const cv::Mat fg = Texture(size, seed + 1);
    const cv::Rect box(size.width / 3, size.height / 4, size.width / 3, size.height / 2);
    fg(box).copyTo(pair.left(box));
    fg(box).copyTo(pair.right(box - cv::Point(front, 0)));
    return pair;
}

inline int CountDifferent(const cv::Mat& a, const cv::Mat& b)
{
    return cv::countNonZero(a != b);
}

// Share of pixels, among those whose true match lies inside the other image (shift > 0: the left
// view, true disparity shift; shift < 0: the right view), whose 16-unit disparity lies within
// `tolerance16` sixteenths (by default one pixel) of the truth.
inline double ShareNearTruth(const cv::Mat& disp16, int shift, int tolerance16 = 16)
{
    int matchable = 0;
    int near = 0;
    for (int y = 0; y < disp16.rows; ++y) {
        for (int x = 0; x < disp16.cols; ++x) {
            if (x - shift < 0 || x - shift >= disp16.cols)
                continue;
            ++matchable;
            near += std::abs(disp16.at<short>(y, x) - shift * 16) <= tolerance16;
        }
    }
    return matchable ? static_cast<double>(near) / matchable : 0.0;
}

}  // namespace stereo_test
