// The whole single-camera traffic controller per frame at 160 x 120 on rendered scenes with one
// and with five people walking through the counting line, on one thread. Alongside, OpenCV's
// pyramidal Lucas-Kanade on the same frames (a grid of 100 points, 15 x 15 windows, 3 levels) as
// a reference of a per-frame tracking cost. At the end: the time per frame against the 2 ms
// budget, the ratio to the reference, and the time of each stage as the controller's own
// statistics measured it.
//
// Before it is timed, the controller counts each scene once from a fresh start: its objects must
// turn "in" and "out" as often as people cross the counting line down and up in the scene's
// ground truth.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <opencv2/core.hpp>
#include <opencv2/video/tracking.hpp>
#include <string>
#include <utility>
#include <vector>

#include "CommonUtilities/ParameterAccess/load_parameters.h"
#include "CommonUtilities/algorithm_support/block_light.h"
#include "CommonUtilities/algorithm_support/stats_readable_text.h"
#include "PeopleCounter/analytics/traffic_controller/src/traffic_controller.h"
#include "bench/time_ratios.h"
#include "tools/scene_renderer/renderer.h"
#include "tools/scene_renderer/scene_files.h"

namespace {

constexpr int kFrames = 150;
constexpr double kBudgetNs = 2e6;

scene::Scene MakeScene(int people)
{
    scene::Scene s;
    s.rig.stereo = false;
    s.rig.width = 160;
    s.rig.height = 120;
    s.rig.focal = 100.0;
    s.frames = kFrames;
    // Two lanes within the view, both ways, one person every 15 frames: several in the picture at once.
    const char* paths[] = {"-35,-200,-35,200,5,180,0,1", "35,200,35,-200,5,175,15,1", "-35,-200,-35,200,5,170,30,1",
                           "35,200,35,-200,5,185,45,1", "-35,-200,-35,200,5,178,60,1"};
    for (int i = 0; i < people; ++i) s.people.push_back(scene::ParsePerson(paths[i]));
    return s;
}

const std::vector<cv::Mat>& Frames(int people)
{
    static std::map<int, std::vector<cv::Mat>> cache;
    std::vector<cv::Mat>& frames = cache[people];
    if (frames.empty()) {
        const scene::Scene s = MakeScene(people);
        const scene::Renderer renderer(s);
        for (int f = 0; f < kFrames; ++f) frames.push_back(renderer.RenderFrame(f));
    }
    return frames;
}

// A root block with one controller, parameters from the scene's parameter file.
class Root : public BlockHighlevel::LightBlock<BlockEntities::IAlgoEntityBase> {
public:
    explicit Root(int people) : stats(std::make_shared<BlockEntities::Stats::ReadableText>())
    {
        TrafficControllerInitParams params;
        params.name = "MonoPeopleCounter";
        params.parent = GetChildrenRegistry();
        controller.reset(static_cast<CTrafficController*>(ITrafficController::CreateNew(params)));
        BlockEntities::TraverseSetContexts(this);
        SetDebugInterfacesImpl(BlockEntities::DebugInterfaces(nullptr, stats, nullptr));
        BlockEntities::Traverse<BlockEntities::IDebuggable>(this, SetterOfDebugInterfacesIdenticalToMy());
        const std::string path =
            (std::filesystem::temp_directory_path() / ("flowtally-bench-" + std::to_string(people) + ".ini")).string();
        std::ofstream(path) << scene::AlgoIni(MakeScene(people));
        ParamsLib::load_parameters(path.c_str(), 0, this, nullptr);
        std::filesystem::remove(path);
        controller->InitImage({160, 120, 1, 160, 0, 1});
    }
    std::shared_ptr<BlockEntities::Stats::ReadableText> stats;
    std::unique_ptr<CTrafficController> controller;
};

// The ground truth's crossings, incoming and outgoing.
std::pair<int, int> TruthCounts(int people)
{
    std::pair<int, int> counts{0, 0};
    for (const scene::Crossing& crossing : scene::GroundTruth(MakeScene(people)))
        ++(crossing.incoming ? counts.first : counts.second);
    return counts;
}

// How often the controller's objects turn "in" and "out" over the frames of the scene.
std::pair<int, int> CountedPasses(int people)
{
    Root root(people);
    std::map<int64_t, std::pair<bool, bool>> previous;
    std::pair<int, int> counts{0, 0};
    long long tick = 0;
    for (const cv::Mat& frame : Frames(people)) {
        root.controller->ProcessImage(frame.data, tick += 400000);
        std::vector<PeopleCountingPODObjData> objects;
        root.controller->GetObjects(objects);
        for (const PeopleCountingPODObjData& object : objects) {
            auto& [in, out] = previous[object.id];
            counts.first += object.in && !in;
            counts.second += object.out && !out;
            in = object.in;
            out = object.out;
        }
    }
    return counts;
}

std::map<std::string, double> g_ns_per_frame;
std::map<int, std::string> g_stages;

void BM_TrafficController(benchmark::State& state)
{
    cv::setNumThreads(1);
    const int people = static_cast<int>(state.range(0));
    const std::vector<cv::Mat>& frames = Frames(people);
    const auto [in, out] = CountedPasses(people);
    const auto [truth_in, truth_out] = TruthCounts(people);
    if (in != truth_in || out != truth_out)
        state.SkipWithError(("counted " + std::to_string(in) + " in and " + std::to_string(out) + " out where " +
                             std::to_string(truth_in) + " and " + std::to_string(truth_out) + " people passed")
                                .c_str());
    Root root(people);
    long long tick = 0;
    std::size_t i = 0;
    for (auto _ : state) {
        root.controller->ProcessImage(frames[i].data, tick);
        std::vector<PeopleCountingPODObjData> objects;
        root.controller->GetObjects(objects);
        benchmark::DoNotOptimize(objects.data());
        tick += 400000;
        i = (i + 1) % frames.size();
    }
    state.SetItemsProcessed(state.iterations());
    g_stages[people] = root.stats->GetReadableStatsAsMultilineString();
}

void BM_OpenCvPyramidalLK(benchmark::State& state)
{
    cv::setNumThreads(1);
    const int people = static_cast<int>(state.range(0));
    const std::vector<cv::Mat>& frames = Frames(people);
    std::vector<cv::Point2f> grid, next;
    for (int y = 0; y < 10; ++y)
        for (int x = 0; x < 10; ++x) grid.emplace_back(20.f + x * 13.f, 10.f + y * 11.f);
    std::vector<unsigned char> status;
    std::vector<float> error;
    std::size_t i = 1;
    for (auto _ : state) {
        cv::calcOpticalFlowPyrLK(frames[i - 1], frames[i], grid, next, status, error, cv::Size(15, 15), 2);
        benchmark::DoNotOptimize(next.data());
        i = i + 1 < frames.size() ? i + 1 : 1;
    }
    state.SetItemsProcessed(state.iterations());
}

BENCHMARK(BM_TrafficController)->Arg(1)->Arg(5)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_OpenCvPyramidalLK)->Arg(1)->Arg(5)->Unit(benchmark::kMicrosecond);

}  // namespace

int main(int argc, char** argv)
{
    benchmark::Initialize(&argc, argv);
    bench_support::RecordingReporter reporter;  // CPU seconds per iteration
    benchmark::RunSpecifiedBenchmarks(&reporter);
    for (const auto& [name, seconds] : reporter.times) g_ns_per_frame[name] = seconds * 1e9;
    for (int people : {1, 5}) {
        const std::string ours = "BM_TrafficController/" + std::to_string(people);
        const std::string reference = "BM_OpenCvPyramidalLK/" + std::to_string(people);
        if (!g_ns_per_frame.count(ours))
            continue;
        const double ns = g_ns_per_frame[ours];
        std::printf("%d people: %.0f us per frame, %.2f of the 2 ms budget", people, ns / 1000.0, ns / kBudgetNs);
        if (g_ns_per_frame.count(reference))
            std::printf(", %.2f x OpenCV's pyramidal Lucas-Kanade on 100 points", ns / g_ns_per_frame[reference]);
        std::printf("\n");
    }
    for (const auto& stages : g_stages)
        std::printf("\nStages with %d people (microseconds):\n%s\n", stages.first, stages.second.c_str());
    benchmark::Shutdown();
    return reporter.failed ? 1 : 0;
}
