// Stereo matching of one view on a rectified textured pair: our routines against OpenCV's, in the
// same process, one thread each. Each benchmark reports the pixels it computes times the disparity
// levels ("px_levels"); at the end the time per computed pixel x level of each pair of contenders
// and their ratio are printed.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <map>
#include <opencv2/calib3d.hpp>
#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>
#include <string>
#include <utility>
#include <vector>

#include "StereoAnalyzer/StereoMatchers/modified_opencv_stereo_matchers/stereo_bm_without_stripes.h"
#include "StereoAnalyzer/StereoMatchers/modified_opencv_stereo_matchers/stereo_sgbm_without_stripes.h"

namespace {

constexpr int kWindow = 9;

// A rectified pair with texture everywhere: the right view is the left one shifted by 24 pixels,
// with a band of rows in front shifted by 40. Generated once per size, with a fixed seed.
struct RectifiedPair {
    cv::Mat left;
    cv::Mat right;
};

RectifiedPair MakeShifted(cv::Size size, int shift, unsigned seed)
{
    cv::Mat noise(size.height, size.width + shift, CV_8UC1);
    cv::RNG rng(seed);
    rng.fill(noise, cv::RNG::UNIFORM, 0, 256);
    cv::Mat base;
    cv::GaussianBlur(noise, base, cv::Size(3, 3), 0.8);
    return {base.colRange(0, size.width).clone(), base.colRange(shift, shift + size.width).clone()};
}

const RectifiedPair& GetPair(cv::Size size)
{
    static std::map<std::pair<int, int>, RectifiedPair> pairs;
    auto found = pairs.find({size.width, size.height});
    if (found != pairs.end())
        return found->second;
    RectifiedPair pair = MakeShifted(size, 24, 20261209);
    const RectifiedPair front = MakeShifted(size, 40, 20261210);
    const cv::Range rows(size.height / 3, 2 * size.height / 3);
    front.left.rowRange(rows).copyTo(pair.left.rowRange(rows));
    front.right.rowRange(rows).copyTo(pair.right.rowRange(rows));
    return pairs.emplace(std::make_pair(size.width, size.height), std::move(pair)).first->second;
}

void SetComputed(benchmark::State& state, double pixels, int levels)
{
    state.counters["px_levels"] = pixels * levels;
}

// --- Block matching ---

// Ours computes every pixel of the view.
void BM_StereoBMWithoutStripes(benchmark::State& state, cv::Size size, int levels)
{
    const RectifiedPair& pair = GetPair(size);
    stereo::StereoBMWithoutStripes bm;
    stereo::CvStereoBMState& s = *bm.state;
    s.SADWindowSize = kWindow;
    s.minDisparity = 0;
    s.numberOfDisparities = levels;
    s.textureThreshold = 10;
    s.uniquenessRatio = 15;
    cv::Mat disp;
    bm(pair.left, pair.right, disp, CV_16S);
    for (auto _ : state) {
        bm(pair.left, pair.right, disp, CV_16S);
        benchmark::DoNotOptimize(disp.data);
        benchmark::ClobberMemory();
    }
    SetComputed(state, static_cast<double>(size.area()), levels);
}

// OpenCV's search visits the columns whose whole range lies inside the image.
void BM_OpenCVStereoBM(benchmark::State& state, cv::Size size, int levels)
{
    const RectifiedPair& pair = GetPair(size);
    cv::Ptr<cv::StereoBM> bm = cv::StereoBM::create(levels, kWindow);
    bm->setMinDisparity(0);
    bm->setTextureThreshold(10);
    bm->setUniquenessRatio(15);
    cv::Mat disp;
    bm->compute(pair.left, pair.right, disp);
    for (auto _ : state) {
        bm->compute(pair.left, pair.right, disp);
        benchmark::DoNotOptimize(disp.data);
        benchmark::ClobberMemory();
    }
    SetComputed(state, static_cast<double>(size.width - levels + 1) * size.height, levels);
}

BENCHMARK_CAPTURE(BM_StereoBMWithoutStripes, 160x120_64, cv::Size(160, 120), 64);
BENCHMARK_CAPTURE(BM_OpenCVStereoBM, 160x120_64, cv::Size(160, 120), 64);
BENCHMARK_CAPTURE(BM_StereoBMWithoutStripes, 160x120_112, cv::Size(160, 120), 112);
BENCHMARK_CAPTURE(BM_OpenCVStereoBM, 160x120_112, cv::Size(160, 120), 112);
BENCHMARK_CAPTURE(BM_StereoBMWithoutStripes, 320x240_64, cv::Size(320, 240), 64);
BENCHMARK_CAPTURE(BM_OpenCVStereoBM, 320x240_64, cv::Size(320, 240), 64);
BENCHMARK_CAPTURE(BM_StereoBMWithoutStripes, 320x240_112, cv::Size(320, 240), 112);
BENCHMARK_CAPTURE(BM_OpenCVStereoBM, 320x240_112, cv::Size(320, 240), 112);

// --- Semi-global matching, 5 directions and full dynamic programming (8 directions) ---

constexpr int kSgbmWindow = 3;
constexpr int kSgbmP1 = 8 * kSgbmWindow * kSgbmWindow;
constexpr int kSgbmP2 = 32 * kSgbmWindow * kSgbmWindow;

// Ours computes every pixel of the view.
void SGBM_StereoSGBMWithoutStripes(benchmark::State& state, cv::Size size, int levels, bool full_dp)
{
    const RectifiedPair& pair = GetPair(size);
    stereo::StereoSGBMWithoutStripes sgbm(0, levels, kSgbmWindow, kSgbmP1, kSgbmP2, 1, 12, 10, 0, 32, full_dp);
    cv::Mat disp;
    sgbm(pair.left, pair.right, disp);
    for (auto _ : state) {
        sgbm(pair.left, pair.right, disp);
        benchmark::DoNotOptimize(disp.data);
        benchmark::ClobberMemory();
    }
    SetComputed(state, static_cast<double>(size.area()), levels);
}

// OpenCV's leaves the first `levels` columns of the left view unmatched.
void SGBM_OpenCVStereoSGBM(benchmark::State& state, cv::Size size, int levels, bool full_dp)
{
    const RectifiedPair& pair = GetPair(size);
    cv::Ptr<cv::StereoSGBM> sgbm =
        cv::StereoSGBM::create(0, levels, kSgbmWindow, kSgbmP1, kSgbmP2, 1, 12, 10, 0, 32,
                               full_dp ? cv::StereoSGBM::MODE_HH : cv::StereoSGBM::MODE_SGBM);
    cv::Mat disp;
    sgbm->compute(pair.left, pair.right, disp);
    for (auto _ : state) {
        sgbm->compute(pair.left, pair.right, disp);
        benchmark::DoNotOptimize(disp.data);
        benchmark::ClobberMemory();
    }
    SetComputed(state, static_cast<double>(size.width - levels) * size.height, levels);
}

BENCHMARK_CAPTURE(SGBM_StereoSGBMWithoutStripes, 5dir_160x120_64, cv::Size(160, 120), 64, false);
BENCHMARK_CAPTURE(SGBM_OpenCVStereoSGBM, 5dir_160x120_64, cv::Size(160, 120), 64, false);
BENCHMARK_CAPTURE(SGBM_StereoSGBMWithoutStripes, fullDP_160x120_64, cv::Size(160, 120), 64, true);
BENCHMARK_CAPTURE(SGBM_OpenCVStereoSGBM, fullDP_160x120_64, cv::Size(160, 120), 64, true);
BENCHMARK_CAPTURE(SGBM_StereoSGBMWithoutStripes, 5dir_320x240_64, cv::Size(320, 240), 64, false);
BENCHMARK_CAPTURE(SGBM_OpenCVStereoSGBM, 5dir_320x240_64, cv::Size(320, 240), 64, false);
BENCHMARK_CAPTURE(SGBM_StereoSGBMWithoutStripes, fullDP_320x240_64, cv::Size(320, 240), 64, true);
BENCHMARK_CAPTURE(SGBM_OpenCVStereoSGBM, fullDP_320x240_64, cv::Size(320, 240), 64, true);
BENCHMARK_CAPTURE(SGBM_StereoSGBMWithoutStripes, 5dir_320x240_112, cv::Size(320, 240), 112, false);
BENCHMARK_CAPTURE(SGBM_OpenCVStereoSGBM, 5dir_320x240_112, cv::Size(320, 240), 112, false);

// The pairs of contenders whose ratio is printed: ours, then the reference.
const std::vector<std::pair<std::string, std::string>>& Comparisons()
{
    static const std::vector<std::pair<std::string, std::string>> comparisons = {
        {"BM_StereoBMWithoutStripes", "BM_OpenCVStereoBM"},
        {"SGBM_StereoSGBMWithoutStripes", "SGBM_OpenCVStereoSGBM"},
    };
    return comparisons;
}

// Prints as usual and keeps each benchmark's time per computed pixel x level, in nanoseconds.
class RecordingReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override
    {
        for (const Run& run : runs) {
            if (run.run_type != Run::RT_Iteration)
                continue;
            const auto counter = run.counters.find("px_levels");
            if (counter == run.counters.end() || counter->second.value <= 0)
                continue;
            const double seconds = run.GetAdjustedRealTime() / benchmark::GetTimeUnitMultiplier(run.time_unit);
            per_px_level[run.benchmark_name()] = seconds * 1e9 / counter->second.value;
        }
        ConsoleReporter::ReportRuns(runs);
    }

    std::map<std::string, double> per_px_level;
};

}  // namespace

int main(int argc, char** argv)
{
    cv::setNumThreads(1);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    RecordingReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);

    std::printf("\nTime per computed pixel x level (ns), ours / reference (below 1 means ours is faster):\n");
    for (const auto& [ours, reference] : Comparisons()) {
        for (const auto& [name, time] : reporter.per_px_level) {
            if (name.compare(0, ours.size() + 1, ours + "/") != 0)
                continue;
            const std::string variant = name.substr(ours.size());
            const auto other = reporter.per_px_level.find(reference + variant);
            if (other == reporter.per_px_level.end() || other->second <= 0.0)
                continue;
            std::printf("  %s%s: %.4f vs %s: %.4f  ratio %.3f\n", ours.c_str(), variant.c_str(), time,
                        reference.c_str(), other->second, time / other->second);
        }
    }
    return 0;
}
