#pragma once

#include <opencv2/core.hpp>

// The one square-window median behind the height maps' filters (internal to the median filters).
namespace stereo {
namespace median_detail {

// How a window meets the picture's edges: the edge rows and columns repeated outside the picture
// (every window holds (2 r + 1)^2 samples per picture), or the window cut at the edges.
enum class Borders { kReplicate, kClip };

// One median: one or two pictures of the output's size, not sharing its pixels.
struct MedianInputs {
    const cv::Mat_<uchar>* pictures[2] = {nullptr, nullptr};
    int count = 1;   // 1 or 2; with replicated borders 1
    int radius = 1;  // at least 1
    Borders borders = Borders::kClip;
    bool fill = false;  // a median of 0 keeps the first picture's own value
};

// dst(y, x) := the sample of rank n / 2 (0-based: the upper median for an even n) of the n samples of
// the windows of every picture around (y, x). The work is split into one band per thread that may
// run (the caller waits). Radii 1 to 3 take comparison networks over sorted columns, larger windows
// per-column histograms, and windows of more than 65535 samples a running histogram.
void SquareWindowMedian(const MedianInputs& inputs, cv::Mat_<uchar>& dst);

// The windows of more than 65535 samples up to this radius (the samples of a replicated window are
// counted in an int).
constexpr int kMaxReplicatedRadius = 23169;

}  // namespace median_detail
}  // namespace stereo
