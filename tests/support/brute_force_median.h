#pragma once

#include <algorithm>
#include <opencv2/core.hpp>
#include <vector>

// The height-map medians computed the slow, obvious way, sample by sample: the reference the median
// tests and the median benchmark check our filters against.
namespace testing_support {

// At (y, x), the sample of rank count / 2 (0-based, the upper median for an even count) of the
// (2 r + 1) x (2 r + 1) windows of all inputs around it, each window clipped to the picture. With
// `fill` a median of 0 keeps the first input's own value.
inline uchar BruteForceMedianAt(const std::vector<cv::Mat_<uchar>>& inputs, int r, bool fill, int y, int x)
{
    const cv::Mat_<uchar>& first = inputs[0];
    const int top = std::max(y - r, 0), bottom = std::min(y + r, first.rows - 1);
    const int left = std::max(x - r, 0), right = std::min(x + r, first.cols - 1);
    int counts[256] = {};
    int samples = 0;
    for (const cv::Mat_<uchar>& in : inputs)
        for (int v = top; v <= bottom; ++v) {
            const uchar* row = in[v];
            for (int u = left; u <= right; ++u, ++samples) ++counts[row[u]];
        }
    // The smallest value with more than samples / 2 samples at or below it.
    int m = 0;
    for (int below = counts[0]; below <= samples / 2; below += counts[++m]) {
    }
    return fill && m == 0 ? first(y, x) : static_cast<uchar>(m);
}

// The same for every pixel.
inline cv::Mat_<uchar> BruteForceMedian(const std::vector<cv::Mat_<uchar>>& inputs, int r, bool fill)
{
    cv::Mat_<uchar> out(inputs[0].size());
    for (int y = 0; y < out.rows; ++y)
        for (int x = 0; x < out.cols; ++x) out(y, x) = BruteForceMedianAt(inputs, r, fill, y, x);
    return out;
}

}  // namespace testing_support
