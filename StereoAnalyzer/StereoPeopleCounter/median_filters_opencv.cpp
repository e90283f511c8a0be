#include "StereoAnalyzer/StereoPeopleCounter/median_filters_opencv.h"

#include <tbb/blocked_range.h>
#include <tbb/parallel_for.h>

#include <algorithm>
#include <cstring>
#include <opencv2/imgproc.hpp>

namespace stereo {

namespace {

inline void AddSamples(const uchar* p, int n, int sign, int* fine, int* coarse)
{
    for (int i = 0; i < n; ++i) {
        fine[p[i]] += sign;
        coarse[p[i] >> 4] += sign;
    }
}

inline uchar Median(const int* fine, const int* coarse, int target)
{
    int sum = 0;
    int bin = 0;
    while (bin < 15 && sum + coarse[bin] <= target) sum += coarse[bin++];
    int v = bin * 16;
    const int last = v + 15;
    while (v < last && sum + fine[v] <= target) sum += fine[v++];
    return static_cast<uchar>(v);
}

}  // namespace

void MedianBlur8uOm(const cv::Mat& bordered, cv::Mat& dst, int radius)
{
    const cv::Mat& _src = bordered;
    CV_Assert(_src.channels() == 1);
    const int r = radius;
    CV_Assert(r >= 1 && bordered.cols > 2 * r);
    dst.create(bordered.rows, bordered.cols - 2 * r, CV_8UC1);
    const int rows = bordered.rows;
    const int cols = dst.cols;
    const int width = 2 * r + 1;
    const int target = width * width / 2;
    tbb::parallel_for(tbb::blocked_range<int>(0, cols), [&](const tbb::blocked_range<int>& range) {
        int fine[256];
        int coarse[16];
        for (int x = range.begin(); x != range.end(); ++x) {
            std::memset(fine, 0, sizeof(fine));
            std::memset(coarse, 0, sizeof(coarse));
            // Even columns run down, odd ones up; "first" is the row the walk starts from.
            const bool down = (x % 2) == 0;
            const int step = down ? 1 : -1;
            const int first = down ? 0 : rows - 1;
            auto row_at = [&](int y) {
                const int clamped = std::min(std::max(y, 0), rows - 1);
                return bordered.ptr<uchar>(clamped) + x;
            };
            AddSamples(row_at(first), width, r + 1, fine, coarse);
            for (int k = 1; k <= r; ++k) AddSamples(row_at(first + step * k), width, 1, fine, coarse);
            for (int i = 0, y = first; i < rows; ++i, y += step) {
                dst.at<uchar>(y, x) = Median(fine, coarse, target);
                // One row enters and one leaves; equal samples cancel and need no update.
                const uchar* entering = row_at(y + step * (r + 1));
                const uchar* leaving = row_at(y - step * r);
                for (int k = 0; k < width; ++k) {
                    const int in = entering[k], out = leaving[k];
                    if (in == out)
                        continue;
                    ++fine[in];
                    --fine[out];
                    ++coarse[in >> 4];
                    --coarse[out >> 4];
                }
            }
        }
    });
}

void MedianBlur8uO1(const cv::Mat& bordered, cv::Mat& dst, int ksize)
{
    thread_local cv::Mat whole;
    cv::medianBlur(bordered, whole, ksize);
    const int r = ksize / 2;
    dst.create(bordered.rows, bordered.cols - 2 * r, CV_8UC1);
    whole(cv::Rect(r, 0, dst.cols, dst.rows)).copyTo(dst);
}

void MedianFilterOpenCV(const cv::Mat& src, int radius, bool use_om, cv::Mat& bordered, cv::Mat& dst)
{
    dst.create(src.size(), src.type());
    if (radius < 1) {
        src.copyTo(dst);
        return;
    }
    cv::copyMakeBorder(src, bordered, 0, 0, radius, radius, cv::BORDER_REPLICATE);
    const cv::Mat& buf = bordered;
    const cv::Mat& mat = src;
    CV_Assert(buf.depth() == CV_8U && mat.channels() == 1);
    if (use_om)
        MedianBlur8uOm(bordered, dst, radius);
    else
        MedianBlur8uO1(bordered, dst, 2 * radius + 1);
}

}  // namespace stereo
