#include "StereoAnalyzer/StereoPeopleCounter/median_filters_collection.h"

#include <tbb/blocked_range.h>
#include <tbb/parallel_for.h>

#include <algorithm>
#include <cassert>
#include <cstring>

#include "CommonUtilities/algorithm_support/kiv_exception.h"

namespace stereo {

namespace {

inline void AddRow(const cv::Mat_<uchar>& img, int y, int x0, int x1, int sign, int* fine, int* coarse, int& count)
{
    const uchar* row = img[y];
    for (int x = x0; x <= x1; ++x) {
        fine[row[x]] += sign;
        coarse[row[x] >> 4] += sign;
    }
    count += sign * (x1 - x0 + 1);
}

// The smallest value whose cumulative count exceeds count / 2.
inline int MedianOfHistogram(const int* fine, const int* coarse, int count)
{
    const int target = count / 2;
    int sum = 0;
    int bin = 0;
    while (bin < 15 && sum + coarse[bin] <= target) sum += coarse[bin++];
    int v = bin * 16;
    const int last = v + 15;
    while (v < last && sum + fine[v] <= target) sum += fine[v++];
    return v;
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

template <template <int> class Impl, int N>
void HistMedFilter<Impl, N>::operator()(const cv::Mat_<uchar>** inputs, int radius, bool fill,
                                        cv::Mat_<uchar>& dst) const
{
    for (int i = 0; i < N; ++i) KIV_CHECK(inputs[i]->size() == dst.size(), "HistMedFilterSizes_140312_120301");
    // Columns run in parallel and read their neighbours: the output must not share an input's pixels.
    for (int i = 0; i < N; ++i)
        KIV_CHECK(dst.empty() || inputs[i]->data != dst.data, "HistMedFilterInPlace_140312_120303");
    KIV_CHECK(radius >= 1, "HistMedFilterRadius_140312_120302") << radius;
    const int rows = dst.rows;
    const int cols = dst.cols;
    const int r = radius;
    tbb::parallel_for(tbb::blocked_range<int>(0, cols), [&](const tbb::blocked_range<int>& range) {
        int fine[256];
        int coarse[16];
        const Impl<N> update;
        for (int x = range.begin(); x != range.end(); ++x) {
            std::memset(fine, 0, sizeof(fine));
            std::memset(coarse, 0, sizeof(coarse));
            int count = 0;
            RectPoints rect{std::max(x - r, 0), std::min(x + r, cols - 1), 0, 0};
            for (int y = 0; y < rows; ++y) {
                rect.y0 = std::max(y - r, 0);
                rect.y1 = std::min(y + r, rows - 1);
                if (y == 0)
                    update(inputs, rect, false, false, true, fine, coarse, count);
                else
                    update(inputs, rect, y + r < rows, y - r >= 1, false, fine, coarse, count);
                const int m = count > 0 ? MedianOfHistogram(fine, coarse, count) : 0;
                const uchar own = (*inputs[0])(y, x);
                dst(y, x) = fill ? (count > 0 && m >= 1 ? static_cast<uchar>(m) : own) : static_cast<uchar>(m);
            }
        }
    });
}

template struct HistMedCycleImpl<1>;
template struct HistMedCycleImpl<2>;
template struct HistMedFilter<HistMedCycleImpl, 1>;
template struct HistMedFilter<HistMedCycleImpl, 2>;

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
