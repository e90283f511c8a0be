#include "StereoAnalyzer/StereoPeopleCounter/median_filters_opencv.h"

#include <tbb/blocked_range.h>
#include <tbb/global_control.h>
#include <tbb/parallel_for.h>
#include <tbb/partitioner.h>
#include <tbb/task_arena.h>

#include <algorithm>
#include <cstdint>
#include <opencv2/imgproc.hpp>

#include "StereoAnalyzer/StereoPeopleCounter/column_histogram_median.h"
#include "StereoAnalyzer/StereoPeopleCounter/running_median.h"

namespace stereo {

namespace {

// The median of a bordered picture from per-column histograms summed along each row (bands of
// columns in parallel; Huang's running histogram for windows whose counts pass 16 bits).
void MedianBlur8uOm(const cv::Mat& bordered, cv::Mat& dst, int radius)
{
    const cv::Mat& _src = bordered;
    CV_Assert(_src.channels() == 1);
    const int r = radius;
    CV_Assert(r >= 1 && bordered.cols > 2 * r);
    dst.create(bordered.rows, bordered.cols - 2 * r, CV_8UC1);
    if ((2 * static_cast<int64_t>(r) + 1) * (2 * r + 1) <= 65535) {
        // Per-column histograms summed along each row, one band of columns per thread: the cost does
        // not grow with the radius.
        const cv::Mat_<uchar> source = bordered;
        cv::Mat_<uchar> out = dst;
        const cv::Mat_<uchar>* inputs[1] = {&source};
        const int threads = std::max(
            1, std::min<int>(
                   tbb::this_task_arena::max_concurrency(),
                   static_cast<int>(tbb::global_control::active_value(tbb::global_control::max_allowed_parallelism))));
        const int band = std::max((out.cols + threads - 1) / threads, 2 * r + 1);
        tbb::parallel_for(
            tbb::blocked_range<int>(0, out.cols, band),
            [&](const tbb::blocked_range<int>& range) {
                median_detail::ColumnHistogramMedian<1>(inputs, r, false, true, out).Run(range.begin(), range.end());
            },
            tbb::simple_partitioner());
        return;
    }
    const int rows = bordered.rows;
    const int cols = dst.cols;
    const int width = 2 * r + 1;
    const int target = width * width / 2;
    // Row i of the replicated picture, for i in -r - 1 .. rows + r.
    cv::AutoBuffer<const uchar*, 512> rowBuffer(static_cast<size_t>(rows) + 2 * r + 2);
    const uchar** rowAt = rowBuffer.data() + r + 1;
    for (int i = -r - 1; i <= rows + r; ++i) rowAt[i] = bordered.ptr<uchar>(std::min(std::max(i, 0), rows - 1));

    // Each task walks its columns as a snake: down one column, one step right, up the next, so the
    // histogram is built once per task and every move replaces one row or one column of the window.
    tbb::parallel_for(tbb::blocked_range<int>(0, cols, 16), [&](const tbb::blocked_range<int>& range) {
        RunningMedian window;
        const int x0 = range.begin();
        for (int i = -r; i <= r; ++i)
            for (int k = 0; k < width; ++k) window.Add(rowAt[i][x0 + k]);
        int y = 0;
        for (int x = x0; x != range.end(); ++x) {
            if (x != x0) {
                for (int i = y - r; i <= y + r; ++i) window.Replace(rowAt[i][x + 2 * r], rowAt[i][x - 1]);
            }
            const bool down = ((x - x0) % 2) == 0;
            for (int n = 0; n < rows; ++n) {
                dst.ptr<uchar>(y)[x] = static_cast<uchar>(window.Median(target));
                if (n + 1 == rows)
                    break;
                const uchar* entering = (down ? rowAt[y + r + 1] : rowAt[y - r - 1]) + x;
                const uchar* leaving = (down ? rowAt[y - r] : rowAt[y + r]) + x;
                for (int k = 0; k < width; ++k) window.Replace(entering[k], leaving[k]);
                y += down ? 1 : -1;
            }
        }
    });
}

// The constant-time median of a bordered picture; dst (the unbordered size) gets its middle columns.
void MedianBlur8uO1(const cv::Mat& bordered, cv::Mat& dst, int ksize)
{
    // The per-column histograms are this constant-time algorithm; OpenCV's serves the largest
    // windows, whose counts pass 16 bits.
    const int r = ksize / 2;
    if (ksize % 2 == 1 && r >= 1 && bordered.cols > 2 * r && (2 * static_cast<int64_t>(r) + 1) * (2 * r + 1) <= 65535) {
        MedianBlur8uOm(bordered, dst, r);
        return;
    }
    thread_local cv::Mat whole;
    cv::medianBlur(bordered, whole, ksize);
    dst.create(bordered.rows, bordered.cols - 2 * r, CV_8UC1);
    whole(cv::Rect(r, 0, dst.cols, dst.rows)).copyTo(dst);
}

}  // namespace

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
