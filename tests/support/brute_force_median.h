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
    for (const cv::Mat_<uchar>& in : inputs)
        for (int v = top; v <= bottom; ++v)
            for (const uchar *p = in[v] + left, *end = in[v] + right + 1; p != end; ++p) ++counts[*p];
    const int samples = static_cast<int>(inputs.size()) * (bottom - top + 1) * (right - left + 1);
    // The smallest value with more than samples / 2 samples at or below it.
    int m = 0;
    for (int below = counts[0]; below <= samples / 2; below += counts[++m]) {
    }
    return fill && m == 0 ? first(y, x) : static_cast<uchar>(m);
}

// The same for every pixel; the count of each window's samples is carried along the row (a column
// of samples enters and one leaves between neighbours).
inline cv::Mat_<uchar> BruteForceMedian(const std::vector<cv::Mat_<uchar>>& inputs, int r, bool fill)
{
    const cv::Mat_<uchar>& first = inputs[0];
    cv::Mat_<uchar> out(first.size());
    for (int y = 0; y < out.rows; ++y) {
        const int top = std::max(y - r, 0), bottom = std::min(y + r, out.rows - 1);
        int counts[256] = {};
        auto column = [&](int u, int change) {
            if (u < 0 || u >= out.cols)
                return;
            for (const cv::Mat_<uchar>& in : inputs)
                for (int v = top; v <= bottom; ++v) counts[in(v, u)] += change;
        };
        for (int u = 0; u < r; ++u) column(u, 1);
        for (int x = 0; x < out.cols; ++x) {
            column(x + r, 1);
            column(x - r - 1, -1);
            const int columns = std::min(x + r, out.cols - 1) - std::max(x - r, 0) + 1;
            const int samples = static_cast<int>(inputs.size()) * (bottom - top + 1) * columns;
            int m = 0;
            for (int below = counts[0]; below <= samples / 2; below += counts[++m]) {
            }
            out(y, x) = fill && m == 0 ? first(y, x) : static_cast<uchar>(m);
        }
    }
    return out;
}

}  // namespace testing_support
