#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <opencv2/core.hpp>
#include <opencv2/core/hal/intrin.hpp>
#include <vector>

#include "CommonUtilities/algorithm_support/kernel_path.h"

// The constant-time square-window median of the height maps' filters (internal to the median
// filters): per-column histograms moved down the picture and summed along each row.
namespace stereo {
namespace median_detail {

// dst += src and dst -= src over 16 counters (wrapping, as the counts only pass through values
// beyond 16 bits between an addition and its subtraction).
template <AlgoLibrary::KernelPath kPath>
inline void Add16(uint16_t* dst, const uint16_t* src)
{
#if CV_SIMD128
    if constexpr (kPath == AlgoLibrary::KernelPath::kVector) {
        cv::v_store(dst, cv::v_add_wrap(cv::v_load(dst), cv::v_load(src)));
        cv::v_store(dst + 8, cv::v_add_wrap(cv::v_load(dst + 8), cv::v_load(src + 8)));
        return;
    }
#endif
    for (int k = 0; k < 16; ++k) dst[k] = static_cast<uint16_t>(dst[k] + src[k]);
}

template <AlgoLibrary::KernelPath kPath>
inline void Subtract16(uint16_t* dst, const uint16_t* src)
{
#if CV_SIMD128
    if constexpr (kPath == AlgoLibrary::KernelPath::kVector) {
        cv::v_store(dst, cv::v_sub_wrap(cv::v_load(dst), cv::v_load(src)));
        cv::v_store(dst + 8, cv::v_sub_wrap(cv::v_load(dst + 8), cv::v_load(src + 8)));
        return;
    }
#endif
    for (int k = 0; k < 16; ++k) dst[k] = static_cast<uint16_t>(dst[k] - src[k]);
}

// The histograms of one column of the window (all N pictures): 256 levels and 16 coarse bins of 16.
struct ColumnHistogram {
    uint16_t fine[256];
    uint16_t coarse[16];
};

// Per output row, the window's histogram is the sum of the histograms of its columns, each kept for
// the window's rows and moved down one row at a time (the constant-time median of Perreault and
// Hebert). The coarse sum moves one column at a time; the 16 levels of a coarse bin are summed only
// when the median lies in it, from the columns that changed since they were last summed.
template <int N>
class ColumnHistogramMedian {
public:
    // Clipped windows (replicate false): the inputs have dst's size and the window of (y, x) is the
    // part of the square around (y, x) inside the picture. Replicated borders (replicate true): one
    // input, 2 radius columns wider than dst (the edge columns repeated), and the window of (y, x)
    // covers its columns x .. x + 2 radius and the rows y - radius .. y + radius, those outside the
    // picture repeating its first or last row.
    ColumnHistogramMedian(const cv::Mat_<uchar>** inputs, int radius, bool fill, bool replicate, cv::Mat_<uchar>& dst)
        : m_inputs(inputs),
          m_r(radius),
          m_fill(fill),
          m_replicate(replicate),
          m_dst(dst),
          m_rows(dst.rows),
          m_cols(inputs[0]->cols),
          m_offset(replicate ? radius : 0)
    {
    }

    // Output columns [x0, x1).
    void Run(int x0, int x1)
    {
        const int r = m_r;
        m_c0 = std::max(x0 + m_offset - r, 0);
        const int c1 = std::min(x1 - 1 + m_offset + r, m_cols - 1);
        // Work memory of this thread, grown once to the largest size asked for.
        thread_local std::vector<ColumnHistogram> columns;
        if (columns.size() < static_cast<size_t>(c1 - m_c0 + 1))
            columns.resize(static_cast<size_t>(c1 - m_c0 + 1));
        m_columns = columns.data();
        for (int c = m_c0; c <= c1; ++c) std::memset(&Column(c), 0, sizeof(ColumnHistogram));
        if (m_replicate) {
            for (int i = -r; i <= r; ++i) UpdateColumns(Clamp(i), -1, m_c0, c1);
            for (int y = 0; y < m_rows; ++y) {
                if (y > 0)
                    UpdateColumns(Clamp(y + r), Clamp(y - r - 1), m_c0, c1);
                RunRow(y, x0, x1, 2 * r + 1);
            }
            return;
        }
        for (int y = 0; y <= std::min(r, m_rows - 1); ++y) UpdateColumns(y, -1, m_c0, c1);
        for (int y = 0; y < m_rows; ++y) {
            if (y > 0)
                UpdateColumns(y + r < m_rows ? y + r : -1, y - r - 1 >= 0 ? y - r - 1 : -1, m_c0, c1);
            const int windowRows = std::min(y + r, m_rows - 1) - std::max(y - r, 0) + 1;
            RunRow(y, x0, x1, windowRows);
        }
    }

private:
    ColumnHistogram& Column(int c) { return m_columns[c - m_c0]; }
    int Clamp(int y) const { return std::min(std::max(y, 0), m_rows - 1); }

    // Adds row `in` and removes row `out` (-1: none) of every picture in columns [ca, cb].
    void UpdateColumns(int in, int out, int ca, int cb)
    {
        for (int i = 0; i < N; ++i) {
            const uchar* add = in >= 0 ? (*m_inputs[i])[in] : nullptr;
            const uchar* sub = out >= 0 ? (*m_inputs[i])[out] : nullptr;
            for (int c = ca; c <= cb; ++c) {
                ColumnHistogram& h = Column(c);
                if (add && sub && add[c] == sub[c])
                    continue;
                if (add) {
                    ++h.fine[add[c]];
                    ++h.coarse[add[c] >> 4];
                }
                if (sub) {
                    --h.fine[sub[c]];
                    --h.coarse[sub[c] >> 4];
                }
            }
        }
    }

    // One output row on the kernel path chosen when the object was made.
    void RunRow(int y, int x0, int x1, int windowRows)
    {
        if (m_path == AlgoLibrary::KernelPath::kVector)
            RunRowOn<AlgoLibrary::KernelPath::kVector>(y, x0, x1, windowRows);
        else
            RunRowOn<AlgoLibrary::KernelPath::kScalar>(y, x0, x1, windowRows);
    }

    template <AlgoLibrary::KernelPath kPath>
    void RunRowOn(int y, int x0, int x1, int windowRows)
    {
        const int r = m_r;
        // Window counts fit 16 bits (checked by the caller).
        alignas(16) uint16_t coarse[16] = {};
        alignas(16) uint16_t fine[16][16];
        int summedAt[16];  // the window column range [summedFrom, summedTo] of each bin's levels
        int summedFrom[16];
        for (int b = 0; b < 16; ++b) summedAt[b] = -1;  // before every column
        const uchar* own = (*m_inputs[0])[y];
        uchar* out = m_dst[y];
        const int offset = m_offset;
        int from = std::max(x0 + offset - r, 0), to = std::min(x0 + offset + r, m_cols - 1);
        for (int c = from; c <= to; ++c) Add16<kPath>(coarse, Column(c).coarse);
        for (int x = x0; x < x1; ++x) {
            if (x > x0) {
                if (x + offset + r < m_cols) {
                    const ColumnHistogram& h = Column(x + offset + r);
                    Add16<kPath>(coarse, h.coarse);
                    to = x + offset + r;
                }
                if (x + offset - r - 1 >= 0) {
                    const ColumnHistogram& h = Column(x + offset - r - 1);
                    Subtract16<kPath>(coarse, h.coarse);
                    from = x + offset - r;
                }
            }
            const int count = N * windowRows * (to - from + 1);
            const int target = count / 2;
            int below = 0;
            int b = 0;
            while (b < 15 && below + coarse[b] <= target) below += coarse[b++];
            uint16_t* levels = fine[b];
            if (summedAt[b] < from) {
                // Nothing to reuse: sum the bin's levels over the window's columns.
                for (int k = 0; k < 16; ++k) levels[k] = 0;
                for (int c = from; c <= to; ++c) AddLevels<kPath>(levels, Column(c), b);
            } else {
                // The columns that entered and left since the bin was last summed.
                for (int c = summedAt[b] + 1; c <= to; ++c) AddLevels<kPath>(levels, Column(c), b);
                for (int c = summedFrom[b]; c < from; ++c) SubtractLevels<kPath>(levels, Column(c), b);
            }
            summedAt[b] = to;
            summedFrom[b] = from;
            int v = 0;
            while (v < 15 && below + levels[v] <= target) below += levels[v++];
            const int m = b * 16 + v;
            out[x] = m_fill && m == 0 ? own[x] : static_cast<uchar>(m);
        }
    }

    template <AlgoLibrary::KernelPath kPath>
    static void AddLevels(uint16_t* levels, const ColumnHistogram& h, int bin)
    {
        Add16<kPath>(levels, h.fine + bin * 16);
    }

    template <AlgoLibrary::KernelPath kPath>
    static void SubtractLevels(uint16_t* levels, const ColumnHistogram& h, int bin)
    {
        Subtract16<kPath>(levels, h.fine + bin * 16);
    }

    const cv::Mat_<uchar>** m_inputs;  // owned by the caller
    int m_r;
    bool m_fill;
    bool m_replicate;
    cv::Mat_<uchar>& m_dst;  // owned by the caller
    int m_rows;
    int m_cols;                            // of the inputs
    int m_offset;                          // input column of output column 0
    int m_c0 = 0;                          // the first column with a histogram
    ColumnHistogram* m_columns = nullptr;  // this thread's work memory
    AlgoLibrary::KernelPath m_path = AlgoLibrary::ActiveKernelPath();
};

}  // namespace median_detail
}  // namespace stereo
