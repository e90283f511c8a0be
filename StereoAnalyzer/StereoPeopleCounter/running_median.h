#pragma once

#include <algorithm>
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
inline void WalkRunningMedian(const MedianInputs& in, cv::Mat_<uchar>& dst, int x0, int x1)
{
    const int rows = dst.rows, cols = dst.cols, r = in.radius;
    const bool replicate = in.borders == Borders::kReplicate;
    RunningMedian window;
    // Sample (i, c) of picture p, for a window row i and column c inside the picture or, with
    // replicated borders, anywhere.
    auto sample = [&](int p, int i, int c) {
        return (*in.pictures[p])(std::min(std::max(i, 0), rows - 1), std::min(std::max(c, 0), cols - 1));
    };
    // The window's rows and columns [a, b] that hold samples.
    auto span = [&](int a, int b, int size, int& first, int& last) {
        first = replicate ? a : std::max(a, 0);
        last = replicate ? b : std::min(b, size - 1);
    };
    // Row i over the columns [ca, cb] enters (add) or leaves the window.
    auto row = [&](int i, int ca, int cb, bool add) {
        if (!replicate && (i < 0 || i >= rows))
            return;
        span(ca, cb, cols, ca, cb);
        for (int p = 0; p < in.count; ++p)
            for (int c = ca; c <= cb; ++c) add ? window.Add(sample(p, i, c)) : window.Remove(sample(p, i, c));
    };
    auto column = [&](int c, int ia, int ib, bool add) {
        if (!replicate && (c < 0 || c >= cols))
            return;
        span(ia, ib, rows, ia, ib);
        for (int p = 0; p < in.count; ++p)
            for (int i = ia; i <= ib; ++i) add ? window.Add(sample(p, i, c)) : window.Remove(sample(p, i, c));
    };
    // Row `entering` enters and row `leaving` leaves; pairs of samples replace each other where both
    // exist.
    auto move = [&](int entering, int leaving, int ca, int cb) {
        if (!replicate && (entering < 0 || entering >= rows || leaving < 0 || leaving >= rows)) {
            row(entering, ca, cb, true);
            row(leaving, ca, cb, false);
            return;
        }
        span(ca, cb, cols, ca, cb);
        for (int p = 0; p < in.count; ++p)
            for (int c = ca; c <= cb; ++c) window.Replace(sample(p, entering, c), sample(p, leaving, c));
    };

    for (int i = -r; i <= r; ++i) row(i, x0 - r, x0 + r, true);
    int y = 0;
    for (int x = x0; x < x1; ++x) {
        if (x != x0) {
            column(x + r, y - r, y + r, true);
            column(x - r - 1, y - r, y + r, false);
        }
        const bool down = (x - x0) % 2 == 0;
        for (int n = 0; n < rows; ++n) {
            const int m = window.Median(window.Count() / 2);
            const uchar own = (*in.pictures[0])(y, x);
            dst(y, x) = in.fill && m == 0 ? own : static_cast<uchar>(m);
            if (n + 1 == rows)
                break;
            const int next = down ? y + 1 : y - 1;
            move(down ? next + r : next - r, down ? y - r : y + r, x - r, x + r);
            y = next;
        }
    }
}

}  // namespace median_detail
}  // namespace stereo
