#pragma once

#include <algorithm>
#include <climits>
#include <opencv2/core.hpp>

#include "StereoAnalyzer/StereoPeopleCounter/square_window_median.h"

// The histogram of a sliding window of 8-bit samples and its median, kept up to date as samples
// enter and leave. The median is the smallest value whose cumulative count exceeds a target rank
// (count / 2 for the medians of the height maps); it is followed from its previous value, so a
// window that moves over similar samples costs a few steps instead of a search of the histogram.
namespace stereo {
namespace median_detail {

class RunningMedian {
public:
    RunningMedian() { Clear(); }

    void Clear()
    {
        for (int& bin : m_fine) bin = 0;
        m_count = 0;
        m_median = 0;
        m_below = 0;
    }

    void Add(int v)
    {
        ++m_fine[v];
        ++m_count;
        m_below += v < m_median;
    }

    void Remove(int v)
    {
        --m_fine[v];
        --m_count;
        m_below -= v < m_median;
    }

    // One sample enters and one leaves; equal ones change nothing.
    void Replace(int in, int out)
    {
        if (in == out)
            return;
        ++m_fine[in];
        --m_fine[out];
        m_below += static_cast<int>(in < m_median) - static_cast<int>(out < m_median);
    }

    int Count() const { return m_count; }

    // The smallest value whose cumulative count exceeds `target`; target < Count().
    int Median(int target)
    {
        while (m_below > target) m_below -= m_fine[--m_median];
        while (m_below + m_fine[m_median] <= target) m_below += m_fine[m_median++];
        return m_median;
    }

private:
    int m_fine[256];
    int m_count = 0;
    int m_median = 0;  // the last median (0 before the first)
    int m_below = 0;   // samples below m_median
};

// The medians of windows of more than 65535 samples (internal to the median filters): one running
// histogram walks the columns [x0, x1) as a snake, down one column, one step right, up the next, so
// every move changes one row or one column of the window. Windows cut at the edges lose their
// samples beyond them; with replicated borders the edge rows and columns stand in for them.
class RunningMedianWalk {
public:
    RunningMedianWalk(const MedianInputs& inputs, cv::Mat_<uchar>& dst)
        : m_in(inputs), m_dst(dst), m_replicate(inputs.borders == Borders::kReplicate)
    {
    }

    void Run(int x0, int x1)
    {
        const int r = m_in.radius;
        m_window.Clear();
        for (int i = -r; i <= r; ++i) Move(kRow, i, kNone, x0 - r, x0 + r);
        int y = 0;
        for (int x = x0; x < x1; ++x) {
            if (x != x0)
                Move(kColumn, x + r, x - r - 1, y - r, y + r);
            const int step = (x - x0) % 2 == 0 ? 1 : -1;
            for (int n = 1;; ++n) {
                const int m = m_window.Median(m_window.Count() / 2);
                m_dst(y, x) = m_in.fill && m == 0 ? (*m_in.pictures[0])(y, x) : static_cast<uchar>(m);
                if (n == m_dst.rows)
                    break;
                Move(kRow, y + step * (r + 1), y - step * r, x - r, x + r);
                y += step;
            }
        }
    }

private:
    static constexpr bool kRow = true, kColumn = false;
    static constexpr int kNone = INT_MIN;  // no line

    // Whether window line i (a row, or a column) holds samples.
    bool Holds(bool row, int i) const
    {
        return i != kNone && (m_replicate || (i >= 0 && i < (row ? m_dst.rows : m_dst.cols)));
    }

    // Sample k of row (or column) `line` of picture p, the edges repeated beyond the picture.
    int At(int p, bool row, int line, int k) const
    {
        const int y = row ? line : k, x = row ? k : line;
        return (*m_in.pictures[p])(std::min(std::max(y, 0), m_dst.rows - 1), std::min(std::max(x, 0), m_dst.cols - 1));
    }

    // Row (or column) `enter` enters the window and `leave` leaves it, over the crossing lines [a, b];
    // pairs of samples replace each other where both exist.
    void Move(bool row, int enter, int leave, int a, int b)
    {
        const bool in = Holds(row, enter), out = Holds(row, leave);
        for (int k = a; k <= b; ++k) {
            if (!Holds(!row, k))
                continue;
            for (int p = 0; p < m_in.count; ++p) {
                if (in && out)
                    m_window.Replace(At(p, row, enter, k), At(p, row, leave, k));
                else if (in)
                    m_window.Add(At(p, row, enter, k));
                else if (out)
                    m_window.Remove(At(p, row, leave, k));
            }
        }
    }

    const MedianInputs& m_in;  // owned by the caller
    cv::Mat_<uchar>& m_dst;    // owned by the caller
    bool m_replicate;
    RunningMedian m_window;
};

}  // namespace median_detail
}  // namespace stereo
