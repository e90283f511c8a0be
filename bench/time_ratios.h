#pragma once

// What the comparison benchmarks share: a console reporter that keeps each benchmark's time, and the
// ratios of our runs to the reference runs printed after them (the medians when the benchmarks run
// with --benchmark_repetitions; --benchmark_enable_random_interleaving spreads a busy machine's
// disturbance over all of them). A benchmark whose output check fails
// calls state.SkipWithError; the program then ends with a non-zero code, so that a run with a tiny
// --benchmark_min_time serves as a test of the checks.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <map>
#include <set>
#include <string>
#include <utility>
#include <vector>

namespace bench_support {

// Which time of a benchmark counts: its CPU time per iteration (every contender runs on one thread;
// CPU time is what a busy machine disturbs least), or the wall-clock time it reports (manual timing
// of a call that waits for other threads or processes).
enum class TimeKind { kCpu, kWall };

// Prints as usual and keeps each benchmark's time per iteration in seconds and whether any run failed.
class RecordingReporter : public benchmark::ConsoleReporter {
public:
    explicit RecordingReporter(TimeKind kind = TimeKind::kCpu) : m_kind(kind) {}

    void ReportRuns(const std::vector<Run>& runs) override
    {
        for (const Run& run : runs) {
            if (run.error_occurred) {
                failed = true;
                continue;
            }
            // With --benchmark_repetitions the median of the repetitions counts.
            const bool median = run.run_type == Run::RT_Aggregate && run.aggregate_name == "median";
            if (run.run_type != Run::RT_Iteration && !median)
                continue;
            const std::string name = run.run_name.str();
            if (!median && medians.count(name))
                continue;
            if (median)
                medians.insert(name);
            const double time = (m_kind == TimeKind::kCpu ? run.GetAdjustedCPUTime() : run.GetAdjustedRealTime()) /
                                benchmark::GetTimeUnitMultiplier(run.time_unit);
            times[name] = time;
        }
        ConsoleReporter::ReportRuns(runs);
    }

    std::map<std::string, double> times;
    std::set<std::string> medians;
    bool failed = false;

private:
    TimeKind m_kind;
};

// Runs the benchmarks asked for on the command line and prints ours/reference per call for each
// pair. Returns 1 when a benchmark's check failed.
inline int RunAndPrintTimeRatios(int argc, char** argv, const std::vector<std::pair<std::string, std::string>>& pairs,
                                 TimeKind kind = TimeKind::kCpu)
{
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    RecordingReporter reporter(kind);
    benchmark::RunSpecifiedBenchmarks(&reporter);
    std::printf("\nTime ratios, ours / reference (below 1 means ours is faster):\n");
    for (const auto& [ours, theirs] : pairs) {
        const auto a = reporter.times.find(ours);
        const auto b = reporter.times.find(theirs);
        if (a == reporter.times.end() || b == reporter.times.end() || b->second <= 0.0) {
            std::printf("  %s / %s: not measured\n", ours.c_str(), theirs.c_str());
            continue;
        }
        std::printf("  %s / %s: per call %.3f\n", ours.c_str(), theirs.c_str(), a->second / b->second);
    }
    benchmark::Shutdown();
    if (reporter.failed) {
        std::printf("An output check failed (see the errors above).\n");
        return 1;
    }
    return 0;
}

}  // namespace bench_support
