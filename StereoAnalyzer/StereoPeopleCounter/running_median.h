#pragma once

// The histogram of a sliding window of 8-bit samples and its median, kept up to date as samples
// enter and leave. The median is the smallest value whose cumulative count exceeds a target rank
// (count / 2 for the medians of the height maps); it is followed from its previous value, so a
// window that moves over similar samples costs a few steps instead of a search of the histogram.
namespace stereo {

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

}  // namespace stereo
