// Tracking primitives of the traffic controller at the working size (160x120): the Lucas-Kanade
// tracker in float and fixed point against OpenCV's calcOpticalFlowPyrLK (same points, window,
// levels and criteria, one thread each), and the bipartite matching on tracker-like sparse cost
// matrices. The time ratios are printed at the end.
//
// Before it is timed, each of ours is checked on the same input:
// - every Lucas-Kanade variant against calcOpticalFlowPyrLK: at least 95% of the points found by
//   both within 0.1 pixel of OpenCV's;
// - the matching: a pairing that avoids the no-link entries, whose returned cost is its own, and
//   that no exchange of partners improves (no negative cycle in its residual graph);
// - the point tracker: the paths of the first frame, no more and no fewer, follow the key points
//   through the next frames.
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdio>
#include <map>
#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>
#include <opencv2/video/tracking.hpp>
#include <random>
#include <set>
#include <string>
#include <utility>
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

// Whether at least 95% of the points lie within 0.1 pixel of OpenCV's, both trackers finding them.
bool FollowsOpenCv(const FlowInput& in, const std::vector<cv::Point2f>& out, const std::vector<char>& status)
{
    std::vector<cv::Point2f> reference;
    std::vector<unsigned char> found;
    std::vector<float> error;
    const cv::Size window(2 * kHalfWindow + 1, 2 * kHalfWindow + 1);
    cv::calcOpticalFlowPyrLK(in.first, in.second, in.points, reference, found, error, window, kLevels, kCriteria);
    std::size_t close = 0;
    for (std::size_t i = 0; i < out.size(); ++i)
        close += status[i] && found[i] && cv::norm(out[i] - reference[i]) <= 0.1;
    return close >= 0.95 * static_cast<double>(out.size());
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
    Track(in.first, in.second, &pyr_a, &pyr_b, in.points.data(), out.data(), count, cv::Size(kHalfWindow, kHalfWindow),
          kLevels, status.data(), nullptr, kCriteria, 0);
    if (!FollowsOpenCv(in, out, status))
        state.SkipWithError("fewer than 95% of the points within 0.1 pixel of calcOpticalFlowPyrLK's");
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

// Whether `pairs` (row, column or -1) is a pairing of largest total weight (the largest entry minus
// the entry) that avoids the largest entry, and `result` its cost: its entries plus the largest
// entry for each unpaired row. Completed with the unpaired rows and columns paired through the
// largest entry, it is then a cheapest assignment of the whole matrix: no cycle that exchanges
// partners (forward along an entry, backward along a pair) costs less than 0. Bellman-Ford looks for
// one, the entries equal to the largest reached through one hub node (row -> hub costs the largest
// entry, hub -> column nothing), which keeps the graph as sparse as the matrix.
bool IsCheapestAssignment(const std::vector<int>& m, int n, const std::vector<std::pair<int, int>>& pairs, int result)
{
    const auto entry = [&m, n](int r, int c) { return m[static_cast<std::size_t>(r) * n + c]; };
    const int max_entry = *std::max_element(m.begin(), m.end());
    std::vector<int> partner_of_column(n, -1), free_rows;
    long long cost = 0;
    for (int r = 0; r < n; ++r) {
        const auto [row, c] = pairs[r];
        if (row != r || (c >= 0 && (entry(r, c) == max_entry || partner_of_column[c] >= 0)))
            return false;
        if (c >= 0)
            partner_of_column[c] = r;
        else
            free_rows.push_back(r);
        cost += c >= 0 ? entry(r, c) : max_entry;
    }
    if (cost != result)
        return false;
    for (int c = 0, f = 0; c < n; ++c) {
        if (partner_of_column[c] >= 0)
            continue;
        partner_of_column[c] = free_rows[f++];
        if (entry(partner_of_column[c], c) != max_entry)
            return false;  // a link between an unpaired row and column was left out
    }
    // Nodes: rows 0 .. n-1, columns n .. 2n-1, the hub 2n.
    struct Edge {
        int from, to;
        long long cost;
    };
    std::vector<Edge> edges;
    for (int c = 0; c < n; ++c) {
        edges.push_back({n + c, partner_of_column[c], -static_cast<long long>(entry(partner_of_column[c], c))});
        edges.push_back({2 * n, n + c, 0});
    }
    for (int r = 0; r < n; ++r) {
        edges.push_back({r, 2 * n, max_entry});
        for (int c = 0; c < n; ++c)
            if (entry(r, c) != max_entry && partner_of_column[c] != r)
                edges.push_back({r, n + c, entry(r, c)});
    }
    std::vector<long long> distance(2 * n + 1, 0);
    for (int round = 0; round <= 2 * n + 1; ++round) {
        bool changed = false;
        for (const Edge& e : edges)
            if (distance[e.from] + e.cost < distance[e.to]) {
                distance[e.to] = distance[e.from] + e.cost;
                changed = true;
            }
        if (!changed)
            return true;
    }
    return false;
}

void BM_BipartiteMatching(benchmark::State& state)
{
    const int rows = static_cast<int>(state.range(0));
    const std::vector<int> matrix = TrackerMatrix(rows);
    AlgoLibrary::Assignment::MyMethod::BipartiteWeightMatching matcher;
    std::vector<std::pair<int, int>> pairs;
    const int cost = matcher.Solve(matrix, rows + 1, pairs);
    if (!IsCheapestAssignment(matrix, rows + 1, pairs, cost))
        state.SkipWithError("the pairing is not one of largest weight, or its returned cost is not its own");
    for (auto _ : state) {
        benchmark::DoNotOptimize(matcher.Solve(matrix, rows + 1, pairs));
        benchmark::DoNotOptimize(pairs.data());
    }
    state.SetItemsProcessed(state.iterations() * rows);
}
BENCHMARK(BM_BipartiteMatching)->Arg(50)->Arg(200)->Arg(1000);

// The point tracker with the controller's settings on a textured scene that moves by one pixel a
// frame, back and forth, with 50 key points that move with it (every key point continues a path).
// one_region: all key points in one region (every path scores every candidate near it); otherwise
// one region each.
class PointTrackerScene {
public:
    explicit PointTrackerScene(bool one_region) : m_tracker(m_manager)
    {
        m_tracker.InitializeDefaultParameters();
        m_tracker.ForEachParameter([](ParamsLib::BaseParameter& p) { p.DeserializeFromDefault(); });
        TrackingParameters parameters;
        parameters.comparison_mode = 1;
        parameters.min_diameter = 0;
        parameters.min_length = 1;
        m_tracker.Init(kFrame.width, kFrame.height, parameters, nullptr);
        const FlowInput& in = Input(25);
        for (int shift = 0; shift < 2; ++shift) {
            cv::Mat moved;
            const cv::Mat m = (cv::Mat_<double>(2, 3) << 1, 0, shift, 0, 1, 0);
            cv::warpAffine(in.first, moved, m, kFrame, cv::INTER_NEAREST, cv::BORDER_REFLECT);
            m_frames.emplace_back(moved.datastart, moved.dataend, avector<unsigned char>::allocator_type(m_manager));
            m_keys.emplace_back(avector<KPoint>::allocator_type(m_manager));
            for (int y = 15; y < 110; y += 19)
                for (int x = 12; x < 148; x += 14)
                    m_keys.back().push_back(KPoint{x + shift, y, 10.f, one_region ? 1 : 1000 * y + x});
        }
    }

    // The next frame; its paths.
    const std::vector<IPoint>& Step()
    {
        m_tracker.TrackingPoints(m_frames[m_frame], m_time += 400000, m_keys[m_frame]);
        m_frame ^= 1;
        return m_tracker.GetPoints();
    }

    // Whether the paths are those of the first frame, one at each key point of the last frame.
    bool PathsFollowTheKeyPoints(const std::vector<IPoint>& paths, std::set<int64_t>& ids) const
    {
        std::set<std::pair<int, int>> keys;
        for (const KPoint& k : m_keys[m_frame ^ 1]) keys.emplace(k.x, kFrame.height - 1 - k.y);
        std::set<int64_t> now;
        for (const IPoint& p : paths)
            if (!now.insert(p.ID).second || !keys.erase({p.x, p.y}))
                return false;
        if (ids.empty())
            ids = now;
        return keys.empty() && now == ids;
    }

    std::size_t KeyPoints() const { return m_keys[0].size(); }

private:
    AlgoLibrary::MemManager::MemoryManager m_manager;
    CPointTracker m_tracker;
    std::vector<avector<unsigned char>> m_frames;
    std::vector<avector<KPoint>> m_keys;
    int64_t m_time = 0;
    std::size_t m_frame = 0;
};

void BM_PointTracker(benchmark::State& state)
{
    PointTrackerScene scene(state.range(0) != 0);
    std::set<int64_t> ids;
    for (int frame = 0; frame < 4; ++frame)
        if (!scene.PathsFollowTheKeyPoints(scene.Step(), ids)) {
            state.SkipWithError("the paths of the first frame do not follow the key points");
            break;
        }
    for (auto _ : state) benchmark::DoNotOptimize(scene.Step().data());
    state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(scene.KeyPoints()));
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
