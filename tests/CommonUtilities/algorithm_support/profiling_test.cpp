#include "CommonUtilities/algorithm_support/profiling.h"

#include <climits>
#include <cmath>
#include <string>

#include <gtest/gtest.h>

namespace {

using AlgoLibrary::Profiling::CProfileStatistic;

TEST(ProfilingClockTest, TicksAreNanoseconds)
{
    long long frequency = 0;
    AlgoLibrary::MyQueryPerformanceFrequency(&frequency);
    EXPECT_EQ(frequency, 1000000000LL);

    long long first = 0;
    long long second = 0;
    EXPECT_EQ(AlgoLibrary::MyQueryPerformanceCounter(&first), 0);
    EXPECT_EQ(AlgoLibrary::MyQueryPerformanceCounter(&second), 0);
    EXPECT_GT(first, 0);
    EXPECT_LE(first, second);
}

TEST(ProfilingClockTest, MillisecondsFollowTheTickClock)
{
    EXPECT_EQ(AlgoLibrary::Profiling::TicksToMls(2500000000LL), 2500);
    EXPECT_EQ(AlgoLibrary::Profiling::TicksToMls(999999), 0);
    EXPECT_EQ(AlgoLibrary::Profiling::TicksToMls(1999999999LL), 1999);

    const long long before = AlgoLibrary::Profiling::GetCurTime();
    const long long mls = AlgoLibrary::Profiling::AlgoGetMls();
    const long long after = AlgoLibrary::Profiling::GetCurTime();
    EXPECT_LE(AlgoLibrary::Profiling::TicksToMls(before), mls);
    EXPECT_LE(mls, AlgoLibrary::Profiling::TicksToMls(after));
}

TEST(ProfilingClockTest, MillisecondsDoNotWrapAfter25Days)
{
    const long long thirty_days = 30LL * 24 * 3600 * 1000000000LL;
    const long long mls = AlgoLibrary::Profiling::TicksToMls(thirty_days);
    EXPECT_EQ(mls, 2592000000LL);
    EXPECT_GT(mls, INT_MAX);
}

TEST(CProfileStatisticTest, RingKeepsTheLast500Values)
{
    CProfileStatistic statistic("ring");
    EXPECT_EQ(statistic.GetVolume(), 500);
    for (int v = 1; v <= 501; ++v)
        EXPECT_EQ(statistic.NextValue(v), 0);
    EXPECT_EQ(statistic.GetCount(), 500);
    // The first value was replaced: the sums cover 2..501.
    EXPECT_DOUBLE_EQ(statistic.GetAverage(), 251.5);
    EXPECT_DOUBLE_EQ(statistic.GetAverage(500), 251.5);
    EXPECT_DOUBLE_EQ(statistic.GetMax(500), 501.0);
    EXPECT_DOUBLE_EQ(statistic.GetLastValue(), 501.0);
    EXPECT_DOUBLE_EQ(statistic.GetAverage(2), 500.5);
    EXPECT_DOUBLE_EQ(statistic.GetMax(1), 501.0);
    EXPECT_EQ(statistic.GetAverage(501), 0.0);
}

TEST(CProfileStatisticTest, WindowResultsNeedEnoughValues)
{
    CProfileStatistic statistic(nullptr);
    EXPECT_STREQ(statistic.GetName(), "");
    for (int i = 0; i < 49; ++i)
        statistic.NextValue(-1.0 - i);
    EXPECT_EQ(statistic.GetAverage(50), 0.0);
    EXPECT_EQ(statistic.GetMax(50), 0.0);
    // Maxima never go below 0.
    EXPECT_EQ(statistic.GetMax(25), 0.0);
    EXPECT_DOUBLE_EQ(statistic.GetAverage(2), -48.5);
    EXPECT_EQ(statistic.GetMax(0), 0.0);
    EXPECT_EQ(statistic.GetAverage(0), 0.0);
    EXPECT_EQ(statistic.GetAverage(-3), 0.0);
}

TEST(CProfileStatisticTest, EmptyStatisticGivesZeros)
{
    CProfileStatistic statistic("empty");
    EXPECT_EQ(statistic.GetAverage(), 0.0);
    EXPECT_EQ(statistic.GetDeviation(), 0.0);
    EXPECT_EQ(statistic.GetErrorProcent(), 0.0);
    EXPECT_EQ(statistic.GetLastValue(), 0.0);
}

TEST(CProfileStatisticTest, DeviationAndRelativeError)
{
    CProfileStatistic statistic("d");
    statistic.NextValue(1.0);
    statistic.NextValue(3.0);
    EXPECT_DOUBLE_EQ(statistic.GetDeviation(), 1.0);
    EXPECT_DOUBLE_EQ(statistic.GetErrorProcent(), 50.0);

    CProfileStatistic centred("c");
    centred.NextValue(-2.0);
    centred.NextValue(2.0);
    EXPECT_EQ(centred.GetErrorProcent(), 0.0);

    // Rounding residue of values pushed out of the ring never makes the deviation undefined.
    CProfileStatistic ring("r");
    ring.SetVolume(3);
    for (int i = 0; i < 1000; ++i)
        ring.NextValue(i % 2 ? 0.1 : 1e8);
    for (int i = 0; i < 3; ++i)
        ring.NextValue(0.3);
    EXPECT_GE(ring.GetDeviation(), 0.0);
    EXPECT_FALSE(std::isnan(ring.GetDeviation()));
}

TEST(CProfileStatisticTest, SetVolumeEmptiesTheRingOrRefuses)
{
    CProfileStatistic statistic("v");
    statistic.NextValue(7.0);
    EXPECT_EQ(statistic.SetVolume(0), -1);
    EXPECT_EQ(statistic.SetVolume(-5), -1);
    EXPECT_EQ(statistic.SetVolume(static_cast<long long>(INT_MAX) + 1), -1);
    EXPECT_EQ(statistic.GetCount(), 1);
    EXPECT_EQ(statistic.GetVolume(), 500);

    EXPECT_EQ(statistic.SetVolume(3), 0);
    EXPECT_EQ(statistic.GetCount(), 0);
    EXPECT_EQ(statistic.GetAverage(), 0.0);
    for (int v = 1; v <= 4; ++v)
        statistic.NextValue(v);
    EXPECT_EQ(statistic.GetCount(), 3);
    EXPECT_DOUBLE_EQ(statistic.GetAverage(), 3.0);
    EXPECT_DOUBLE_EQ(statistic.GetLastValue(), 4.0);
    EXPECT_DOUBLE_EQ(statistic.GetAverage(3), 3.0);
}

TEST(CProfileStatisticTest, MisorderedCallsReturnErrors)
{
    CProfileStatistic statistic("calls");
    EXPECT_EQ(statistic.End(), -1);
    EXPECT_EQ(statistic.Pause(), -1);
    EXPECT_EQ(statistic.GetCount(), 0);

    EXPECT_EQ(statistic.Start(), 0);
    EXPECT_EQ(statistic.Pause(), 0);
    EXPECT_EQ(statistic.Pause(), -2);
    EXPECT_EQ(statistic.Resume(), 0);
    EXPECT_EQ(statistic.End(), 0);
    EXPECT_EQ(statistic.End(), -1);
    EXPECT_EQ(statistic.GetCount(), 1);
    EXPECT_GE(statistic.GetLastValue(), 0.0);

    // Resume without a running measurement starts one.
    EXPECT_EQ(statistic.Resume(), 0);
    EXPECT_EQ(statistic.End(), 0);
    EXPECT_EQ(statistic.GetCount(), 2);
}

TEST(CProfileStatisticTest, EndRecordsSecondsSinceTheStart)
{
    CProfileStatistic statistic("seconds");
    const long long two_seconds_ago = AlgoLibrary::Profiling::GetCurTime() - 2000000000LL;
    EXPECT_EQ(statistic.SetStartTime(two_seconds_ago), 0);
    EXPECT_EQ(statistic.Pause(), 0);
    EXPECT_EQ(statistic.End(), 0);
    EXPECT_GE(statistic.GetLastValue(), 2.0);
}

TEST(CProfileStatisticTest, NameIsCutAt127Characters)
{
    const std::string long_name(300, 'n');
    CProfileStatistic statistic(long_name.c_str());
    EXPECT_EQ(std::string(statistic.GetName()), std::string(127, 'n'));
}

}  // namespace
