// The height-map medians of the stereo analyser against OpenCV's medianBlur on the same 8-bit map
// (the heights resolution of a 160x120 view, 111 x 83, a third of it without height), one thread each
// (TBB limited to one worker, cv::setNumThreads(1)). The results are bit-equal (see the tests). The
// double median takes two pictures, so it is set against two OpenCV medians. The time ratios are
// printed at the end.
#include <benchmark/benchmark.h>
#include <tbb/global_control.h>

#include <cstdio>
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

const cv::Mat_<uchar>& HeightMap(int seed)
{
    static std::map<int, cv::Mat_<uchar>> maps;
    auto it = maps.find(seed);
    if (it == maps.end()) {
        cv::Mat_<uchar> m(83, 111);
        cv::RNG rng(static_cast<uint64_t>(seed));
        rng.fill(m, cv::RNG::UNIFORM, 0, 256);
        cv::Mat_<uchar> holes(m.size());
        rng.fill(holes, cv::RNG::UNIFORM, 0, 3);
        m.setTo(0, holes == 0);
        it = maps.emplace(seed, m).first;
    }
    return it->second;
}

void BM_MedianOm(benchmark::State& state)
{
    cv::setNumThreads(1);
    tbb::global_control one_thread(tbb::global_control::max_allowed_parallelism, 1);
    const int r = static_cast<int>(state.range(0));
    cv::Mat bordered, dst;
    for (auto _ : state) {
        stereo::MedianFilterOpenCV(HeightMap(1), r, true, bordered, dst);
        benchmark::DoNotOptimize(dst.data);
    }
}
BENCHMARK(BM_MedianOm)->Arg(3)->Arg(12);

void BM_MedianO1(benchmark::State& state)
{
    cv::setNumThreads(1);
    tbb::global_control one_thread(tbb::global_control::max_allowed_parallelism, 1);
    const int r = static_cast<int>(state.range(0));
    cv::Mat bordered, dst;
    for (auto _ : state) {
        stereo::MedianFilterOpenCV(HeightMap(1), r, false, bordered, dst);
        benchmark::DoNotOptimize(dst.data);
    }
}
BENCHMARK(BM_MedianO1)->Arg(3)->Arg(12);

void BM_OpenCVMedianBlur(benchmark::State& state)
{
    cv::setNumThreads(1);
    const int r = static_cast<int>(state.range(0));
    cv::Mat dst;
    for (auto _ : state) {
        cv::medianBlur(HeightMap(1), dst, 2 * r + 1);
        benchmark::DoNotOptimize(dst.data);
    }
}
BENCHMARK(BM_OpenCVMedianBlur)->Arg(3)->Arg(12)->Arg(19);

void BM_DoubleMedian(benchmark::State& state)
{
    tbb::global_control one_thread(tbb::global_control::max_allowed_parallelism, 1);
    const int r = static_cast<int>(state.range(0));
    cv::Mat_<uchar> dst(HeightMap(1).size());
    for (auto _ : state) {
        stereo::DoubleMedianFilter(HeightMap(2), HeightMap(1), r, dst);
        benchmark::DoNotOptimize(dst.data);
    }
}
BENCHMARK(BM_DoubleMedian)->Arg(19);

void BM_OpenCVTwoMedianBlurs(benchmark::State& state)
{
    cv::setNumThreads(1);
    const int r = static_cast<int>(state.range(0));
    cv::Mat a, b;
    for (auto _ : state) {
        cv::medianBlur(HeightMap(2), a, 2 * r + 1);
        cv::medianBlur(HeightMap(1), b, 2 * r + 1);
        benchmark::DoNotOptimize(a.data);
        benchmark::DoNotOptimize(b.data);
    }
}
BENCHMARK(BM_OpenCVTwoMedianBlurs)->Arg(19);

}  // namespace

int main(int argc, char** argv)
{
    return bench_support::RunAndPrintTimeRatios(argc, argv,
                                                {
                                                    {"BM_MedianOm/3", "BM_OpenCVMedianBlur/3"},
                                                    {"BM_MedianOm/12", "BM_OpenCVMedianBlur/12"},
                                                    {"BM_MedianO1/3", "BM_OpenCVMedianBlur/3"},
                                                    {"BM_MedianO1/12", "BM_OpenCVMedianBlur/12"},
                                                    {"BM_DoubleMedian/19", "BM_OpenCVTwoMedianBlurs/19"},
                                                });
}
