// The height-map medians of the stereo analyser against OpenCV's medianBlur at the analyser's
// heights resolution (112 x 84 for 144 x 108 views) and radii (6 for the median blur, 9 for the
// double median, 3 for the median filling), one thread each (TBB limited to one worker,
// cv::setNumThreads(1)). Two kinds of picture: "noise" (uniform values, a third without height: the
// worst case of the running histograms; picture:0) and "heights" (picture:1: a few smooth bodies on an empty floor with
// speckles and holes, like the analyser's maps). The double median takes two pictures, so it is set
// against two OpenCV medians.
//
// Before it is timed, every benchmark checks its output and fails when it is wrong: the median blur
// bit-equal to cv::medianBlur, the double median and the filling bit-equal to a direct median of
// each window.
#include <benchmark/benchmark.h>
#include <tbb/global_control.h>

#include <algorithm>
#include <cmath>
#include <map>
#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>
#include <string>
#include <utility>
#include <vector>

#include "StereoAnalyzer/StereoPeopleCounter/median_filters_collection.h"
#include "StereoAnalyzer/StereoPeopleCounter/median_filters_opencv.h"
#include "bench/time_ratios.h"

namespace {

const cv::Size kHeightsSize(112, 84);
constexpr int kBlurRadius = 6;
constexpr int kDoubleRadius = 9;
constexpr int kFillRadius = 3;

enum Picture { kNoise = 0, kHeights = 1 };

cv::Mat_<uchar> MakeNoise(uint64_t seed)
{
    cv::Mat_<uchar> m(kHeightsSize);
    cv::RNG rng(seed);
    rng.fill(m, cv::RNG::UNIFORM, 0, 256);
    cv::Mat_<uchar> holes(m.size());
    rng.fill(holes, cv::RNG::UNIFORM, 0, 3);
    m.setTo(0, holes == 0);
    return m;
}

cv::Mat_<uchar> MakeHeights(uint64_t seed)
{
    cv::Mat_<uchar> m(kHeightsSize, uchar(0));
    cv::RNG rng(seed);
    for (int body = 0; body < 4; ++body) {
        const cv::Point centre(rng.uniform(10, kHeightsSize.width - 10), rng.uniform(10, kHeightsSize.height - 10));
        const int top = rng.uniform(150, 200);
        for (int y = 0; y < m.rows; ++y)
            for (int x = 0; x < m.cols; ++x) {
                const double d = std::hypot((x - centre.x) / 9.0, (y - centre.y) / 12.0);
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

const cv::Mat_<uchar>& Input(int picture, int seed)
{
    static std::map<std::pair<int, int>, cv::Mat_<uchar>> maps;
    auto it = maps.find({picture, seed});
    if (it == maps.end())
        it = maps.emplace(std::make_pair(picture, seed), picture == kNoise ? MakeNoise(seed) : MakeHeights(seed)).first;
    return it->second;
}

// The median (rank count / 2) of the union of the clipped windows of the pictures; with `fill` a
// median of 0 keeps the first picture's value.
cv::Mat_<uchar> DirectMedian(const std::vector<cv::Mat_<uchar>>& pictures, int r, bool fill)
{
    const cv::Mat_<uchar>& first = pictures[0];
    cv::Mat_<uchar> out(first.size());
    std::vector<uchar> samples;
    for (int y = 0; y < first.rows; ++y)
        for (int x = 0; x < first.cols; ++x) {
            samples.clear();
            for (const cv::Mat_<uchar>& p : pictures)
                for (int v = std::max(y - r, 0); v <= std::min(y + r, first.rows - 1); ++v)
                    for (int u = std::max(x - r, 0); u <= std::min(x + r, first.cols - 1); ++u)
                        samples.push_back(p(v, u));
            std::nth_element(samples.begin(), samples.begin() + samples.size() / 2, samples.end());
            const uchar m = samples[samples.size() / 2];
            out(y, x) = fill && m == 0 ? first(y, x) : m;
        }
    return out;
}

bool Equal(const cv::Mat& a, const cv::Mat& b)
{
    return a.size() == b.size() && cv::norm(a, b, cv::NORM_INF) == 0.0;
}

void BM_MedianBlurOm(benchmark::State& state)
{
    const int r = static_cast<int>(state.range(1));
    const cv::Mat_<uchar>& src = Input(static_cast<int>(state.range(0)), 1);
    cv::Mat bordered, dst, expected;
    stereo::MedianFilterOpenCV(src, r, true, bordered, dst);
    cv::medianBlur(src, expected, 2 * r + 1);
    if (!Equal(dst, expected))
        state.SkipWithError("the running-histogram median differs from cv::medianBlur");
    for (auto _ : state) {
        stereo::MedianFilterOpenCV(src, r, true, bordered, dst);
        benchmark::DoNotOptimize(dst.data);
    }
}

void BM_MedianBlurO1(benchmark::State& state)
{
    const int r = static_cast<int>(state.range(1));
    const cv::Mat_<uchar>& src = Input(static_cast<int>(state.range(0)), 1);
    cv::Mat bordered, dst, expected;
    stereo::MedianFilterOpenCV(src, r, false, bordered, dst);
    cv::medianBlur(src, expected, 2 * r + 1);
    if (!Equal(dst, expected))
        state.SkipWithError("the constant-time median differs from cv::medianBlur");
    for (auto _ : state) {
        stereo::MedianFilterOpenCV(src, r, false, bordered, dst);
        benchmark::DoNotOptimize(dst.data);
    }
}

void BM_OpenCVMedianBlur(benchmark::State& state)
{
    const int r = static_cast<int>(state.range(1));
    const cv::Mat_<uchar>& src = Input(static_cast<int>(state.range(0)), 1);
    cv::Mat dst;
    for (auto _ : state) {
        cv::medianBlur(src, dst, 2 * r + 1);
        benchmark::DoNotOptimize(dst.data);
    }
}

void BM_DoubleMedian(benchmark::State& state)
{
    const int r = static_cast<int>(state.range(1));
    const cv::Mat_<uchar>& a = Input(static_cast<int>(state.range(0)), 2);
    const cv::Mat_<uchar>& b = Input(static_cast<int>(state.range(0)), 1);
    cv::Mat_<uchar> dst(a.size());
    stereo::DoubleMedianFilter(a, b, r, dst);
    if (!Equal(dst, DirectMedian({a, b}, r, false)))
        state.SkipWithError("the double median differs from the direct median of both windows");
    for (auto _ : state) {
        stereo::DoubleMedianFilter(a, b, r, dst);
        benchmark::DoNotOptimize(dst.data);
    }
}

void BM_OpenCVTwoMedianBlurs(benchmark::State& state)
{
    const int r = static_cast<int>(state.range(1));
    const cv::Mat_<uchar>& a = Input(static_cast<int>(state.range(0)), 2);
    const cv::Mat_<uchar>& b = Input(static_cast<int>(state.range(0)), 1);
    cv::Mat da, db;
    for (auto _ : state) {
        cv::medianBlur(a, da, 2 * r + 1);
        cv::medianBlur(b, db, 2 * r + 1);
        benchmark::DoNotOptimize(da.data);
        benchmark::DoNotOptimize(db.data);
    }
}

void BM_MedianFill(benchmark::State& state)
{
    const int r = static_cast<int>(state.range(1));
    const cv::Mat_<uchar>& a = Input(static_cast<int>(state.range(0)), 1);
    cv::Mat_<uchar> dst(a.size());
    stereo::MedianFilterFill(a, r, dst);
    if (!Equal(dst, DirectMedian({a}, r, true)))
        state.SkipWithError("the median filling differs from the direct median of each window");
    for (auto _ : state) {
        stereo::MedianFilterFill(a, r, dst);
        benchmark::DoNotOptimize(dst.data);
    }
}

void Pictures(benchmark::internal::Benchmark* b, int radius)
{
    b->ArgNames({"picture", "r"})->Args({kNoise, radius})->Args({kHeights, radius});
}

BENCHMARK(BM_MedianBlurOm)->Apply([](auto* b) { Pictures(b, kBlurRadius); });
BENCHMARK(BM_MedianBlurO1)->Apply([](auto* b) { Pictures(b, kBlurRadius); });
BENCHMARK(BM_OpenCVMedianBlur)->Apply([](auto* b) {
    Pictures(b, kBlurRadius);
    Pictures(b, kFillRadius);
});
BENCHMARK(BM_DoubleMedian)->Apply([](auto* b) { Pictures(b, kDoubleRadius); });
BENCHMARK(BM_OpenCVTwoMedianBlurs)->Apply([](auto* b) { Pictures(b, kDoubleRadius); });
BENCHMARK(BM_MedianFill)->Apply([](auto* b) { Pictures(b, kFillRadius); });

}  // namespace

int main(int argc, char** argv)
{
    cv::setNumThreads(1);
    tbb::global_control one_thread(tbb::global_control::max_allowed_parallelism, 1);
    std::vector<std::pair<std::string, std::string>> pairs;
    for (const char* picture : {"picture:0", "picture:1"}) {
        const std::string p = picture;
        const std::string blur = "/" + p + "/r:" + std::to_string(kBlurRadius);
        const std::string twice = "/" + p + "/r:" + std::to_string(kDoubleRadius);
        const std::string fill = "/" + p + "/r:" + std::to_string(kFillRadius);
        pairs.emplace_back("BM_MedianBlurOm" + blur, "BM_OpenCVMedianBlur" + blur);
        pairs.emplace_back("BM_MedianBlurO1" + blur, "BM_OpenCVMedianBlur" + blur);
        pairs.emplace_back("BM_DoubleMedian" + twice, "BM_OpenCVTwoMedianBlurs" + twice);
        pairs.emplace_back("BM_MedianFill" + fill, "BM_OpenCVMedianBlur" + fill);
    }
    return bench_support::RunAndPrintTimeRatios(argc, argv, pairs);
}
