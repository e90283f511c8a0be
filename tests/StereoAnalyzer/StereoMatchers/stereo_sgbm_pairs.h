#pragma once

#include <cmath>
#include <cstdint>
#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>

namespace sgbm_test {

// Smoothed random texture with a fixed seed: rich enough that every column has a unique match.
inline cv::Mat Texture(int width, int height, int channels, uint64_t seed)
{
    cv::Mat noise(height, width, CV_8UC(channels));
    cv::RNG rng(seed);
    rng.fill(noise, cv::RNG::UNIFORM, 0, 256);
    cv::Mat smooth;
    cv::GaussianBlur(noise, smooth, cv::Size(3, 3), 0.8);
    return smooth;
}

// A rectified pair of one fronto-parallel plane: left(x) = right(x - shift).
struct ShiftedPair {
    cv::Mat left;
    cv::Mat right;
    int shift = 0;
};

inline ShiftedPair MakeShiftedPair(int width, int height, int shift, int channels = 1, uint64_t seed = 7)
{
    const cv::Mat texture = Texture(width + shift, height, channels, seed);
    ShiftedPair pair;
    pair.left = texture(cv::Rect(0, 0, width, height)).clone();
    pair.right = texture(cv::Rect(shift, 0, width, height)).clone();
    pair.shift = shift;
    return pair;
}

// A textured background plane at disparity `back` with a textured box in front at `front`.
inline ShiftedPair MakeBoxPair(int width, int height, int back, int front, uint64_t seed = 11)
{
    const cv::Mat bg = Texture(width + back, height, 1, seed);
    const cv::Mat fg = Texture(width, height, 1, seed + 1);
    ShiftedPair pair;
    pair.left = bg(cv::Rect(0, 0, width, height)).clone();
    pair.right = bg(cv::Rect(back, 0, width, height)).clone();
    const cv::Rect box(width / 3, height / 4, width / 3, height / 2);
    fg(box).copyTo(pair.left(box));
    fg(box).copyTo(pair.right(box - cv::Point(front, 0)));
    pair.shift = back;
    return pair;
}

// Share of pixels, among those whose true match lies inside the other image (shift > 0: the left
// view, true disparity shift; shift < 0: the right view), whose 16-unit disparity lies within one
// pixel of the truth.
inline double ShareNearTruth(const cv::Mat& disp16, int shift)
{
    int matchable = 0;
    int near = 0;
    for (int y = 0; y < disp16.rows; ++y) {
        for (int x = 0; x < disp16.cols; ++x) {
            const int x2 = x - shift;
            if (x2 < 0 || x2 >= disp16.cols)
                continue;
            ++matchable;
            if (std::abs(disp16.at<short>(y, x) - shift * 16) <= 16)
                ++near;
        }
    }
    return matchable ? static_cast<double>(near) / matchable : 0.0;
}

}  // namespace sgbm_test
