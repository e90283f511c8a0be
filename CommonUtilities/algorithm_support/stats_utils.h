#pragma once

#include <cmath>
#include <cstring>
#include <limits>
#include <type_traits>
#include <vector>

#include <boost/accumulators/accumulators.hpp>
#include <boost/accumulators/statistics/count.hpp>
#include <boost/accumulators/statistics/max.hpp>
#include <boost/accumulators/statistics/min.hpp>
#include <boost/accumulators/statistics/rolling_mean.hpp>
#include <boost/accumulators/statistics/stats.hpp>
#include <boost/accumulators/statistics/sum.hpp>

#include "CommonUtilities/DebugInterfaces/stats_storage.h"

// Running statistics of measured values: whole-run results, a rolling window, and the same for
// the increments of a value, on fixed-point scaled samples.
namespace AlgoLibrary {
namespace StatUtils {

// Converts a computed value to the sample type: integers truncate toward zero and saturate at
// their limits (not-a-number gives 0).
template <typename T, typename V>
T ConvertToSample(V value)
{
    if constexpr (std::is_integral_v<T>) {
        const long double v = static_cast<long double>(value);
        if (std::isnan(v))
            return 0;
        if (v >= static_cast<long double>(std::numeric_limits<T>::max()))
            return std::numeric_limits<T>::max();
        if (v <= static_cast<long double>(std::numeric_limits<T>::lowest()))
            return std::numeric_limits<T>::lowest();
        return static_cast<T>(v);
    } else {
        return static_cast<T>(value);
    }
}

// One named result. A value with more precision than the samples is kept scaled and carries
// the scale as its divisor.
template <typename T>
struct StatResult {
    const char* name;  // a literal
    T value;
    T divisor;
    bool preciserThanInput;
};

template <typename T>
struct StatResults {
    void Add(const char* name, T value) { results.push_back(StatResult<T>{name, value, T(1), false}); }

    template <typename V>
    void AddPreciserThanInput(const char* name, V value)
    {
        results.push_back(StatResult<T>{name, ConvertToSample<T>(value), T(1), true});
    }

    // The first result of that name, or null.
    const StatResult<T>* Find(const char* name) const
    {
        for (const auto& result : results)
            if (std::strcmp(result.name, name) == 0)
                return &result;
        return nullptr;
    }

    std::vector<StatResult<T>> results;
};

// Whole-run statistics (count, max, min, sum, mean, deviation) and a rolling mean over the
// last Window samples with the extremes it has reached.
template <typename T, int Window = 25>
class AccumulatorsProcessorKernel {
public:
    AccumulatorsProcessorKernel() : m_set(boost::accumulators::tag::rolling_window::window_size = Window) {}

    void ProcessSample(T sample)
    {
        m_last = sample;
        m_set(sample);
        // Squares of scaled integer samples leave 64 bits quickly (76800 << 16 already does):
        // they are summed in extended precision instead.
        const long double wide = static_cast<long double>(sample);
        m_sum_squares += wide * wide;
        const T rolling = ConvertToSample<T>(boost::accumulators::immediate_rolling_mean(m_set));
        if (rolling > m_rolling_max)
            m_rolling_max = rolling;
        if (rolling < m_rolling_min)
            m_rolling_min = rolling;
    }

    void FillResults(StatResults<T>& out) const
    {
        namespace acc = boost::accumulators;
        const auto count = acc::count(m_set);
        const long double n = static_cast<long double>(count);
        const T sum = acc::sum(m_set);
        const long double mean = count ? static_cast<long double>(sum) / n : 0.0L;
        long double variance = count ? m_sum_squares / n - mean * mean : 0.0L;
        if (!(variance > 0.0L))
            variance = 0.0L;

        out.Add("last", m_last);
        out.AddPreciserThanInput("avgROL", acc::immediate_rolling_mean(m_set));
        out.AddPreciserThanInput("avgROLmax", m_rolling_max);
        out.AddPreciserThanInput("avgROLmin", m_rolling_min);
        out.Add("totalmax", count ? acc::max(m_set) : std::numeric_limits<T>::lowest());
        out.Add("totalmin", count ? acc::min(m_set) : std::numeric_limits<T>::max());
        out.AddPreciserThanInput("totalavg", mean);
        out.AddPreciserThanInput("totstddv", std::sqrt(static_cast<float>(variance)));
        out.Add("totalcnt", static_cast<T>(count));
        out.Add("totalsum", sum);
    }

private:
    using Set = boost::accumulators::accumulator_set<
        T, boost::accumulators::stats<boost::accumulators::tag::count, boost::accumulators::tag::max,
                                      boost::accumulators::tag::min, boost::accumulators::tag::sum,
                                      boost::accumulators::tag::immediate_rolling_mean>>;

    Set m_set;
    long double m_sum_squares = 0.0L;
    T m_rolling_max = std::numeric_limits<T>::lowest();
    T m_rolling_min = std::numeric_limits<T>::max();
    T m_last = T(-1);
};

// The statistics of a value, its increment and its absolute increment. Samples are fed scaled
// by 2^Shift so that integer averages keep Shift fractional bits. Kernel must offer
// Feed(T scaled), FillResults(StatResults<T>&) and a public `last` (the last unscaled input).
template <typename T, typename Kernel, int Shift, int Window = 25>
class StatisticsProcessor {
public:
    void SetSubject(SubjectOfInterest::Enum subject) { m_subject = subject; }
    int GetSubject() const { return m_subject; }

    void ProcessNext(T x)
    {
        const T previous = m_value.last;
        m_value.last = x;
        if (m_subject & SubjectOfInterest::Value)
            m_value.Feed(Scale(x));
        if (m_seen > 0) {
            const T increment = Difference(x, previous);
            m_increment.last = increment;
            if (m_subject & SubjectOfInterest::Increment)
                m_increment.Feed(Scale(increment));
            const T absolute = Absolute(increment);
            m_abs_increment.last = absolute;
            if (m_subject & SubjectOfInterest::AbsIncrement)
                m_abs_increment.Feed(Scale(absolute));
        }
        ++m_seen;
    }

    void FillResults(SubjectOfInterest::Enum subject, StatResults<T>& out) const
    {
        if (m_seen == 0)
            return;
        const Kernel* kernel = nullptr;
        if (subject == SubjectOfInterest::Value)
            kernel = &m_value;
        else if (subject == SubjectOfInterest::Increment && m_seen >= 2)
            kernel = &m_increment;
        else if (subject == SubjectOfInterest::AbsIncrement && m_seen >= 2)
            kernel = &m_abs_increment;
        if (!kernel)
            return;
        if (m_subject & subject) {
            kernel->FillResults(out);
            for (auto& result : out.results) {
                if (result.preciserThanInput)
                    result.divisor = Scale(T(1));
                else if (std::strcmp(result.name, "totalcnt") != 0)
                    result.value = Unscale(result.value);
            }
        }
        out.Add("last_exact", kernel->last);
    }

private:
    static T Scale(T x)
    {
        if constexpr (std::is_integral_v<T>)
            return static_cast<T>(static_cast<std::make_unsigned_t<T>>(x) << Shift);
        else
            return x * static_cast<T>(1LL << Shift);
    }

    static T Unscale(T x)
    {
        if constexpr (std::is_integral_v<T>)
            return x / (T(1) << Shift);
        else
            return x / static_cast<T>(1LL << Shift);
    }

    // Integer differences wrap instead of overflowing.
    static T Difference(T a, T b)
    {
        if constexpr (std::is_integral_v<T>)
            return static_cast<T>(static_cast<std::make_unsigned_t<T>>(a) - static_cast<std::make_unsigned_t<T>>(b));
        else
            return a - b;
    }

    static T Absolute(T x)
    {
        if constexpr (std::is_integral_v<T>)
            return x < 0 ? static_cast<T>(std::make_unsigned_t<T>(0) - static_cast<std::make_unsigned_t<T>>(x)) : x;
        else
            return std::fabs(x);
    }

    Kernel m_value;
    Kernel m_increment;
    Kernel m_abs_increment;
    long long m_seen = 0;
    int m_subject = 0;
};

}  // namespace StatUtils
}  // namespace AlgoLibrary
