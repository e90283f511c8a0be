// The whole stereo analyser per stereo pair at the default working size (160x120 per view), one
// thread, with the block matcher and with the semi-global matcher, on a rendered scene with people
// walking under the camera. After the runs the share of each stage (the analyser's own statistics
// timers) is printed.
//
// Before it is timed, each analyser counts the scene once from a fresh start: its objects must turn
// "in" and "out" as often as people cross the counting line down and up in the scene's ground truth.
#include <benchmark/benchmark.h>
#include <tbb/global_control.h>

#include <cstdio>
#include <map>
#include <memory>
#include <opencv2/core.hpp>
#include <string>
#include <utility>
#include <vector>

#include "CommonUtilities/DebugInterfaces/debug_interfaces.h"
#include "CommonUtilities/ParameterAccess/load_parameters.h"
#include "CommonUtilities/algorithm_support/block_traverse.h"
#include "CommonUtilities/algorithm_support/stats_readable_text.h"
#include "StereoAnalyzer/StereoPeopleCounter/i_stereo_people_counter.h"
#include "bench/time_ratios.h"
#include "tools/scene_renderer/renderer.h"
#include "tools/scene_renderer/scene_files.h"

namespace {

constexpr int kFrames = 64;

// The stage timers of the last run of each matcher, printed after all runs.
std::map<std::string, std::string>& StageReports()
{
    static std::map<std::string, std::string> reports;
    return reports;
}

// 64 frames at 160x120 per view with people passing both ways, the last crossing the line at frame 54.
scene::Scene Scene()
{
    scene::Scene s;
    s.rig.width = 160;
    s.rig.height = 120;
    s.rig.focal = 100.0;
    s.frames = kFrames;
    for (const char* person : {"0,-190,0,190,5,180,0", "-50,190,-50,-190,5,175,8", "45,-190,45,190,5,168,16"})
        s.people.push_back(scene::ParsePerson(person));
    return s;
}

// The rendered pairs.
const std::vector<cv::Mat>& Frames()
{
    static const std::vector<cv::Mat> frames = [] {
        const scene::Scene s = Scene();
        const scene::Renderer renderer(s);  // keeps a reference to the scene
        std::vector<cv::Mat> rendered;
        for (int f = 0; f < kFrames; ++f) rendered.push_back(renderer.RenderFrame(f));
        return rendered;
    }();
    return frames;
}

std::string WriteIni(const std::string& matcher)
{
    scene::Scene s;
    s.rig.width = 160;
    s.rig.height = 120;
    s.rig.focal = 100.0;
    const std::string path = "/tmp/flowtally_stereo_analyser_bench_" + matcher + ".ini";
    FILE* file = std::fopen(path.c_str(), "w");
    const std::string text =
        scene::AlgoIni(s) + "\n[StereoPeopleCounter]\nStereo_matching_algorithm_name=" + matcher + "\n";
    std::fwrite(text.data(), 1, text.size(), file);
    std::fclose(file);
    return path;
}

// An analyser with the matcher, its stage timers reported to `stats`.
std::unique_ptr<stereo::IStereoPeopleCounter> MakeAnalyser(
    const std::string& matcher, const std::shared_ptr<BlockEntities::Stats::ReadableText>& stats)
{
    std::unique_ptr<stereo::IStereoPeopleCounter> analyser(stereo::IStereoPeopleCounter::CreateInstance());
    analyser->GetModifiableContext().SetName("StereoPeopleCounter");
    BlockEntities::TraverseSetContexts(analyser.get());
    const BlockEntities::DebugInterfaces interfaces(nullptr, stats, nullptr);
    BlockEntities::Traverse<BlockEntities::IDebuggable>(
        analyser.get(), [&](BlockEntities::IDebuggable* block, const BlockEntities::Context&) {
            block->SetDebugInterfaces(interfaces);
        });
    ParamsLib::load_parameters(WriteIni(matcher).c_str(), 0, analyser.get(), nullptr);
    analyser->InitFromParams();
    return analyser;
}

// One pair (frame number `frame` modulo the scene's) and the objects after it.
void Process(stereo::IStereoPeopleCounter& analyser, long long frame,
             std::vector<stereo::StereoCountingObjData>& objects)
{
    const cv::Mat& pair = Frames()[static_cast<std::size_t>(frame % kFrames)];
    const int width = pair.cols / 2, height = pair.rows;
    analyser.ProcessStereoPair(pair(cv::Rect(0, 0, width, height)), pair(cv::Rect(width, 0, width, height)), false,
                               frame * 400000);
    analyser.GetObjects(objects);
}

// Empty when the objects of a fresh analyser turn "in" and "out" over the scene as often as the
// ground truth's people cross the line down and up; otherwise what differs.
std::string CountingError(const std::string& matcher)
{
    const auto analyser = MakeAnalyser(matcher, std::make_shared<BlockEntities::Stats::ReadableText>());
    std::map<long long, std::pair<bool, bool>> previous;
    int in = 0, out = 0, truth_in = 0, truth_out = 0;
    std::vector<stereo::StereoCountingObjData> objects;
    for (long long frame = 0; frame < kFrames; ++frame) {
        Process(*analyser, frame, objects);
        for (const stereo::StereoCountingObjData& object : objects) {
            auto& [was_in, was_out] = previous[object.object_id];
            in += object.in_flag && !was_in;
            out += object.out_flag && !was_out;
            was_in = object.in_flag;
            was_out = object.out_flag;
        }
    }
    for (const scene::Crossing& crossing : scene::GroundTruth(Scene())) ++(crossing.incoming ? truth_in : truth_out);
    if (in == truth_in && out == truth_out)
        return "";
    return "counted " + std::to_string(in) + " in and " + std::to_string(out) + " out where " +
           std::to_string(truth_in) + " and " + std::to_string(truth_out) + " people passed";
}

void BM_StereoAnalyser(benchmark::State& state, const std::string& matcher)
{
    cv::setNumThreads(1);
    const std::string error = CountingError(matcher);
    if (!error.empty())
        state.SkipWithError(error.c_str());
    auto stats = std::make_shared<BlockEntities::Stats::ReadableText>();
    const auto analyser = MakeAnalyser(matcher, stats);
    std::vector<stereo::StereoCountingObjData> objects;
    long long frame = 0;
    for (auto _ : state) {
        Process(*analyser, frame++, objects);
        benchmark::DoNotOptimize(objects.data());
    }
    StageReports()[matcher] = stats->GetReadableStatsAsMultilineString();
}

}  // namespace

BENCHMARK_CAPTURE(BM_StereoAnalyser, BlockMatcher, std::string("BM"))->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_StereoAnalyser, SemiGlobalMatcher, std::string("SGBM"))->Unit(benchmark::kMillisecond);

int main(int argc, char** argv)
{
    // One thread: the analyser's per-view stages and the matchers' two views run on TBB.
    tbb::global_control one_thread(tbb::global_control::max_allowed_parallelism, 1);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    bench_support::RecordingReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    for (const auto& report : StageReports())
        std::printf("\n%s stages (last run):\n%s\n", report.first.c_str(), report.second.c_str());
    benchmark::Shutdown();
    return reporter.failed ? 1 : 0;
}
