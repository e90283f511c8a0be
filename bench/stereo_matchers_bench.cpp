// Stereo matching of one view on a rectified textured pair: our routines against OpenCV's, in the
// same process, one thread each, per call on the same pair. The analyser's settings come first
// (144 x 108, 32 levels, the block matcher with window 9 and no texture or uniqueness test, the
// semi-global one with its defaults), then larger sizes. OpenCV leaves the first columns of the view
// unmatched, so it also runs on the pair padded on the left to give it our coverage ("padded").
// Each benchmark reports the pixels it computes times the levels as "cells"; the ratios printed at
// the end are per call and per computed cell.
//
// Before it is timed, every benchmark checks its output against the reference and fails when they
// disagree: the block matcher's disparities equal OpenCV's inside OpenCV's valid region (ties between
// equal sums may resolve differently on at most 0.1% of the pixels), and on the pixels both
// semi-global matchers call valid at least 95% agree within one pixel.
#include <benchmark/benchmark.h>

#include <map>
#include <opencv2/calib3d.hpp>
#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>
#include <string>
#include <utility>
#include <vector>

#include "StereoAnalyzer/StereoMatchers/modified_opencv_stereo_matchers/stereo_bm_without_stripes.h"
#include "StereoAnalyzer/StereoMatchers/modified_opencv_stereo_matchers/stereo_sgbm_without_stripes.h"
#include "bench/time_ratios.h"

namespace {

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

// A textured background with a band of rows in front of it (disparities levels / 4 and levels / 2
// + 4), generated once per size and range with a fixed seed.
const RectifiedPair& GetPair(cv::Size size, int levels)
{
    static std::map<std::pair<std::pair<int, int>, int>, RectifiedPair> pairs;
    const auto key = std::make_pair(std::make_pair(size.width, size.height), levels);
    auto found = pairs.find(key);
    if (found != pairs.end())
        return found->second;
    RectifiedPair pair = MakeShifted(size, levels / 4, 20261209);
    const RectifiedPair front = MakeShifted(size, levels / 2 + 4, 20261210);
    const cv::Range rows(size.height / 3, 2 * size.height / 3);
    front.left.rowRange(rows).copyTo(pair.left.rowRange(rows));
    front.right.rowRange(rows).copyTo(pair.right.rowRange(rows));
    return pairs.emplace(key, std::move(pair)).first->second;
}

// The pair widened on the left by `margin` replicated columns.
RectifiedPair Padded(const RectifiedPair& pair, int margin)
{
    RectifiedPair padded;
    cv::copyMakeBorder(pair.left, padded.left, 0, 0, margin, 0, cv::BORDER_REPLICATE);
    cv::copyMakeBorder(pair.right, padded.right, 0, 0, margin, 0, cv::BORDER_REPLICATE);
    return padded;
}

void SetCells(benchmark::State& state, double pixels, int levels)
{
    state.counters[bench_support::kCellsCounter] = pixels * levels;
}

template <typename Call>
void TimeCalls(benchmark::State& state, Call call)
{
    for (auto _ : state) {
        call();
        benchmark::ClobberMemory();
    }
}

// --- Block matching ---

struct BMSettings {
    int window = 9;
    int texture = 0;
    int uniqueness = 0;
};

constexpr BMSettings kAnalyserBM{};

stereo::StereoBMWithoutStripes OurBM(int levels, const BMSettings& s)
{
    stereo::StereoBMWithoutStripes bm;
    stereo::CvStereoBMState& st = *bm.state;
    st.SADWindowSize = s.window;
    st.minDisparity = 0;
    st.numberOfDisparities = levels;
    st.textureThreshold = s.texture;
    st.uniquenessRatio = s.uniqueness;
    return bm;
}

cv::Ptr<cv::StereoBM> OpenCVBM(int levels, const BMSettings& s)
{
    cv::Ptr<cv::StereoBM> bm = cv::StereoBM::create(levels, s.window);
    bm->setMinDisparity(0);
    bm->setPreFilterType(cv::StereoBM::PREFILTER_XSOBEL);
    bm->setPreFilterCap(31);
    bm->setTextureThreshold(s.texture);
    bm->setUniquenessRatio(s.uniqueness);
    bm->setSpeckleWindowSize(0);
    bm->setDisp12MaxDiff(-1);
    return bm;
}

// The reference's disparities inside its valid region, shrunk by a window's reach, against ours.
bool BMAgrees(const cv::Mat& ours, const cv::Mat& theirs, int levels, int window)
{
    const cv::Rect whole(cv::Point(), ours.size());
    cv::Rect valid = cv::getValidDisparityROI(whole, whole, 0, levels, window);
    const int shrink = window / 2 + 1;
    valid = cv::Rect(valid.x + shrink, valid.y + shrink, valid.width - 2 * shrink, valid.height - 2 * shrink);
    if (valid.area() <= 0)
        return false;
    return cv::countNonZero(ours(valid) != theirs(valid)) <= 0.001 * valid.area();
}

cv::Mat OpenCVBMDisparity(const RectifiedPair& pair, int levels, const BMSettings& s)
{
    cv::Mat disp;
    OpenCVBM(levels, s)->compute(pair.left, pair.right, disp);
    return disp;
}

void BM_Ours(benchmark::State& state, cv::Size size, int levels, BMSettings s)
{
    const RectifiedPair& pair = GetPair(size, levels);
    stereo::StereoBMWithoutStripes bm = OurBM(levels, s);
    cv::Mat disp;
    bm(pair.left, pair.right, disp, CV_16S);
    if (!BMAgrees(disp, OpenCVBMDisparity(pair, levels, s), levels, s.window))
        state.SkipWithError("the block matcher's disparities differ from OpenCV's in its valid region");
    TimeCalls(state, [&] { bm(pair.left, pair.right, disp, CV_16S); });
    SetCells(state, static_cast<double>(size.area()), levels);
}

// OpenCV's search visits the columns whose whole range lies inside the image.
void BM_OpenCV(benchmark::State& state, cv::Size size, int levels, BMSettings s)
{
    const RectifiedPair& pair = GetPair(size, levels);
    cv::Ptr<cv::StereoBM> bm = OpenCVBM(levels, s);
    stereo::StereoBMWithoutStripes ours = OurBM(levels, s);
    cv::Mat disp, reference;
    ours(pair.left, pair.right, reference, CV_16S);
    bm->compute(pair.left, pair.right, disp);
    if (!BMAgrees(reference, disp, levels, s.window))
        state.SkipWithError("OpenCV's disparities differ from the block matcher's in its valid region");
    TimeCalls(state, [&] { bm->compute(pair.left, pair.right, disp); });
    SetCells(state, static_cast<double>(size.width - levels + 1) * size.height, levels);
}

// OpenCV on the pair padded so that it computes every column of the original view.
void BM_OpenCVPadded(benchmark::State& state, cv::Size size, int levels, BMSettings s)
{
    const int margin = levels + s.window / 2;
    const RectifiedPair padded = Padded(GetPair(size, levels), margin);
    cv::Ptr<cv::StereoBM> bm = OpenCVBM(levels, s);
    cv::Mat disp;
    bm->compute(padded.left, padded.right, disp);
    if (!BMAgrees(disp.colRange(margin, disp.cols), OpenCVBMDisparity(GetPair(size, levels), levels, s), levels,
                  s.window))
        state.SkipWithError("OpenCV on the padded pair differs from OpenCV on the pair");
    TimeCalls(state, [&] { bm->compute(padded.left, padded.right, disp); });
    SetCells(state, static_cast<double>(size.area()), levels);
}

const cv::Size kAnalyserSize(144, 108);
constexpr int kAnalyserLevels = 32;

BENCHMARK_CAPTURE(BM_Ours, 144x108_32, kAnalyserSize, kAnalyserLevels, kAnalyserBM);
BENCHMARK_CAPTURE(BM_OpenCV, 144x108_32, kAnalyserSize, kAnalyserLevels, kAnalyserBM);
BENCHMARK_CAPTURE(BM_OpenCVPadded, 144x108_32, kAnalyserSize, kAnalyserLevels, kAnalyserBM);
BENCHMARK_CAPTURE(BM_Ours, 320x240_64_tests, cv::Size(320, 240), 64, (BMSettings{9, 10, 15}));
BENCHMARK_CAPTURE(BM_OpenCV, 320x240_64_tests, cv::Size(320, 240), 64, (BMSettings{9, 10, 15}));
BENCHMARK_CAPTURE(BM_OpenCVPadded, 320x240_64_tests, cv::Size(320, 240), 64, (BMSettings{9, 10, 15}));

// --- Semi-global matching ---

// The matcher's settings: window 1 (P1 and P2 per window area), left-right tolerance 0, prefilter
// cap 12, uniqueness 1, no speckle filter.
struct SGBMSettings {
    int window = 1;
    bool fullDP = false;
};

stereo::StereoSGBMWithoutStripes OurSGBM(int levels, const SGBMSettings& s)
{
    const int area = s.window * s.window;
    return stereo::StereoSGBMWithoutStripes(0, levels, s.window, 8 * area, 32 * area, 0, 12, 1, 0, 32, s.fullDP);
}

cv::Ptr<cv::StereoSGBM> OpenCVSGBM(int levels, const SGBMSettings& s)
{
    const int area = s.window * s.window;
    return cv::StereoSGBM::create(0, levels, s.window, 8 * area, 32 * area, 0, 12, 1, 0, 32,
                                  s.fullDP ? cv::StereoSGBM::MODE_HH : cv::StereoSGBM::MODE_SGBM);
}

bool SGBMAgrees(const cv::Mat& ours, const cv::Mat& theirs)
{
    const cv::Mat both = (ours != -16) & (theirs != -16);
    const int bothValid = cv::countNonZero(both);
    const int agree = cv::countNonZero(both & (cv::abs(ours - theirs) <= 16));
    return 2.0 * bothValid >= static_cast<double>(ours.total()) && agree >= 0.95 * bothValid;
}

cv::Mat OpenCVSGBMDisparity(const RectifiedPair& pair, int levels, const SGBMSettings& s)
{
    cv::Mat disp;
    OpenCVSGBM(levels, s)->compute(pair.left, pair.right, disp);
    return disp;
}

void SGBM_Ours(benchmark::State& state, cv::Size size, int levels, SGBMSettings s)
{
    const RectifiedPair& pair = GetPair(size, levels);
    stereo::StereoSGBMWithoutStripes sgbm = OurSGBM(levels, s);
    cv::Mat disp;
    sgbm(pair.left, pair.right, disp);
    if (!SGBMAgrees(disp, OpenCVSGBMDisparity(pair, levels, s)))
        state.SkipWithError("the semi-global matcher disagrees with OpenCV's on the pixels both match");
    TimeCalls(state, [&] { sgbm(pair.left, pair.right, disp); });
    SetCells(state, static_cast<double>(size.area()), levels);
}

// OpenCV's leaves the first `levels` columns of the left view unmatched.
void SGBM_OpenCV(benchmark::State& state, cv::Size size, int levels, SGBMSettings s)
{
    const RectifiedPair& pair = GetPair(size, levels);
    cv::Ptr<cv::StereoSGBM> sgbm = OpenCVSGBM(levels, s);
    stereo::StereoSGBMWithoutStripes ours = OurSGBM(levels, s);
    cv::Mat disp, reference;
    ours(pair.left, pair.right, reference);
    sgbm->compute(pair.left, pair.right, disp);
    if (!SGBMAgrees(reference, disp))
        state.SkipWithError("OpenCV's semi-global matcher disagrees with ours on the pixels both match");
    TimeCalls(state, [&] { sgbm->compute(pair.left, pair.right, disp); });
    SetCells(state, static_cast<double>(size.width - levels) * size.height, levels);
}

void SGBM_OpenCVPadded(benchmark::State& state, cv::Size size, int levels, SGBMSettings s)
{
    const int margin = levels + s.window / 2;
    const RectifiedPair padded = Padded(GetPair(size, levels), margin);
    cv::Ptr<cv::StereoSGBM> sgbm = OpenCVSGBM(levels, s);
    stereo::StereoSGBMWithoutStripes ours = OurSGBM(levels, s);
    cv::Mat disp, reference;
    ours(GetPair(size, levels).left, GetPair(size, levels).right, reference);
    sgbm->compute(padded.left, padded.right, disp);
    if (!SGBMAgrees(reference, disp.colRange(margin, disp.cols)))
        state.SkipWithError("OpenCV's semi-global matcher on the padded pair disagrees with ours");
    TimeCalls(state, [&] { sgbm->compute(padded.left, padded.right, disp); });
    SetCells(state, static_cast<double>(size.area()), levels);
}

BENCHMARK_CAPTURE(SGBM_Ours, 144x108_32, kAnalyserSize, kAnalyserLevels, SGBMSettings{});
BENCHMARK_CAPTURE(SGBM_OpenCV, 144x108_32, kAnalyserSize, kAnalyserLevels, SGBMSettings{});
BENCHMARK_CAPTURE(SGBM_OpenCVPadded, 144x108_32, kAnalyserSize, kAnalyserLevels, SGBMSettings{});
BENCHMARK_CAPTURE(SGBM_Ours, 144x108_32_fullDP, kAnalyserSize, kAnalyserLevels, (SGBMSettings{1, true}));
BENCHMARK_CAPTURE(SGBM_OpenCV, 144x108_32_fullDP, kAnalyserSize, kAnalyserLevels, (SGBMSettings{1, true}));
BENCHMARK_CAPTURE(SGBM_OpenCVPadded, 144x108_32_fullDP, kAnalyserSize, kAnalyserLevels, (SGBMSettings{1, true}));
BENCHMARK_CAPTURE(SGBM_Ours, 320x240_64_window3, cv::Size(320, 240), 64, (SGBMSettings{3, false}));
BENCHMARK_CAPTURE(SGBM_OpenCV, 320x240_64_window3, cv::Size(320, 240), 64, (SGBMSettings{3, false}));
BENCHMARK_CAPTURE(SGBM_OpenCVPadded, 320x240_64_window3, cv::Size(320, 240), 64, (SGBMSettings{3, false}));

}  // namespace

int main(int argc, char** argv)
{
    cv::setNumThreads(1);
    std::vector<std::pair<std::string, std::string>> pairs;
    for (const char* matcher : {"BM", "SGBM"}) {
        const std::string prefix = matcher;
        const char* variants[] = {"144x108_32", "320x240_64_tests"};
        const char* sgbmVariants[] = {"144x108_32", "144x108_32_fullDP", "320x240_64_window3"};
        auto add = [&](const char* variant) {
            for (const char* reference : {"_OpenCV/", "_OpenCVPadded/"})
                pairs.emplace_back(prefix + "_Ours/" + variant, prefix + reference + variant);
        };
        if (prefix == "BM")
            for (const char* v : variants) add(v);
        else
            for (const char* v : sgbmVariants) add(v);
    }
    return bench_support::RunAndPrintTimeRatios(argc, argv, pairs);
}
