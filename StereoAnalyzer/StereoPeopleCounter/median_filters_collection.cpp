#include "StereoAnalyzer/StereoPeopleCounter/median_filters_collection.h"

#include <tbb/blocked_range.h>
#include <tbb/global_control.h>
#include <tbb/parallel_for.h>
#include <tbb/partitioner.h>
#include <tbb/task_arena.h>

#include <algorithm>
#include <cassert>
#include <cstdint>
#include <cstring>
#include <vector>

#include "CommonUtilities/algorithm_support/kiv_exception.h"
#include "StereoAnalyzer/StereoPeopleCounter/column_histogram_median.h"
#include "StereoAnalyzer/StereoPeopleCounter/running_median.h"

namespace stereo {

namespace {

// Inclusive bounds of a median window.
struct RectPoints {
    int x0;
    int x1;
    int y0;
    int y1;
};

// Brings the 256-level and 16-level histograms of N pictures up to date for one move of the window
// down a column: the whole window, or the new bottom row added and the old top row removed.
template <int N>
struct HistMedCycleImpl {
    void operator()(const cv::Mat_<uchar>** inputs, const RectPoints& rect, bool add_bottom_row, bool remove_top_row,
                    bool whole_rect, int* fine, int* coarse, int& count) const;
};

// Square-window median over the union of the windows of N pictures, the window clipped to the picture,
// the histograms sliding down each column (columns run in parallel). With `fill` a median of 0 keeps
// the first picture's own value. The median is the sample of rank count / 2 (the upper one for an even
// count).
template <template <int> class Impl, int N>
struct HistMedFilter {
    void operator()(const cv::Mat_<uchar>** inputs, int radius, bool fill, cv::Mat_<uchar>& dst) const;
};

[[maybe_unused]] inline void AddRow(const cv::Mat_<uchar>& img, int y, int x0, int x1, int sign, int* fine, int* coarse,
                                    int& count)
{
    const uchar* row = img[y];
    for (int x = x0; x <= x1; ++x) {
        fine[row[x]] += sign;
        coarse[row[x] >> 4] += sign;
    }
    count += sign * (x1 - x0 + 1);
}

}  // namespace

template <int N>
void HistMedCycleImpl<N>::operator()(const cv::Mat_<uchar>** inputs, const RectPoints& rect, bool add_bottom_row,
                                     bool remove_top_row, bool whole_rect, int* fine, int* coarse, int& count) const
{
    for (int i = 0; i < N; ++i) {
        const cv::Mat_<uchar>& img = *inputs[i];
        if (whole_rect) {
            for (int y = rect.y0; y <= rect.y1; ++y) AddRow(img, y, rect.x0, rect.x1, 1, fine, coarse, count);
            continue;
        }
        if (add_bottom_row && remove_top_row) {
            // The window slides by one row: equal samples entering and leaving change nothing,
            // which spares most of the work on the flat (often empty) parts of a height map.
            const uchar* entering = img[rect.y1];
            const uchar* leaving = img[rect.y0 - 1];
            for (int x = rect.x0; x <= rect.x1; ++x) {
                const int in = entering[x], out = leaving[x];
                if (in == out)
                    continue;
                ++fine[in];
                --fine[out];
                ++coarse[in >> 4];
                --coarse[out >> 4];
            }
            continue;
        }
        if (add_bottom_row)
            AddRow(img, rect.y1, rect.x0, rect.x1, 1, fine, coarse, count);
        if (remove_top_row)
            AddRow(img, rect.y0 - 1, rect.x0, rect.x1, -1, fine, coarse, count);
    }
}

namespace {

// The running-median walk: each task snakes down and up its columns with one histogram of 32-bit
// counters (for windows whose column counts could pass 16 bits).
template <int N>
void SnakeMedian(const cv::Mat_<uchar>** inputs, int r, bool fill, cv::Mat_<uchar>& dst)
{
    const int rows = dst.rows;
    const int cols = dst.cols;
    // Each task walks its columns as a snake: down one column, one step right, up the next, so the
    // histogram is built once per task and every move changes one row or one column of the window
    // (both clipped to the picture).
    tbb::parallel_for(tbb::blocked_range<int>(0, cols, 16), [&](const tbb::blocked_range<int>& range) {
        RunningMedian window;
        auto addRow = [&](int y, int xa, int xb, bool add) {
            for (int i = 0; i < N; ++i) {
                const uchar* row = (*inputs[i])[y];
                for (int x = xa; x <= xb; ++x) add ? window.Add(row[x]) : window.Remove(row[x]);
            }
        };
        auto replaceRow = [&](int yIn, int yOut, int xa, int xb) {
            for (int i = 0; i < N; ++i) {
                const uchar* in = (*inputs[i])[yIn];
                const uchar* out = (*inputs[i])[yOut];
                for (int x = xa; x <= xb; ++x) window.Replace(in[x], out[x]);
            }
        };
        auto addColumn = [&](int x, int ya, int yb, bool add) {
            for (int i = 0; i < N; ++i)
                for (int y = ya; y <= yb; ++y) add ? window.Add((*inputs[i])(y, x)) : window.Remove((*inputs[i])(y, x));
        };

        const int x0 = range.begin();
        for (int y = 0; y <= std::min(r, rows - 1); ++y)
            addRow(y, std::max(x0 - r, 0), std::min(x0 + r, cols - 1), true);
        int y = 0;
        for (int x = x0; x != range.end(); ++x) {
            const int xa = std::max(x - r, 0), xb = std::min(x + r, cols - 1);
            if (x != x0) {
                const int ya = std::max(y - r, 0), yb = std::min(y + r, rows - 1);
                if (x + r < cols)
                    addColumn(x + r, ya, yb, true);
                if (x - r - 1 >= 0)
                    addColumn(x - r - 1, ya, yb, false);
            }
            const bool down = ((x - x0) % 2) == 0;
            for (int n = 0; n < rows; ++n) {
                const int count = window.Count();
                const int m = count > 0 ? window.Median(count / 2) : 0;
                const uchar own = (*inputs[0])(y, x);
                dst(y, x) = fill ? (count > 0 && m >= 1 ? static_cast<uchar>(m) : own) : static_cast<uchar>(m);
                if (n + 1 == rows)
                    break;
                const int next = down ? y + 1 : y - 1;
                const int entering = down ? next + r : next - r;  // inside the picture or not
                const int leaving = down ? y - r : y + r;
                const bool enters = entering >= 0 && entering < rows;
                const bool leaves = leaving >= 0 && leaving < rows;
                if (enters && leaves)
                    replaceRow(entering, leaving, xa, xb);
                else if (enters)
                    addRow(entering, xa, xb, true);
                else if (leaves)
                    addRow(leaving, xa, xb, false);
                y = next;
            }
        }
    });
}

}  // namespace

template <template <int> class Impl, int N>
void HistMedFilter<Impl, N>::operator()(const cv::Mat_<uchar>** inputs, int radius, bool fill,
                                        cv::Mat_<uchar>& dst) const
{
    for (int i = 0; i < N; ++i) KIV_CHECK(inputs[i]->size() == dst.size(), "HistMedFilterSizes_140312_120301");
    // Columns run in parallel and read their neighbours: the output must not share an input's pixels.
    for (int i = 0; i < N; ++i)
        KIV_CHECK(dst.empty() || inputs[i]->data != dst.data, "HistMedFilterInPlace_140312_120303");
    KIV_CHECK(radius >= 1, "HistMedFilterRadius_140312_120302") << radius;
    if (dst.empty())
        return;
    // Windows clipped to the picture are the same for every radius from its larger side on.
    const int r = std::min(radius, std::max(dst.rows, dst.cols));
    // The column histograms, whose cost does not grow with the radius, while a window's counts fit
    // their 16-bit counters; else the running median.
    const int64_t side = 2 * static_cast<int64_t>(r) + 1;
    const int64_t windowCount = N * std::min<int64_t>(side, dst.rows) * std::min<int64_t>(side, dst.cols);
    if (windowCount > 65535) {
        SnakeMedian<N>(inputs, r, fill, dst);
        return;
    }
    // One band of columns per thread that may run: each band also keeps the histograms of the 2 r
    // columns around it.
    const int threads = std::max(
        1, std::min<int>(tbb::this_task_arena::max_concurrency(), static_cast<int>(tbb::global_control::active_value(
                                                                      tbb::global_control::max_allowed_parallelism))));
    const int band = std::max((dst.cols + threads - 1) / threads, 2 * r + 1);
    tbb::parallel_for(
        tbb::blocked_range<int>(0, dst.cols, band),
        [&](const tbb::blocked_range<int>& range) {
            median_detail::ColumnHistogramMedian<N>(inputs, r, fill, false, dst).Run(range.begin(), range.end());
        },
        tbb::simple_partitioner());
}

void DoubleMedianFilter(const cv::Mat_<uchar>& a, const cv::Mat_<uchar>& b, int radius, cv::Mat_<uchar>& dst)
{
    const cv::Mat_<uchar>* inputs[2] = {&a, &b};
    HistMedFilter<HistMedCycleImpl, 2>()(inputs, radius, false, dst);
}

void DoubleMedianFilterFill(const cv::Mat_<uchar>& a, const cv::Mat_<uchar>& b, int radius, cv::Mat_<uchar>& dst)
{
    const cv::Mat_<uchar>* inputs[2] = {&a, &b};
    HistMedFilter<HistMedCycleImpl, 2>()(inputs, radius, true, dst);
}

void MedianFilterFill(const cv::Mat_<uchar>& a, int radius, cv::Mat_<uchar>& dst)
{
    const cv::Mat_<uchar>* inputs[1] = {&a};
    HistMedFilter<HistMedCycleImpl, 1>()(inputs, radius, true, dst);
}

}  // namespace stereo
