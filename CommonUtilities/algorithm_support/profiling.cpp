#include "CommonUtilities/algorithm_support/profiling.h"

#include <algorithm>
#include <chrono>
#include <climits>
#include <cmath>
#include <cstring>
#include <thread>

#include <time.h>

namespace AlgoLibrary {

namespace {
constexpr long long kTicksPerSecond = 1000000000LL;
}

void MyQueryPerformanceFrequency(long long* frequency)
{
    *frequency = kTicksPerSecond;
}

int MyQueryPerformanceCounter(long long* ticks)
{
    timespec now{};
    const int result = clock_gettime(CLOCK_MONOTONIC_RAW, &now);
    *ticks = static_cast<long long>(now.tv_sec) * kTicksPerSecond + now.tv_nsec;
    return result;
}

void MySleep(unsigned ms)
{
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

namespace Profiling {

long long GetCurTime()
{
    long long ticks = 0;
    MyQueryPerformanceCounter(&ticks);
    return ticks;
}

long long TicksToMls(long long ticks)
{
    return (ticks / kTicksPerSecond) * 1000 + ((ticks % kTicksPerSecond) * 1000) / kTicksPerSecond;
}

long long AlgoGetMls()
{
    return TicksToMls(GetCurTime());
}

CProfileStatistic::CProfileStatistic(const char* name)
{
    std::memset(m_name, 0, sizeof(m_name));
    if (name)
        std::strncpy(m_name, name, sizeof(m_name) - 1);
    m_values.reserve(static_cast<size_t>(m_volume));
    MyQueryPerformanceFrequency(&m_frequency);
}

int CProfileStatistic::SetVolume(long long n)
{
    if (n < 1 || n > INT_MAX)
        return -1;
    // Reserve first, so that a failure leaves the statistic as it was.
    std::vector<double> values;
    values.reserve(static_cast<size_t>(n));
    m_values.swap(values);
    m_volume = static_cast<int>(n);
    m_sum = 0.0;
    m_sum_squares = 0.0;
    m_count = 0;
    m_next = 0;
    return 0;
}

int CProfileStatistic::Start()
{
    return SetStartTime(GetCurTime());
}

int CProfileStatistic::SetStartTime(const long long& start_ticks)
{
    m_running = true;
    m_paused = false;
    m_elapsed = 0;
    m_start_time = start_ticks;
    return 0;
}

int CProfileStatistic::Pause()
{
    if (!m_running)
        return -1;
    if (m_paused)
        return -2;
    m_elapsed += GetCurTime() - m_start_time;
    m_paused = true;
    return 0;
}

int CProfileStatistic::Resume()
{
    if (!m_running) {
        m_running = true;
        m_elapsed = 0;
    }
    m_paused = false;
    m_start_time = GetCurTime();
    return 0;
}

int CProfileStatistic::End()
{
    if (!m_running)
        return -1;
    if (!m_paused) {
        m_elapsed += GetCurTime() - m_start_time;
        m_paused = true;
    }
    m_running = false;
    return NextValue(static_cast<double>(m_elapsed) / static_cast<double>(m_frequency));
}

int CProfileStatistic::NextValue(double value)
{
    if (m_count == m_volume) {
        double& slot = m_values[static_cast<size_t>(m_next)];
        m_sum -= slot;
        m_sum_squares -= slot * slot;
        slot = value;
    } else {
        m_values.push_back(value);
        ++m_count;
    }
    m_sum += value;
    m_sum_squares += value * value;
    m_next = (m_next + 1) % m_volume;
    return 0;
}

double CProfileStatistic::Back(int i) const
{
    int index = m_next - 1 - i;
    if (index < 0)
        index += m_volume;
    return m_values[static_cast<size_t>(index)];
}

double CProfileStatistic::GetAverage() const
{
    return m_count == 0 ? 0.0 : m_sum / m_count;
}

double CProfileStatistic::GetAverage(int n) const
{
    if (n < 1 || n > m_count)
        return 0.0;
    double sum = 0.0;
    for (int i = 0; i < n; ++i)
        sum += Back(i);
    return sum / n;
}

double CProfileStatistic::GetMax(int n) const
{
    if (n < 1 || n > m_count)
        return 0.0;
    double result = 0.0;
    for (int i = 0; i < n; ++i)
        result = std::max(result, Back(i));
    return result;
}

double CProfileStatistic::GetDeviation() const
{
    if (m_count == 0)
        return 0.0;
    const double mean = m_sum / m_count;
    // Values pushed out of the ring leave rounding residue in the sums; never go below 0.
    return std::sqrt(std::max(0.0, m_sum_squares / m_count - mean * mean));
}

double CProfileStatistic::GetErrorProcent() const
{
    if (m_count == 0)
        return 0.0;
    const double mean = m_sum / m_count;
    if (mean == 0.0)
        return 0.0;
    return GetDeviation() * 100.0 / std::fabs(mean);
}

double CProfileStatistic::GetLastValue() const
{
    if (m_count == 0)
        return 0.0;
    return Back(0);
}

}  // namespace Profiling
}  // namespace AlgoLibrary
