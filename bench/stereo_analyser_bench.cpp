// The whole stereo analyser per stereo pair at the default working size (160x120 per view), one
// thread, with the block matcher and with the semi-global matcher, on a rendered scene with people
// walking under the camera. After the runs the share of each stage (the analyser's own statistics
// timers) is printed.
#include <benchmark/benchmark.h>
#include <tbb/global_control.h>

#include <cstdio>
#include <map>
#include <memory>
#include <opencv2/core.hpp>
#include <string>
#include <vector>

#include "CommonUtilities/DebugInterfaces/debug_interfaces.h"
#include "CommonUtilities/ParameterAccess/load_parameters.h"
#include "CommonUtilities/algorithm_support/block_traverse.h"
#include "CommonUtilities/algorithm_support/stats_readable_text.h"
#include "StereoAnalyzer/StereoPeopleCounter/i_stereo_people_counter.h"
#include "tools/scene_renderer/renderer.h"
#include "tools/scene_renderer/scene_files.h"

namespace {

constexpr int kFrames = 120;

// The stage timers of the last run of each matcher, printed after all runs.
std::map<std::string, std::string>& StageReports()
{
    static std::map<std::string, std::string> reports;
    return reports;
}

// 120 rendered pairs, 160x120 per view, with people passing both ways.
const std::vector<cv::Mat>& Frames()
{
    static const std::vector<cv::Mat> frames = [] {
        scene::Scene s;
        s.rig.width = 160;
        s.rig.height = 120;
        s.rig.focal = 100.0;
        s.frames = kFrames;
        for (const char* person : {"0,-190,0,190,5,180,0", "-50,190,-50,-190,5,175,20", "45,-190,45,190,4,168,50"})
            s.people.push_back(scene::ParsePerson(person));
        const scene::Renderer renderer(s);
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

void BM_StereoAnalyser(benchmark::State& state, const std::string& matcher)
{
    cv::setNumThreads(1);
    std::unique_ptr<stereo::IStereoPeopleCounter> analyser(stereo::IStereoPeopleCounter::CreateInstance());
    analyser->GetModifiableContext().SetName("StereoPeopleCounter");
    BlockEntities::TraverseSetContexts(analyser.get());
    auto stats = std::make_shared<BlockEntities::Stats::ReadableText>();
    const BlockEntities::DebugInterfaces interfaces(nullptr, stats, nullptr);
    BlockEntities::Traverse<BlockEntities::IDebuggable>(
        analyser.get(), [&](BlockEntities::IDebuggable* block, const BlockEntities::Context&) {
            block->SetDebugInterfaces(interfaces);
        });
    ParamsLib::load_parameters(WriteIni(matcher).c_str(), 0, analyser.get(), nullptr);
    analyser->InitFromParams();
    const std::vector<cv::Mat>& frames = Frames();
    const int width = frames[0].cols / 2, height = frames[0].rows;
    std::vector<stereo::StereoCountingObjData> objects;
    long long frame = 0;
    for (auto _ : state) {
        const cv::Mat& pair = frames[frame % kFrames];
        analyser->ProcessStereoPair(pair(cv::Rect(0, 0, width, height)), pair(cv::Rect(width, 0, width, height)), false,
                                    frame * 400000);
        analyser->GetObjects(objects);
        benchmark::DoNotOptimize(objects.data());
        ++frame;
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
    benchmark::RunSpecifiedBenchmarks();
    for (const auto& report : StageReports())
        std::printf("\n%s stages (last run):\n%s\n", report.first.c_str(), report.second.c_str());
    benchmark::Shutdown();
    return 0;
}
