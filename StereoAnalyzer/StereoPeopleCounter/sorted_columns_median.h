#pragma once

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <opencv2/core.hpp>
#include <opencv2/core/hal/intrin.hpp>
#include <utility>
#include <vector>

#include "StereoAnalyzer/StereoPeopleCounter/median_networks.h"
#include "StereoAnalyzer/StereoPeopleCounter/square_window_median.h"

// The medians of windows of radius 1 to 3 (internal to the median filters): comparison networks
// over sorted columns, one output row at a time.
namespace stereo {
namespace median_detail {

// The networks' values one pixel at a time.
struct PixelOps {
    using V = uchar;
    static constexpr int kLanes = 1;
    static V Load(const uchar* p) { return *p; }
    static void Store(uchar* p, V v) { *p = v; }
    static V Min(V a, V b) { return std::min(a, b); }
    static V Max(V a, V b) { return std::max(a, b); }
    static V KeepOwnWhereZero(V median, V own) { return median == 0 ? own : median; }
};

#if CV_SIMD128
// The networks' values 16 pixels at a time.
struct VectorOps {
    using V = cv::v_uint8x16;
    static constexpr int kLanes = 16;
    static V Load(const uchar* p) { return cv::v_load(p); }
    static void Store(uchar* p, const V& v) { cv::v_store(p, v); }
    static V Min(const V& a, const V& b) { return cv::v_min(a, b); }
    static V Max(const V& a, const V& b) { return cv::v_max(a, b); }
    static V KeepOwnWhereZero(const V& median, const V& own)
    {
        return cv::v_select(median == cv::v_setzero_u8(), own, median);
    }
};
#else
// Without vector instructions the vector path takes pixels one at a time too.
using VectorOps = PixelOps;
#endif

// Calls f(i) for the blocks of kLanes values that cover [0, n) (n >= kLanes); the last block is moved
// back to end at n, so it may cover values of the one before again.
template <int kLanes, class F>
inline void ForBlocks(int n, const F& f)
{
    for (int i = 0;; i += kLanes) {
        i = std::min(i, n - kLanes);
        f(i);
        if (i == n - kLanes)
            return;
    }
}

// Every output row sorts the samples of each column of its windows once (the column's window rows
// of every picture); the window of a pixel is then 2 r + 1 sorted columns, from which a selection
// network takes the median.
//
// The windows' edges become columns and rows of known samples. Replicated borders repeat the edge
// rows and columns. A window cut at the edges holds fewer samples and its median has rank count / 2;
// with equal numbers of 0s and 255s in place of the missing samples of two pictures (0 for the
// first, 255 for the second) the full window's median is the same value. One picture is taken twice
// for that in the rows within r of the top and bottom; in the other rows only whole columns are
// missing, and each column beyond the edge holds as many 0s as keep the rank (r or r + 1 of them).
template <int kRadius>
class SortedColumnsMedian {
public:
    static constexpr int kSide = 2 * kRadius + 1;

    SortedColumnsMedian(const MedianInputs& inputs, cv::Mat_<uchar>& dst)
        : m_in(inputs), m_dst(dst), m_rows(dst.rows), m_cols(dst.cols), m_stride(dst.cols + 2 * kRadius)
    {
        // Zeros of the column at distance j beyond a left or right edge, for one picture: the window
        // of the pixel at distance d from the edge misses the columns 1 .. r - d and then holds
        // c = side (r + 1 + d) samples; its median has rank c / 2 and the full window's n / 2.
        auto zerosFor = [](int d) {
            constexpr int n = kSide * kSide;
            return (n - 1) / 2 - kSide * (kRadius + 1 + d) / 2;
        };
        for (int j = 1; j <= kRadius; ++j) m_edgeZeros[j] = zerosFor(kRadius - j) - zerosFor(kRadius - j + 1);
    }

    // Output rows [y0, y1).
    template <class Ops>
    void Run(int y0, int y1)
    {
        // Work memory of this thread, grown once to the largest size asked for: the sorted columns
        // (up to two pictures) and a row of 0s and one of 255s.
        thread_local std::vector<uchar> work;
        const size_t sortedSize = static_cast<size_t>(2 * kSide) * m_stride;
        if (work.size() < sortedSize + 2 * static_cast<size_t>(m_cols))
            work.resize(sortedSize + 2 * static_cast<size_t>(m_cols));
        m_sorted = work.data();
        m_zeros = work.data() + sortedSize;
        m_maxes = m_zeros + m_cols;
        std::memset(m_zeros, 0, m_cols);
        std::memset(m_maxes, 255, m_cols);

        const cv::Mat_<uchar>& first = *m_in.pictures[0];
        const cv::Mat_<uchar>& second = m_in.count == 2 ? *m_in.pictures[1] : first;
        const uchar* rows[2 * kSide];
        for (int y = y0; y < y1; ++y) {
            if (m_in.borders == Borders::kReplicate) {
                for (int k = 0; k < kSide; ++k) rows[k] = first[std::min(std::max(y - kRadius + k, 0), m_rows - 1)];
                RunRow<Ops, 1>(y, rows, -1);
                continue;
            }
            const bool inside = y >= kRadius && y < m_rows - kRadius && m_cols >= kSide;
            if (m_in.count == 1 && inside) {
                for (int k = 0; k < kSide; ++k) rows[k] = first[y - kRadius + k];
                RunRow<Ops, 1>(y, rows, 0);
                continue;
            }
            for (int k = 0; k < kSide; ++k) {
                const int row = y - kRadius + k;
                const bool within = row >= 0 && row < m_rows;
                rows[k] = within ? first[row] : m_zeros;
                rows[kSide + k] = within ? second[row] : m_maxes;
            }
            RunRow<Ops, 2>(y, rows, kSide);
        }
    }

private:
    // One output row from the kPictures * side rows of the windows (rows[k], some of them a row of
    // 0s or 255s). Columns beyond the edges repeat the edge column (edgeZeros < 0), hold edgeZeros 0s
    // and then 255s (edgeZeros > 0), or the 0s that keep the rank of one picture (edgeZeros 0).
    template <class Ops, int kPictures>
    void RunRow(int y, const uchar* const* rows, int edgeZeros)
    {
        constexpr int kHeight = kPictures * kSide;
        using Sort = SortNetworkOf<kHeight>;
        using Select = SelectionNetworkOf<kHeight, kSide, kHeight * kSide / 2>;
        using V = typename Ops::V;
        uchar* sorted[kHeight];
        for (int k = 0; k < kHeight; ++k) sorted[k] = m_sorted + static_cast<size_t>(k) * m_stride;
        const int cols = m_cols;

        ForBlocks<Ops::kLanes>(cols, [&](int c) {
            V v[kHeight];
            LoadColumn<Ops>(v, rows, c, std::make_index_sequence<kHeight>());
            RunNetwork<Sort, Ops>(v);
            StoreSorted<Ops, Sort>(v, sorted, kRadius + c, std::make_index_sequence<kHeight>());
        });
        for (int j = 1; j <= kRadius; ++j) {
            const int zeros = edgeZeros == 0 ? m_edgeZeros[j] : edgeZeros;
            for (int k = 0; k < kHeight; ++k) {
                uchar* s = sorted[k];
                if (edgeZeros < 0) {
                    s[kRadius - j] = s[kRadius];
                    s[kRadius + cols - 1 + j] = s[kRadius + cols - 1];
                } else {
                    s[kRadius - j] = s[kRadius + cols - 1 + j] = k < zeros ? 0 : 255;
                }
            }
        }

        const uchar* own = (*m_in.pictures[0])[y];
        uchar* out = m_dst[y];
        const bool fill = m_in.fill;
        ForBlocks<Ops::kLanes>(cols, [&](int x) {
            V v[kHeight * kSide];
            LoadWindow<Ops, kHeight>(v, sorted, x, std::make_index_sequence<kHeight * kSide>());
            RunNetwork<Select, Ops>(v);
            V m = v[Select::kNetwork.order[0]];
            if (fill)
                m = Ops::KeepOwnWhereZero(m, Ops::Load(own + x));
            Ops::Store(out + x, m);
        });
    }

    template <class Ops, std::size_t... kK>
    static void LoadColumn(typename Ops::V* v, const uchar* const* rows, int c, std::index_sequence<kK...>)
    {
        const int loads[] = {(v[kK] = Ops::Load(rows[kK] + c), 0)..., 0};
        static_cast<void>(loads);
    }

    template <class Ops, class Sort, std::size_t... kK>
    static void StoreSorted(const typename Ops::V* v, uchar* const* sorted, int at, std::index_sequence<kK...>)
    {
        const int stores[] = {(Ops::Store(sorted[kK] + at, v[Sort::kNetwork.order[kK]]), 0)..., 0};
        static_cast<void>(stores);
    }

    // Value k of window column j (sorted column x + j) goes to v[j * height + k].
    template <class Ops, int kHeight, std::size_t... kI>
    static void LoadWindow(typename Ops::V* v, uchar* const* sorted, int x, std::index_sequence<kI...>)
    {
        const int loads[] = {(v[kI] = Ops::Load(sorted[kI % kHeight] + x + kI / kHeight), 0)..., 0};
        static_cast<void>(loads);
    }

    const MedianInputs& m_in;  // owned by the caller
    cv::Mat_<uchar>& m_dst;    // owned by the caller
    int m_rows;
    int m_cols;
    int m_stride;  // of a sorted row: the columns and r beyond each edge
    int m_edgeZeros[kRadius + 1] = {};
    uchar* m_sorted = nullptr;  // this thread's work memory
    uchar* m_zeros = nullptr;
    uchar* m_maxes = nullptr;
};

}  // namespace median_detail
}  // namespace stereo
