// The height-map medians of the stereo analyser against OpenCV's medianBlur, one thread each (TBB
// limited to one worker, cv::setNumThreads(1)), per call on the same picture. The analyser's own
// settings come first: its heights resolution (112 x 84 for 144 x 108 views) with its radii (6 for
// the median blur, 9 for the double median, 3 for the median filling); then every radius from 1 to
// 12 at 112 x 84, 144 x 108 and 320 x 240 (size:0, 1, 2). Two kinds of picture: "noise" (picture:0,
// uniform values, a third without height: the worst case of the histograms) and "heights"
// (picture:1: a few smooth bodies on an empty floor with speckles and holes, like the analyser's
// maps). The double median takes two pictures, so it is set against two OpenCV medians; the median
// filling against one.
//
// Before it is timed, every benchmark checks its output and fails when it is wrong: the median blur
// bit-equal to cv::medianBlur, the double median and the filling bit-equal to the median of each
// window taken sample by sample.
//
// For figures: --benchmark_repetitions=5 --benchmark_enable_random_interleaving=true (the ratios are
// then the medians of the repetitions); --benchmark_filter=size:1 and the like select a size.
#include <benchmark/benchmark.h>
#include <tbb/global_control.h>

#include <algorithm>
#include <cmath>
#include <map>
#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "StereoAnalyzer/StereoPeopleCounter/median_filters_collection.h"
#include "StereoAnalyzer/StereoPeopleCounter/median_filters_opencv.h"
#include "bench/time_ratios.h"
#include "tests/support/brute_force_median.h"

namespace {

const cv::Size kSizes[] = {{112, 84}, {144, 108}, {320, 240}};
constexpr int kServiceSize = 0;
constexpr int kBlurRadius = 6;
constexpr int kDoubleRadius = 9;
constexpr int kFillRadius = 3;
constexpr int kMaxRadius = 12;

enum Picture { kNoise = 0, kHeights = 1 };

cv::Mat_<uchar> MakeNoise(cv::Size size, uint64_t seed)
{
    cv::Mat_<uchar> m(size);
    cv::RNG rng(seed);
    rng.fill(m, cv::RNG::UNIFORM, 0, 256);
    cv::Mat_<uchar> holes(m.size());
    rng.fill(holes, cv::RNG::UNIFORM, 0, 3);
    m.setTo(0, holes == 0);
    return m;
}

cv::Mat_<uchar> MakeHeights(cv::Size size, uint64_t seed)
{
    cv::Mat_<uchar> m(size, uchar(0));
    cv::RNG rng(seed);
    const double scale = size.width / 112.0;  // bodies as large as on the analyser's maps
    for (int body = 0; body < 4; ++body) {
        const cv::Point centre(rng.uniform(10, size.width - 10), rng.uniform(10, size.height - 10));
        const int top = rng.uniform(150, 200);
        for (int y = 0; y < m.rows; ++y)
            for (int x = 0; x < m.cols; ++x) {
                const double d = std::hypot((x - centre.x) / (9.0 * scale), (y - centre.y) / (12.0 * scale));
                if (d < 1.0)
                    m(y, x) = std::max(m(y, x), cv::saturate_cast<uchar>(top - 60 * d * d + rng.uniform(-3, 4)));
            }
    }
    for (int i = 0; i < m.rows * m.cols / 20; ++i) {
        const int x = rng.uniform(0, m.cols), y = rng.uniform(0, m.rows);
        m(y, x) = m(y, x) > 0 ? 0 : static_cast<uchar>(rng.uniform(100, 200));  // holes and speckles
    }
    return m;
}

// Arguments of every benchmark: size, radius, picture.
struct Setting {
    cv::Size size;
    int r;
    int picture;
};

Setting Read(const benchmark::State& state)
{
    return {kSizes[state.range(0)], static_cast<int>(state.range(1)), static_cast<int>(state.range(2))};
}

const cv::Mat_<uchar>& Input(const Setting& s, int seed)
{
    static std::map<std::tuple<int, int, int, int>, cv::Mat_<uchar>> pictures;
    const auto key = std::make_tuple(s.size.width, s.size.height, s.picture, seed);
    auto it = pictures.find(key);
    if (it == pictures.end())
        it = pictures.emplace(key, s.picture == kNoise ? MakeNoise(s.size, seed) : MakeHeights(s.size, seed)).first;
    return it->second;
}

bool Equal(const cv::Mat& a, const cv::Mat& b)
{
    return a.size() == b.size() && cv::norm(a, b, cv::NORM_INF) == 0.0;
}

void BM_MedianBlur(benchmark::State& state)
{
    const Setting s = Read(state);
    const cv::Mat_<uchar>& src = Input(s, 1);
    cv::Mat bordered, dst, expected;
    stereo::MedianFilterOpenCV(src, s.r, true, bordered, dst);
    cv::medianBlur(src, expected, 2 * s.r + 1);
    if (!Equal(dst, expected))
        state.SkipWithError("the median blur differs from cv::medianBlur");
    for (auto _ : state) {
        stereo::MedianFilterOpenCV(src, s.r, true, bordered, dst);
        benchmark::DoNotOptimize(dst.data);
    }
}

void BM_OpenCVMedianBlur(benchmark::State& state)
{
    const Setting s = Read(state);
    const cv::Mat_<uchar>& src = Input(s, 1);
    cv::Mat dst;
    for (auto _ : state) {
        cv::medianBlur(src, dst, 2 * s.r + 1);
        benchmark::DoNotOptimize(dst.data);
    }
}

void BM_DoubleMedian(benchmark::State& state)
{
    const Setting s = Read(state);
    const cv::Mat_<uchar>& a = Input(s, 2);
    const cv::Mat_<uchar>& b = Input(s, 1);
    cv::Mat_<uchar> dst(a.size());
    stereo::DoubleMedianFilter(a, b, s.r, dst);
    if (!Equal(dst, testing_support::BruteForceMedian({a, b}, s.r, false)))
        state.SkipWithError("the double median differs from the median of both windows");
    for (auto _ : state) {
        stereo::DoubleMedianFilter(a, b, s.r, dst);
        benchmark::DoNotOptimize(dst.data);
    }
}

void BM_OpenCVTwoMedianBlurs(benchmark::State& state)
{
    const Setting s = Read(state);
    const cv::Mat_<uchar>& a = Input(s, 2);
    const cv::Mat_<uchar>& b = Input(s, 1);
    cv::Mat da, db;
    for (auto _ : state) {
        cv::medianBlur(a, da, 2 * s.r + 1);
        cv::medianBlur(b, db, 2 * s.r + 1);
        benchmark::DoNotOptimize(da.data);
        benchmark::DoNotOptimize(db.data);
    }
}

void BM_MedianFill(benchmark::State& state)
{
    const Setting s = Read(state);
    const cv::Mat_<uchar>& a = Input(s, 1);
    cv::Mat_<uchar> dst(a.size());
    stereo::MedianFilterFill(a, s.r, dst);
    if (!Equal(dst, testing_support::BruteForceMedian({a}, s.r, true)))
        state.SkipWithError("the median filling differs from the median of each window");
    for (auto _ : state) {
        stereo::MedianFilterFill(a, s.r, dst);
        benchmark::DoNotOptimize(dst.data);
    }
}

void AllSettings(benchmark::internal::Benchmark* b)
{
    b->ArgNames({"size", "r", "picture"});
    for (int size = 0; size < static_cast<int>(std::size(kSizes)); ++size)
        for (int r = 1; r <= kMaxRadius; ++r)
            for (int picture : {kNoise, kHeights}) b->Args({size, r, picture});
}

BENCHMARK(BM_MedianBlur)->Apply(AllSettings);
BENCHMARK(BM_OpenCVMedianBlur)->Apply(AllSettings);
BENCHMARK(BM_DoubleMedian)->Apply(AllSettings);
BENCHMARK(BM_OpenCVTwoMedianBlurs)->Apply(AllSettings);
BENCHMARK(BM_MedianFill)->Apply(AllSettings);

std::string Name(const char* benchmark, int size, int r, int picture)
{
    return std::string(benchmark) + "/size:" + std::to_string(size) + "/r:" + std::to_string(r) +
           "/picture:" + std::to_string(picture);
}

// The three filters against their references at one size and radius.
void AddPairs(std::vector<std::pair<std::string, std::string>>& pairs, int size, int blur, int twice, int fill)
{
    for (int picture : {kNoise, kHeights}) {
        pairs.emplace_back(Name("BM_MedianBlur", size, blur, picture),
                           Name("BM_OpenCVMedianBlur", size, blur, picture));
        pairs.emplace_back(Name("BM_DoubleMedian", size, twice, picture),
                           Name("BM_OpenCVTwoMedianBlurs", size, twice, picture));
        pairs.emplace_back(Name("BM_MedianFill", size, fill, picture),
                           Name("BM_OpenCVMedianBlur", size, fill, picture));
    }
}

}  // namespace

int main(int argc, char** argv)
{
    cv::setNumThreads(1);
    tbb::global_control one_thread(tbb::global_control::max_allowed_parallelism, 1);
    // The analyser's settings first, then every size and radius.
    std::vector<std::pair<std::string, std::string>> pairs;
    AddPairs(pairs, kServiceSize, kBlurRadius, kDoubleRadius, kFillRadius);
    for (int size = 0; size < static_cast<int>(std::size(kSizes)); ++size)
        for (int r = 1; r <= kMaxRadius; ++r) AddPairs(pairs, size, r, r, r);
    return bench_support::RunAndPrintTimeRatios(argc, argv, pairs);
}
