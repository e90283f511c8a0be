#include "StereoAnalyzer/StereoPeopleCounter/square_window_median.h"

#include <tbb/blocked_range.h>
#include <tbb/global_control.h>
#include <tbb/parallel_for.h>
#include <tbb/partitioner.h>
#include <tbb/task_arena.h>

#include <algorithm>
#include <cstdint>

#include "CommonUtilities/algorithm_support/kernel_path.h"
#include "StereoAnalyzer/StereoPeopleCounter/column_histogram_median.h"
#include "StereoAnalyzer/StereoPeopleCounter/running_median.h"
#include "StereoAnalyzer/StereoPeopleCounter/sorted_columns_median.h"

namespace stereo {
namespace median_detail {

namespace {

using AlgoLibrary::KernelPath;

// Runs body(begin, end) over [0, count) in one band per thread that may run (the arena's and the
// process's limits), each band at least minBand long; the caller waits for all of them.
template <class Body>
void RunInBands(int count, int minBand, const Body& body)
{
    const int threads = std::max(
        1, std::min<int>(tbb::this_task_arena::max_concurrency(), static_cast<int>(tbb::global_control::active_value(
                                                                      tbb::global_control::max_allowed_parallelism))));
    const int band = std::max((count + threads - 1) / threads, minBand);
    if (band >= count) {
        body(0, count);
        return;
    }
    tbb::parallel_for(
        tbb::blocked_range<int>(0, count, band),
        [&](const tbb::blocked_range<int>& range) { body(range.begin(), range.end()); }, tbb::simple_partitioner());
}

template <int kRadius>
void RunSortedColumns(const MedianInputs& in, cv::Mat_<uchar>& dst, KernelPath path)
{
    // Rows are independent: each band of rows sorts its own columns.
    RunInBands(dst.rows, 8, [&](int y0, int y1) {
        SortedColumnsMedian<kRadius> median(in, dst);
        if (path == KernelPath::kVector && dst.cols >= VectorOps::kLanes)
            median.template Run<VectorOps>(y0, y1);
        else
            median.template Run<PixelOps>(y0, y1);
    });
}

template <int N, class Count>
void RunColumnHistograms(const MedianInputs& in, cv::Mat_<uchar>& dst, KernelPath path)
{
    // Each band of columns also keeps the histograms of the r columns on either side of it.
    RunInBands(dst.cols, 2 * in.radius + 1, [&](int x0, int x1) {
        ColumnHistogramMedian<N, Count> median(in, dst);
        if (path == KernelPath::kVector)
            median.template Run<KernelPath::kVector>(x0, x1);
        else
            median.template Run<KernelPath::kScalar>(x0, x1);
    });
}

}  // namespace

void SquareWindowMedian(const MedianInputs& inputs, cv::Mat_<uchar>& dst)
{
    if (dst.empty())
        return;
    MedianInputs in = inputs;
    // Windows cut at the edges are the same for every radius from the picture's larger side on.
    if (in.borders == Borders::kClip)
        in.radius = std::min(in.radius, std::max(dst.rows, dst.cols));
    const int r = in.radius;
    const KernelPath path = AlgoLibrary::ActiveKernelPath();
    switch (r) {
        case 1:
            RunSortedColumns<1>(in, dst, path);
            return;
        case 2:
            RunSortedColumns<2>(in, dst, path);
            return;
        case 3:
            RunSortedColumns<3>(in, dst, path);
            return;
        default:
            break;
    }

    const int64_t side = 2 * static_cast<int64_t>(r) + 1;
    const int64_t samples = in.borders == Borders::kReplicate
                                ? side * side
                                : in.count * std::min<int64_t>(side, dst.rows) * std::min<int64_t>(side, dst.cols);
    if (samples <= 65535) {
        // Columns of up to 255 samples count in 8 bits: half the memory to go through.
        const int64_t columnSamples =
            in.count * (in.borders == Borders::kReplicate ? side : std::min<int64_t>(side, dst.rows));
        if (in.count == 2 && columnSamples <= 255)
            RunColumnHistograms<2, uint8_t>(in, dst, path);
        else if (in.count == 2)
            RunColumnHistograms<2, uint16_t>(in, dst, path);
        else if (columnSamples <= 255)
            RunColumnHistograms<1, uint8_t>(in, dst, path);
        else
            RunColumnHistograms<1, uint16_t>(in, dst, path);
        return;
    }
    RunInBands(dst.cols, 16, [&](int x0, int x1) { RunningMedianWalk(in, dst).Run(x0, x1); });
}

}  // namespace median_detail
}  // namespace stereo
