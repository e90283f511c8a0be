// The per-frame disparity conversions of the stereo matchers against OpenCV's convertTo on the
// same 16-bit fixed-point map (320 x 240, 16 units per pixel), one thread each. convertTo rounds
// half to even where ours rounds half away from zero; the work is the same. Each benchmark first
// checks that the values agree but for that rounding. The time ratios are printed at the end.
//
// Our kernels are built for the 128-bit vectors every target has (NEON on the device); on x86 OpenCV
// picks AVX2 at run time. For the comparison the device sees, hold OpenCV to the same width:
//   OPENCV_CPU_DISABLE=AVX512_SKX,AVX2,FMA3,AVX,POPCNT,SSE4_2,SSE4_1,SSSE3 disparity_conversions_bench
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdio>
#include <map>
#include <opencv2/core.hpp>
#include <string>
#include <utility>
#include <vector>

#include "StereoAnalyzer/StereoMatchers/disparity_conversions.h"
#include "bench/time_ratios.h"

namespace {

const cv::Mat& FixedPointMap()
{
    static const cv::Mat map = [] {
        cv::Mat m(240, 320, CV_16SC1);
        cv::RNG rng(12345);
        rng.fill(m, cv::RNG::UNIFORM, -16, 112 * 16);
        return m;
    }();
    return map;
}

// Ours against convertTo's values: equal, except on exact halves, where the two roundings take
// neighbouring values (float output: within float rounding).
bool AgreesWithConvertTo(const cv::Mat& ours, int type, double scale)
{
    cv::Mat theirs, exact, a, b;
    FixedPointMap().convertTo(theirs, type, scale);
    FixedPointMap().convertTo(exact, CV_64F, scale);
    ours.convertTo(a, CV_64F);
    theirs.convertTo(b, CV_64F);
    for (int i = 0; i < static_cast<int>(exact.total()); ++i) {
        const double x = exact.at<double>(i), d = std::abs(a.at<double>(i) - b.at<double>(i));
        const bool half = std::abs(x - std::floor(x) - 0.5) < 1e-9;
        if (type == CV_32F ? d > 1e-4 : (half ? d > 1 : d != 0))
            return false;
    }
    return true;
}

void BM_RescaleToWholePixels(benchmark::State& state)
{
    cv::setNumThreads(1);
    cv::Mat dst(FixedPointMap().size(), CV_16SC1);
    stereo::RescaleDisparityInt(FixedPointMap(), 16, 1, dst);
    if (!AgreesWithConvertTo(dst, CV_16S, 1.0 / 16))
        state.SkipWithError("the conversion differs from convertTo beyond its rounding of halves");
    for (auto _ : state) {
        stereo::RescaleDisparityInt(FixedPointMap(), 16, 1, dst);
        benchmark::DoNotOptimize(dst.data);
    }
}
BENCHMARK(BM_RescaleToWholePixels);

void BM_OpenCVConvertToWholePixels(benchmark::State& state)
{
    cv::setNumThreads(1);
    cv::Mat dst(FixedPointMap().size(), CV_16SC1);
    for (auto _ : state) {
        FixedPointMap().convertTo(dst, CV_16S, 1.0 / 16);
        benchmark::DoNotOptimize(dst.data);
    }
}
BENCHMARK(BM_OpenCVConvertToWholePixels);

void BM_RescaleToThirds(benchmark::State& state)
{
    cv::setNumThreads(1);
    cv::Mat dst(FixedPointMap().size(), CV_32SC1);
    stereo::RescaleDisparityInt(FixedPointMap(), 16, 3, dst);
    if (!AgreesWithConvertTo(dst, CV_32S, 3.0 / 16))
        state.SkipWithError("the conversion differs from convertTo beyond its rounding of halves");
    for (auto _ : state) {
        stereo::RescaleDisparityInt(FixedPointMap(), 16, 3, dst);
        benchmark::DoNotOptimize(dst.data);
    }
}
BENCHMARK(BM_RescaleToThirds);

void BM_OpenCVConvertToThirds(benchmark::State& state)
{
    cv::setNumThreads(1);
    cv::Mat dst(FixedPointMap().size(), CV_32SC1);
    for (auto _ : state) {
        FixedPointMap().convertTo(dst, CV_32S, 3.0 / 16);
        benchmark::DoNotOptimize(dst.data);
    }
}
BENCHMARK(BM_OpenCVConvertToThirds);

void BM_DivideToFloat(benchmark::State& state)
{
    cv::setNumThreads(1);
    cv::Mat dst(FixedPointMap().size(), CV_32FC1);
    stereo::DivideDisparity(FixedPointMap(), 16.0, dst);
    if (!AgreesWithConvertTo(dst, CV_32F, 1.0 / 16))
        state.SkipWithError("the conversion differs from convertTo beyond its rounding of halves");
    for (auto _ : state) {
        stereo::DivideDisparity(FixedPointMap(), 16.0, dst);
        benchmark::DoNotOptimize(dst.data);
    }
}
BENCHMARK(BM_DivideToFloat);

void BM_OpenCVConvertToFloat(benchmark::State& state)
{
    cv::setNumThreads(1);
    cv::Mat dst(FixedPointMap().size(), CV_32FC1);
    for (auto _ : state) {
        FixedPointMap().convertTo(dst, CV_32F, 1.0 / 16);
        benchmark::DoNotOptimize(dst.data);
    }
}
BENCHMARK(BM_OpenCVConvertToFloat);

}  // namespace

int main(int argc, char** argv)
{
    return bench_support::RunAndPrintTimeRatios(argc, argv,
                                                {
                                                    {"BM_RescaleToWholePixels", "BM_OpenCVConvertToWholePixels"},
                                                    {"BM_RescaleToThirds", "BM_OpenCVConvertToThirds"},
                                                    {"BM_DivideToFloat", "BM_OpenCVConvertToFloat"},
                                                });
}
