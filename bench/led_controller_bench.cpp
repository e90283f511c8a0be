// What signalling a pass on the LEDs costs the algorithm thread: the wall-clock time of one
// LedController::EventIn call, with a utility that leaves a process in the background at every call
// against /bin/true (the reference), in the same process and on one thread; the ratios of the two
// are printed at the end. The calls come paced like passes, one every 50 ms (about the rate at
// which the single-camera service counts a looped scene as fast as it can) and one every 10 ms
// (all workers busy); the argument is the pace in milliseconds. Each background process lives
// kBackgroundLife, so about kBackgroundLife / pace process groups are left behind for the
// controller to watch while the calls come. Each benchmark also reports its slowest call and the
// number of calls that took longer than a millisecond. Before it is timed, the utility's run is
// checked: every pass runs it, nothing is logged (nothing dropped, nothing failed), and once the
// controller is destroyed none of the background processes is left.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <stdexcept>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include <sys/stat.h>
#include <unistd.h>

#include "application/outputs/led_controller.h"
#include "bench/time_ratios.h"
#include "tests/support/log_capture.h"
#include "tests/support/processes.h"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

constexpr int kPasses = 100;
constexpr std::chrono::milliseconds kCheckPace{10};
constexpr const char* kBackgroundLife = "1";  // seconds, as /bin/sleep takes it
constexpr int kCheckPasses = 10;

// A fresh directory for the utility's records, removed with the object.
class ScratchDir {
public:
    ScratchDir()
    {
        std::string pattern = (fs::temp_directory_path() / "flowtally-led-bench-XXXXXX").string();
        if (::mkdtemp(pattern.data()) == nullptr)
            throw std::runtime_error("Can not create a directory in " + fs::temp_directory_path().string());
        m_path = pattern;
    }
    ~ScratchDir()
    {
        std::error_code ignored;
        fs::remove_all(m_path, ignored);
    }
    ScratchDir(const ScratchDir&) = delete;
    ScratchDir& operator=(const ScratchDir&) = delete;

    const fs::path& Path() const { return m_path; }

private:
    fs::path m_path;
};

// The utility: starts a sleep in the background, records its process id in "bg.<pid>" and exits.
std::string WriteLeavingUtility(const fs::path& dir)
{
    const fs::path path = dir / "leaves_background.sh";
    std::ofstream(path) << "#!/bin/sh\n/bin/sleep " << kBackgroundLife << " &\necho $! > '" << dir.string()
                        << "/tmp.'$$\n/bin/mv '" << dir.string() << "/tmp.'$$ '" << dir.string() << "/bg.'$$\n";
    ::chmod(path.c_str(), 0755);
    return path.string();
}

std::vector<std::string> Records(const fs::path& dir)
{
    std::vector<std::string> records;
    for (const auto& entry : fs::directory_iterator(dir))
        if (entry.path().filename().string().rfind("bg.", 0) == 0)
            records.push_back(entry.path().string());
    return records;
}

// Empty when every pass ran the utility, nothing was logged, and no background process outlived
// the controller; otherwise what went wrong.
std::string CheckEveryPassRuns(const std::string& utility, const fs::path& dir)
{
    testing_support::LogCapture log;
    {
        LedController leds(utility);
        for (int i = 0; i < kCheckPasses; ++i) {
            leds.EventIn();
            std::this_thread::sleep_for(kCheckPace);
        }
        const auto deadline = Clock::now() + std::chrono::seconds(5);
        while (Records(dir).size() < static_cast<std::size_t>(kCheckPasses) && Clock::now() < deadline)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    const auto records = Records(dir);
    if (records.size() != static_cast<std::size_t>(kCheckPasses))
        return std::to_string(records.size()) + " of " + std::to_string(kCheckPasses) + " passes ran the utility";
    if (!log.Lines().empty())
        return "the controller logged: " + log.Lines().front();
    for (const auto& record : records) {
        std::string pid;
        std::ifstream(record) >> pid;
        if (pid.empty() || testing_support::IsAlive(pid))
            return "background process " + pid + " outlived the controller";
    }
    for (const auto& record : records) fs::remove(record);
    return std::string();
}

// Calls EventIn once per iteration, every state.range(0) milliseconds, and times only the call.
void TimeEventIn(benchmark::State& state, const std::string& utility)
{
    const std::chrono::milliseconds pace(state.range(0));
    LedController leds(utility);
    double slowest = 0.0;
    int over_a_millisecond = 0;
    for (auto _ : state) {
        const auto start = Clock::now();
        leds.EventIn();
        const double took = std::chrono::duration<double>(Clock::now() - start).count();
        state.SetIterationTime(took);
        slowest = std::max(slowest, took);
        over_a_millisecond += took > 1e-3;
        std::this_thread::sleep_until(start + pace);
    }
    state.counters["slowest_ms"] = slowest * 1e3;
    state.counters["calls_over_1ms"] = over_a_millisecond;
}

void BM_EventInLeavingBackground(benchmark::State& state)
{
    const ScratchDir dir;
    const std::string utility = WriteLeavingUtility(dir.Path());
    const std::string failure = CheckEveryPassRuns(utility, dir.Path());
    if (!failure.empty()) {
        state.SkipWithError(failure.c_str());
        return;
    }
    TimeEventIn(state, utility);
}
BENCHMARK(BM_EventInLeavingBackground)
    ->Arg(50)
    ->Arg(10)
    ->UseManualTime()
    ->Iterations(kPasses)
    ->Unit(benchmark::kMicrosecond);

void BM_EventInTrue(benchmark::State& state)
{
    TimeEventIn(state, "/bin/true");
}
BENCHMARK(BM_EventInTrue)->Arg(50)->Arg(10)->UseManualTime()->Iterations(kPasses)->Unit(benchmark::kMicrosecond);

}  // namespace

int main(int argc, char** argv)
{
    // Near 1: EventIn does not wait for what the utility leaves behind.
    const std::string timing = "/iterations:" + std::to_string(kPasses) + "/manual_time";
    std::vector<std::pair<std::string, std::string>> pairs;
    for (const char* pace : {"50", "10"})
        pairs.emplace_back(std::string("BM_EventInLeavingBackground/") + pace + timing,
                           std::string("BM_EventInTrue/") + pace + timing);
    return bench_support::RunAndPrintTimeRatios(argc, argv, pairs, bench_support::TimeKind::kWall);
}
