#pragma once

// What the comparison benchmarks share: a console reporter that keeps each benchmark's time, and the
// ratios of our runs to the reference runs printed after them.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <map>
#include <string>
#include <utility>
#include <vector>

namespace bench_support {

// Prints as usual and keeps each benchmark's time per iteration.
class RecordingReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override
    {
        for (const Run& run : runs)
            if (run.run_type == Run::RT_Iteration)
                times[run.benchmark_name()] = run.GetAdjustedRealTime();
        ConsoleReporter::ReportRuns(runs);
    }

    std::map<std::string, double> times;
};

// Runs the benchmarks asked for on the command line and prints ours/reference for each pair.
inline int RunAndPrintTimeRatios(int argc, char** argv, const std::vector<std::pair<std::string, std::string>>& pairs)
{
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    RecordingReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    for (const auto& [ours, theirs] : pairs) {
        const auto a = reporter.times.find(ours);
        const auto b = reporter.times.find(theirs);
        if (a == reporter.times.end() || b == reporter.times.end() || b->second <= 0.0)
            std::printf("%s/%s time ratio: not measured\n", ours.c_str(), theirs.c_str());
        else
            std::printf("%s/%s time ratio: %.3f (below 1 means ours is faster)\n", ours.c_str(), theirs.c_str(),
                        a->second / b->second);
    }
    return 0;
}

}  // namespace bench_support
