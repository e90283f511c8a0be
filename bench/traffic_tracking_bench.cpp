// Tracking primitives of the traffic controller at the working size (160x120): the Lucas-Kanade
// tracker in float and fixed point against OpenCV's calcOpticalFlowPyrLK (same points, window,
// levels and criteria, one thread each), and the bipartite matching on tracker-like sparse cost
// matrices. The time ratios are printed at the end.
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdio>
#include <map>
#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>
#include <opencv2/video/tracking.hpp>
#include <random>
#include <string>
#include <vector>

#include "CommonUtilities/algorithm_support/kernel_path.h"
#include "PeopleCounter/analytics/traffic_controller/src/primitives/bipartite_weight_matching.h"
#include "PeopleCounter/analytics/traffic_controller/src/primitives/optic_flow/optic_flow_lk_fixed.h"
#include "PeopleCounter/analytics/traffic_controller/src/primitives/point_tracker.h"
#include "bench/time_ratios.h"

namespace {

const cv::Size kFrame(160, 120);
constexpr int kHalfWindow = 5;  // the optic flow block's window for a 24-pixel target radius
constexpr int kLevels = 3;
const cv::TermCriteria kCriteria(cv::TermCriteria::COUNT + cv::TermCriteria::EPS, 20, 0.02);

// Two frames of a blurred random texture, the second shifted by (2.3, -1.6) pixels, and the points.
struct FlowInput {
    explicit FlowInput(int count)
    {
        std::mt19937 random(20151012);
        cv::Mat noise(kFrame, CV_32FC1);
        std::uniform_real_distribution<float> grey(0.f, 255.f);
        for (int y = 0; y < kFrame.height; ++y)
            for (int x = 0; x < kFrame.width; ++x) noise.at<float>(y, x) = grey(random);
        cv::GaussianBlur(noise, noise, cv::Size(0, 0), 1.5);
        cv::normalize(noise, noise, 10, 245, cv::NORM_MINMAX);
        const cv::Mat shift = (cv::Mat_<double>(2, 3) << 1, 0, 2.3, 0, 1, -1.6);
        cv::Mat moved;
        cv::warpAffine(noise, moved, shift, kFrame, cv::INTER_LINEAR, cv::BORDER_REFLECT);
        noise.convertTo(first, CV_8U);
        moved.convertTo(second, CV_8U);
        std::uniform_real_distribution<float> x(8.f, kFrame.width - 8.f), y(8.f, kFrame.height - 8.f);
        for (int i = 0; i < count; ++i) points.emplace_back(x(random), y(random));
    }

    cv::Mat first, second;
    std::vector<cv::Point2f> points;
};

const FlowInput& Input(int count)
{
    static std::map<int, FlowInput> inputs;
    auto it = inputs.find(count);
    if (it == inputs.end())
        it = inputs.emplace(count, FlowInput(count)).first;
    return it->second;
}

template <void (*Track)(const cv::Mat&, const cv::Mat&, cv::Mat*, cv::Mat*, const cv::Point2f*, cv::Point2f*, int,
                        cv::Size, int, char*, float*, cv::TermCriteria, int)>
void BM_OwnLK(benchmark::State& state)
{
    cv::setNumThreads(1);
    const FlowInput& in = Input(static_cast<int>(state.range(0)));
    const int count = static_cast<int>(in.points.size());
    std::vector<cv::Point2f> out(in.points.size());
    std::vector<char> status(in.points.size());
    cv::Mat pyr_a(kFrame, CV_8UC1), pyr_b(kFrame, CV_8UC1);
    for (auto _ : state) {
        Track(in.first, in.second, &pyr_a, &pyr_b, in.points.data(), out.data(), count,
              cv::Size(kHalfWindow, kHalfWindow), kLevels, status.data(), nullptr, kCriteria, 0);
        benchmark::DoNotOptimize(out.data());
    }
    state.SetItemsProcessed(state.iterations() * count);
}

void BM_FixedLK(benchmark::State& state)
{
    BM_OwnLK<&cvCalcOpticalFlowPyrLK_N>(state);
}
void BM_FloatLK(benchmark::State& state)
{
    BM_OwnLK<&cvCalcOpticalFlowPyrLK_Float>(state);
}

// The fixed variant on its scalar paths, to show what the vector paths give.
void BM_FixedLKScalar(benchmark::State& state)
{
    const AlgoLibrary::ScopedKernelPath scalar(AlgoLibrary::KernelPath::kScalar);
    BM_OwnLK<&cvCalcOpticalFlowPyrLK_N>(state);
}

void BM_OpenCVLK(benchmark::State& state)
{
    cv::setNumThreads(1);
    const FlowInput& in = Input(static_cast<int>(state.range(0)));
    std::vector<cv::Point2f> out;
    std::vector<unsigned char> status;
    std::vector<float> error;
    const cv::Size window(2 * kHalfWindow + 1, 2 * kHalfWindow + 1);
    for (auto _ : state) {
        cv::calcOpticalFlowPyrLK(in.first, in.second, in.points, out, status, error, window, kLevels, kCriteria);
        benchmark::DoNotOptimize(out.data());
    }
    state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(in.points.size()));
}

BENCHMARK(BM_FixedLK)->Arg(25)->Arg(100)->Arg(1000);
BENCHMARK(BM_FixedLKScalar)->Arg(25)->Arg(100)->Arg(1000);
BENCHMARK(BM_FloatLK)->Arg(25)->Arg(100)->Arg(1000);
BENCHMARK(BM_OpenCVLK)->Arg(25)->Arg(100)->Arg(1000);

// The tracker's matrix: rows are paths, columns candidates of the same scene, each path with a few
// candidates nearby (costs 0..2000), everything else and the last row and column 10000.
std::vector<int> TrackerMatrix(int rows)
{
    const int n = rows + 1;
    std::vector<int> m(static_cast<std::size_t>(n) * n, 10000);
    std::mt19937 random(static_cast<unsigned>(rows));
    std::uniform_int_distribution<int> cost(0, 2000), neighbour(-3, 3), links(1, 5);
    for (int r = 0; r < rows; ++r) {
        const int k = links(random);
        for (int i = 0; i < k; ++i) {
            const int c = r + neighbour(random);
            if (c >= 0 && c < rows)
                m[static_cast<std::size_t>(r) * n + c] = cost(random);
        }
    }
    return m;
}

void BM_BipartiteMatching(benchmark::State& state)
{
    const int rows = static_cast<int>(state.range(0));
    const std::vector<int> matrix = TrackerMatrix(rows);
    AlgoLibrary::Assignment::MyMethod::BipartiteWeightMatching matcher;
    std::vector<std::pair<int, int>> pairs;
    for (auto _ : state) {
        benchmark::DoNotOptimize(matcher.Solve(matrix, rows + 1, pairs));
        benchmark::DoNotOptimize(pairs.data());
    }
    state.SetItemsProcessed(state.iterations() * rows);
}
BENCHMARK(BM_BipartiteMatching)->Arg(50)->Arg(200)->Arg(1000);

// One frame of the point tracker with the controller's settings: 50 key points on a textured
// scene that moves by one pixel a frame (every key point continues a path). Argument 1: all key
// points in one region (every path scores every candidate near it); 0: one region each.
void BM_PointTracker(benchmark::State& state)
{
    AlgoLibrary::MemManager::MemoryManager manager;
    CPointTracker tracker(manager);
    tracker.InitializeDefaultParameters();
    tracker.ForEachParameter([](ParamsLib::BaseParameter& p) { p.DeserializeFromDefault(); });
    TrackingParameters parameters;
    parameters.comparison_mode = 1;
    parameters.min_diameter = 0;
    parameters.min_length = 1;
    tracker.Init(kFrame.width, kFrame.height, parameters, nullptr);

    const FlowInput& in = Input(25);
    std::vector<avector<unsigned char>> frames;
    for (int shift = 0; shift < 2; ++shift) {
        cv::Mat moved;
        const cv::Mat m = (cv::Mat_<double>(2, 3) << 1, 0, shift, 0, 1, 0);
        cv::warpAffine(in.first, moved, m, kFrame, cv::INTER_NEAREST, cv::BORDER_REFLECT);
        frames.emplace_back(moved.datastart, moved.dataend, avector<unsigned char>::allocator_type(manager));
    }
    std::vector<avector<KPoint>> keys(2, avector<KPoint>(avector<KPoint>::allocator_type(manager)));
    for (int shift = 0; shift < 2; ++shift)
        for (int y = 15; y < 110; y += 19)
            for (int x = 12; x < 148; x += 14)
                keys[static_cast<std::size_t>(shift)].push_back(
                    KPoint{x + shift, y, 10.f, state.range(0) ? 1 : 1000 * y + x});
    int64_t time = 0;
    int frame = 0;
    for (auto _ : state) {
        tracker.TrackingPoints(frames[static_cast<std::size_t>(frame)], time += 400000,
                               keys[static_cast<std::size_t>(frame)]);
        benchmark::DoNotOptimize(tracker.GetPoints().data());
        frame ^= 1;
    }
    state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(keys[0].size()));
}
BENCHMARK(BM_PointTracker)->Arg(0)->Arg(1);

}  // namespace

int main(int argc, char** argv)
{
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    bench_support::RecordingReporter reporter;  // CPU seconds per iteration
    benchmark::RunSpecifiedBenchmarks(&reporter);

    const auto time_of = [&reporter](const std::string& name) {
        const auto it = reporter.times.find(name);
        return it == reporter.times.end() ? -1.0 : it->second;
    };
    for (int count : {25, 100, 1000}) {
        const std::string arg = "/" + std::to_string(count);
        const double reference = time_of("BM_OpenCVLK" + arg);
        for (const char* own : {"BM_FixedLK", "BM_FixedLKScalar", "BM_FloatLK"}) {
            const double t = time_of(own + arg);
            if (t < 0 || reference <= 0)
                std::printf("%s%s / OpenCV: not measured\n", own, arg.c_str());
            else
                std::printf("%s%s: %.1f us, OpenCV %.1f us, ratio %.2f (below 1: ours is faster)\n", own, arg.c_str(),
                            t * 1e6, reference * 1e6, t / reference);
        }
    }
    // No library routine does this matching; its share of the 2 ms frame budget is the measure.
    for (int rows : {50, 200, 1000}) {
        const double t = time_of("BM_BipartiteMatching/" + std::to_string(rows));
        if (t >= 0)
            std::printf("BM_BipartiteMatching/%d: %.1f us, %.3f of a 2 ms frame\n", rows, t * 1e6, t / 2e-3);
    }
    for (const char* regions : {"0", "1"}) {
        const double t = time_of(std::string("BM_PointTracker/") + regions);
        if (t >= 0)
            std::printf("BM_PointTracker/%s (50 key points, %s): %.1f us, %.3f of a 2 ms frame\n", regions,
                        regions[0] == '0' ? "one region each" : "all in one region", t * 1e6, t / 2e-3);
    }
    benchmark::Shutdown();
    return reporter.failed ? 1 : 0;
}
