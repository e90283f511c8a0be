#pragma once

#include <vector>

// The algorithms' time base: nanosecond ticks of the raw monotonic clock.
namespace AlgoLibrary {

// Ticks per second: always 1,000,000,000.
void MyQueryPerformanceFrequency(long long* frequency);
// Writes the current tick count; returns clock_gettime's result (0 on success).
int MyQueryPerformanceCounter(long long* ticks);
void MySleep(unsigned ms);

namespace Profiling {

long long GetCurTime();
// Milliseconds of the tick clock. 64 bits wide, so it does not wrap after 24.9 days of uptime.
long long AlgoGetMls();
// Milliseconds in `ticks`, in integer arithmetic that cannot overflow for any tick count.
long long TicksToMls(long long ticks);

// Times stretches of work (or takes values directly) and keeps the last values in a ring for
// averages and maxima. Misordered calls return negative codes and change nothing.
class CProfileStatistic {
public:
    static constexpr int kDefaultVolume = 500;
    static constexpr int kNameSize = 128;

    explicit CProfileStatistic(const char* name = nullptr);

    // Empties the ring and makes room for n values; -1 when n is not in 1 .. INT_MAX.
    int SetVolume(long long n);

    int Start();
    int SetStartTime(const long long& start_ticks);
    int Pause();
    int Resume();
    // Ends the measurement and records its length in seconds.
    int End();
    int NextValue(double value);

    double GetAverage() const;
    // Mean of the last n values; 0 while fewer than n are held.
    double GetAverage(int n) const;
    // Largest of the last n values but at least 0; 0 while fewer than n are held.
    double GetMax(int n) const;
    double GetDeviation() const;
    double GetErrorProcent() const;
    double GetLastValue() const;

    const char* GetName() const { return m_name; }
    int GetCount() const { return m_count; }
    int GetVolume() const { return m_volume; }

private:
    // Value i places before the newest one (i = 0 is the newest).
    double Back(int i) const;

    int m_volume = kDefaultVolume;
    int m_count = 0;
    int m_next = 0;
    std::vector<double> m_values;
    double m_sum = 0.0;
    double m_sum_squares = 0.0;
    long long m_frequency = 0;
    long long m_start_time = 0;
    long long m_elapsed = 0;
    bool m_running = false;
    bool m_paused = false;
    char m_name[kNameSize];
};

}  // namespace Profiling
}  // namespace AlgoLibrary
