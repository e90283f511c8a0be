#pragma once

#include <algorithm>
#include <climits>
#include <cstdint>
#include <cstring>
#include <opencv2/core.hpp>
#include <opencv2/core/hal/intrin.hpp>
#include <vector>

#include "CommonUtilities/algorithm_support/kernel_path.h"
#include "StereoAnalyzer/StereoPeopleCounter/square_window_median.h"

// The medians of windows of radius 4 and more whose samples fit 16-bit counters (internal to the
// median filters): per-column histograms moved down the picture and summed along each row, the
// constant-time median of Perreault and Hebert.
namespace stereo {
namespace median_detail {

// dst += src and dst -= src over 16 counters, the source's counters of 8 or 16 bits (wrapping: a
// sum passes its range only between an addition and the subtraction that follows it).
template <AlgoLibrary::KernelPath kPath, class Count>
inline void Add16(Count* dst, const Count* src)
{
#if CV_SIMD128
    if constexpr (kPath == AlgoLibrary::KernelPath::kVector && sizeof(Count) == 1) {
        cv::v_store(dst, cv::v_add_wrap(cv::v_load(dst), cv::v_load(src)));
        return;
    } else if constexpr (kPath == AlgoLibrary::KernelPath::kVector) {
        cv::v_store(dst, cv::v_add_wrap(cv::v_load(dst), cv::v_load(src)));
        cv::v_store(dst + 8, cv::v_add_wrap(cv::v_load(dst + 8), cv::v_load(src + 8)));
        return;
    }
#endif
    for (int k = 0; k < 16; ++k) dst[k] = static_cast<Count>(dst[k] + src[k]);
}

template <AlgoLibrary::KernelPath kPath, class Count>
inline void Subtract16(Count* dst, const Count* src)
{
#if CV_SIMD128
    if constexpr (kPath == AlgoLibrary::KernelPath::kVector && sizeof(Count) == 1) {
        cv::v_store(dst, cv::v_sub_wrap(cv::v_load(dst), cv::v_load(src)));
        return;
    } else if constexpr (kPath == AlgoLibrary::KernelPath::kVector) {
        cv::v_store(dst, cv::v_sub_wrap(cv::v_load(dst), cv::v_load(src)));
        cv::v_store(dst + 8, cv::v_sub_wrap(cv::v_load(dst + 8), cv::v_load(src + 8)));
        return;
    }
#endif
    for (int k = 0; k < 16; ++k) dst[k] = static_cast<Count>(dst[k] - src[k]);
}

// Sums of 16-bit counters: dst += src and dst -= src, the source's counters of 8 or 16 bits.
template <AlgoLibrary::KernelPath kPath, class Count>
inline void AddTo(uint16_t* dst, const Count* src)
{
    if constexpr (sizeof(Count) == 2) {
        Add16<kPath>(dst, src);
    } else {
#if CV_SIMD128
        if constexpr (kPath == AlgoLibrary::KernelPath::kVector) {
            cv::v_uint16x8 low, high;
            cv::v_expand(cv::v_load(src), low, high);
            cv::v_store(dst, cv::v_add_wrap(cv::v_load(dst), low));
            cv::v_store(dst + 8, cv::v_add_wrap(cv::v_load(dst + 8), high));
            return;
        }
#endif
        for (int k = 0; k < 16; ++k) dst[k] = static_cast<uint16_t>(dst[k] + src[k]);
    }
}

template <AlgoLibrary::KernelPath kPath, class Count>
inline void SubtractFrom(uint16_t* dst, const Count* src)
{
    if constexpr (sizeof(Count) == 2) {
        Subtract16<kPath>(dst, src);
    } else {
#if CV_SIMD128
        if constexpr (kPath == AlgoLibrary::KernelPath::kVector) {
            cv::v_uint16x8 low, high;
            cv::v_expand(cv::v_load(src), low, high);
            cv::v_store(dst, cv::v_sub_wrap(cv::v_load(dst), low));
            cv::v_store(dst + 8, cv::v_sub_wrap(cv::v_load(dst + 8), high));
            return;
        }
#endif
        for (int k = 0; k < 16; ++k) dst[k] = static_cast<uint16_t>(dst[k] - src[k]);
    }
}

// The number of low bits of `mask` that are set before the first clear one (at most 16 for a mask
// of 16 bits).
inline int CountTrailingOnes(unsigned mask)
{
    return __builtin_ctz(~mask);
}

// RiseTable<Count>::kLanes[i]: 16 counters of which those from i on are 1: one sample added to
// running totals.
template <class Count>
struct RiseTable {
    struct Lanes {
        alignas(16) Count lanes[16][16];
        constexpr Lanes() : lanes()
        {
            for (int i = 0; i < 16; ++i)
                for (int k = 0; k < 16; ++k) lanes[i][k] = k >= i ? 1 : 0;
        }
    };
    static constexpr Lanes kLanes{};
};

// Of 16 running totals, how many lead that are at or below `target` (the totals grow; at most 15
// when the last passes the target).
template <AlgoLibrary::KernelPath kPath>
inline int CountAtOrBelow(const uint16_t* totals, int target)
{
#if CV_SIMD128
    if constexpr (kPath == AlgoLibrary::KernelPath::kVector) {
        // A total is at or below the target where subtracting the target (saturating at 0) leaves 0.
        const cv::v_uint16x8 limit = cv::v_setall_u16(static_cast<uint16_t>(target));
        const cv::v_uint16x8 zero = cv::v_setzero_u16();
        const cv::v_int16x8 low = cv::v_reinterpret_as_s16((cv::v_load(totals) - limit) == zero);
        const cv::v_int16x8 high = cv::v_reinterpret_as_s16((cv::v_load(totals + 8) - limit) == zero);
        return CountTrailingOnes(static_cast<unsigned>(cv::v_signmask(cv::v_pack(low, high))));
    }
#endif
    int n = 0;
    while (n < 15 && totals[n] <= target) ++n;
    return n;
}

// Per output row, the window's histogram is the sum of the histograms of its columns, each kept for
// the window's rows and moved down one row at a time. The histograms hold running totals: for 16
// coarse bins of 16 levels, the samples up to each bin, and within each bin the samples up to each
// level, so a search compares 16 totals with the rank at once. Along the row, the coarse totals are
// summed over the window's columns, and a bin's level totals only where the median lies in it,
// catching up on the columns that entered and left since they were last summed. The count of 0s is
// followed on its own: where more than half of a window is 0 (the empty floor of a height map) the
// median is 0 without a search. N pictures (1 or 2), windows cut at the edges (a column beyond the
// edge counts as an empty histogram) or with the edges repeated (it uses the edge column's
// histogram). A column's counters have 8 bits (Count uint8_t) when a column holds at most 255
// samples, else 16; the window's sums have 16.
template <int N, class Count>
class ColumnHistogramMedian {
public:
    ColumnHistogramMedian(const MedianInputs& inputs, cv::Mat_<uchar>& dst)
        : m_in(inputs),
          m_r(inputs.radius),
          m_replicate(inputs.borders == Borders::kReplicate),
          m_dst(dst),
          m_rows(dst.rows),
          m_cols(dst.cols)
    {
    }

    // Output columns [x0, x1).
    template <AlgoLibrary::KernelPath kPath>
    void Run(int x0, int x1)
    {
        const int r = m_r;
        m_c0 = std::max(x0 - r, 0);
        const int c1 = std::min(x1 - 1 + r, m_cols - 1);
        const size_t columns = static_cast<size_t>(c1 - m_c0 + 1);
        // Work memory of this thread, grown once to the largest size asked for: the histograms (and
        // one empty histogram), and per window column (x0 - r - 1 .. x1 - 1 + r) its histograms.
        thread_local std::vector<Count> histograms;
        thread_local std::vector<const Count*> columnHistograms;
        thread_local std::vector<int> windowColumns;
        const size_t histogramsSize = (columns + 1) * (256 + 16);
        if (histograms.size() < histogramsSize)
            histograms.resize(histogramsSize);
        std::memset(histograms.data(), 0, histogramsSize * sizeof(Count));
        m_fine = histograms.data();
        m_coarse = histograms.data() + (columns + 1) * 256;
        const size_t span = static_cast<size_t>(x1 - x0 + 2 * r + 1);
        if (columnHistograms.size() < 2 * span)
            columnHistograms.resize(2 * span);
        if (windowColumns.size() < 2 * span)
            windowColumns.resize(2 * span);
        m_first = x0 - r - 1;
        for (int c = x0 - r - 1; c <= x1 - 1 + r; ++c) {
            // A column beyond a cut edge is empty, and so is the band's first window column (summed
            // and taken off again before the first output) where the band keeps no histogram for it.
            const int kept = (m_replicate ? std::min(std::max(c, 0), m_cols - 1) : c) - m_c0;
            const bool inside = kept >= 0 && kept < static_cast<int>(columns) && (m_replicate || c >= 0);
            const size_t h = inside ? static_cast<size_t>(kept) : columns;
            columnHistograms[c - m_first] = m_fine + h * 256;
            columnHistograms[span + c - m_first] = m_coarse + h * 16;
        }
        m_fineOf = columnHistograms.data();
        m_coarseOf = columnHistograms.data() + span;
        // Columns of picture in each output column's window.
        for (int x = x0; x < x1; ++x)
            windowColumns[x - x0] = m_replicate ? 2 * r + 1 : std::min(x + r, m_cols - 1) - std::max(x - r, 0) + 1;
        m_windowColumns = windowColumns.data();
        m_targets = windowColumns.data() + (x1 - x0);

        if (m_replicate) {
            for (int i = -r; i <= r; ++i) UpdateColumns<kPath>(Clamp(i), -1, c1);
        } else {
            for (int y = 0; y <= std::min(r, m_rows - 1); ++y) UpdateColumns<kPath>(y, -1, c1);
        }
        int targetsRows = 0;  // the window rows the ranks below are for
        for (int y = 0; y < m_rows; ++y) {
            if (y > 0) {
                if (m_replicate)
                    UpdateColumns<kPath>(Clamp(y + r), Clamp(y - r - 1), c1);
                else
                    UpdateColumns<kPath>(y + r < m_rows ? y + r : -1, y - r - 1 >= 0 ? y - r - 1 : -1, c1);
            }
            // The rank of the median of each window of the row.
            const int windowRows = m_replicate ? 2 * r + 1 : std::min(y + r, m_rows - 1) - std::max(y - r, 0) + 1;
            if (windowRows != targetsRows) {
                for (int x = x0; x < x1; ++x) m_targets[x - x0] = N * windowRows * m_windowColumns[x - x0] / 2;
                targetsRows = windowRows;
            }
            RunRow<kPath>(y, x0, x1);
        }
    }

private:
    int Clamp(int i) const { return std::min(std::max(i, 0), m_rows - 1); }

    // The sample v enters (kSign 1) or leaves (kSign -1) a column: its coarse totals from v's bin on
    // and its level totals in v's bin from v's level on change by one.
    template <AlgoLibrary::KernelPath kPath, int kSign>
    static void Sample(Count* fine, Count* coarse, int v)
    {
        if constexpr (kSign > 0) {
            Add16<kPath>(coarse, RiseTable<Count>::kLanes.lanes[v >> 4]);
            Add16<kPath>(fine + (v & ~15), RiseTable<Count>::kLanes.lanes[v & 15]);
        } else {
            Subtract16<kPath>(coarse, RiseTable<Count>::kLanes.lanes[v >> 4]);
            Subtract16<kPath>(fine + (v & ~15), RiseTable<Count>::kLanes.lanes[v & 15]);
        }
    }

    // Adds row `in` and removes row `out` (-1: none) of every picture in the columns [m_c0, c1].
    template <AlgoLibrary::KernelPath kPath>
    void UpdateColumns(int in, int out, int c1)
    {
        if (in == out)
            return;
        for (int i = 0; i < N; ++i) {
            const uchar* add = in >= 0 ? (*m_in.pictures[i])[in] : nullptr;
            const uchar* sub = out >= 0 ? (*m_in.pictures[i])[out] : nullptr;
            Count* fine = m_fine;
            Count* coarse = m_coarse;
            if (add && sub) {
                for (int c = m_c0; c <= c1; ++c, fine += 256, coarse += 16) {
                    const int a = add[c], s = sub[c];
                    // Equal samples entering and leaving change nothing, which spares most of the
                    // work on the flat (often empty) parts of a height map.
                    if (a == s)
                        continue;
                    Sample<kPath, 1>(fine, coarse, a);
                    Sample<kPath, -1>(fine, coarse, s);
                }
            } else if (add) {
                for (int c = m_c0; c <= c1; ++c, fine += 256, coarse += 16) Sample<kPath, 1>(fine, coarse, add[c]);
            } else {
                for (int c = m_c0; c <= c1; ++c, fine += 256, coarse += 16) Sample<kPath, -1>(fine, coarse, sub[c]);
            }
        }
    }

    // Brings the sums of the window columns [summedFrom, summedTo] up to [from, to] (indices into
    // `of`), given the histograms' part at `offset` of each column.
    template <AlgoLibrary::KernelPath kPath>
    static void CatchUp(uint16_t* sums, const Count* const* of, int offset, int& summedFrom, int& summedTo, int from,
                        int to)
    {
        if (summedTo == to - 1) {
            // The window moved on by one column since: most often so.
            AddTo<kPath>(sums, of[to] + offset);
            SubtractFrom<kPath>(sums, of[from - 1] + offset);
        } else if (summedTo < from) {
            std::memset(sums, 0, 16 * sizeof(uint16_t));
            for (int c = from; c <= to; ++c) AddTo<kPath>(sums, of[c] + offset);
        } else {
            for (int c = summedTo + 1; c <= to; ++c) AddTo<kPath>(sums, of[c] + offset);
            for (int c = summedFrom; c < from; ++c) SubtractFrom<kPath>(sums, of[c] + offset);
        }
        summedFrom = from;
        summedTo = to;
    }

    template <AlgoLibrary::KernelPath kPath>
    void RunRow(int y, int x0, int x1)
    {
        const int r = m_r;
        const Count* const* fineOf = m_fineOf;  // of window column c at c - m_first
        const Count* const* coarseOf = m_coarseOf;
        const int* targets = m_targets;  // of output column x at x - x0
        // The window's coarse totals at 8..23, after a 0 at 7 (the total below bin 0).
        alignas(16) uint16_t coarseTotals[24] = {};
        uint16_t* coarse = coarseTotals + 8;
        alignas(16) uint16_t levels[16][16];
        int levelsFrom[16];
        int levelsTo[16];
        for (int b = 0; b < 16; ++b) levelsTo[b] = INT_MIN;
        const uchar* own = (*m_in.pictures[0])[y];
        uchar* out = m_dst[y];
        const bool fill = m_in.fill;

        // Window column indices from here on count from the band's first, x0 - r - 1.
        int zeros = 0;
        for (int c = 0; c < 2 * r + 1; ++c) {
            zeros += fineOf[c][0];
            AddTo<kPath>(coarse, coarseOf[c]);
        }
        for (int x = x0; x < x1; ++x) {
            const int from = x - x0 + 1, to = from + 2 * r;
            zeros += fineOf[to][0] - fineOf[from - 1][0];
            AddTo<kPath>(coarse, coarseOf[to]);
            SubtractFrom<kPath>(coarse, coarseOf[from - 1]);
            const int target = targets[x - x0];
            if (zeros > target) {
                out[x] = fill ? own[x] : 0;
                continue;
            }
            const int b = CountAtOrBelow<kPath>(coarse, target);
            const int below = coarseTotals[7 + b];
            CatchUp<kPath>(levels[b], fineOf, b * 16, levelsFrom[b], levelsTo[b], from, to);
            const int m = b * 16 + CountAtOrBelow<kPath>(levels[b], target - below);
            out[x] = fill && m == 0 ? own[x] : static_cast<uchar>(m);
        }
    }

    const MedianInputs& m_in;  // owned by the caller
    int m_r;
    bool m_replicate;
    cv::Mat_<uchar>& m_dst;  // owned by the caller
    int m_rows;
    int m_cols;
    int m_c0 = 0;                            // the first column with a histogram
    Count* m_fine = nullptr;                 // per column, 16 bins of 16 level totals (this thread's work memory)
    Count* m_coarse = nullptr;               // per column, 16 coarse totals
    int m_first = 0;                         // the band's first window column, x0 - r - 1
    const Count* const* m_fineOf = nullptr;  // per window column from m_first, its level totals
    const Count* const* m_coarseOf = nullptr;
    const int* m_windowColumns = nullptr;  // per output column from x0, the columns of picture in its window
    int* m_targets = nullptr;              // per output column from x0, the rank of its median in this row
};

}  // namespace median_detail
}  // namespace stereo
