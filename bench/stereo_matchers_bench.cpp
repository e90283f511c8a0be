// Stereo matching of one view on a rectified textured pair: our routines against OpenCV's, in the
// same process, one thread each, per call on the same pair. The block matcher runs at the
// analyser's settings (window 9, no texture or uniqueness test) at the analyser's working sizes
// (144 x 108 and 112 x 84 with 32 levels) and at 320 x 240 with 64 levels; the semi-global one with
// its own settings. The figure is the time per call: ours matches every column of the view, OpenCV
// leaves the first columns unmatched, and the ratio counts that work against us.
//
// Before it is timed, every benchmark checks its output against the other contender's and fails
// when they disagree: the block matcher's disparities equal OpenCV's inside OpenCV's valid region
// (ties between equal sums may resolve differently on at most 0.1% of the pixels), and on the
// pixels both semi-global matchers call valid at least 95% agree within one pixel.
#include <benchmark/benchmark.h>

#include <functional>
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

// One view's disparities of a pair into a matrix.
using Compute = std::function<void(const RectifiedPair&, cv::Mat&)>;
// Whether our disparities (first) agree with OpenCV's (second).
using Agree = std::function<bool(const cv::Mat&, const cv::Mat&)>;

// A benchmark case: the two contenders on one pair, and how their outputs must agree.
struct MatcherCase {
    std::string matcher;  // "BM" or "SGBM"
    std::string variant;  // size, levels and settings
    cv::Size size;
    int levels = 0;
    Compute ours;
    Compute opencv;
    Agree agree;
};

// Checks the timed contender's output against the other's, then times its calls.
void TimeChecked(benchmark::State& state, const MatcherCase& c, bool timeOurs)
{
    const RectifiedPair& pair = GetPair(c.size, c.levels);
    cv::Mat ours, opencv;
    c.ours(pair, ours);
    c.opencv(pair, opencv);
    if (!c.agree(ours, opencv))
        state.SkipWithError(("our " + c.matcher + " disparities disagree with OpenCV's").c_str());
    const Compute& timed = timeOurs ? c.ours : c.opencv;
    cv::Mat& disp = timeOurs ? ours : opencv;
    for (auto _ : state) {
        timed(pair, disp);
        benchmark::ClobberMemory();
    }
}

// --- Block matching ---

// The analyser's settings: prefilter cap 31, no texture or uniqueness test, no left-right check,
// no speckle filter.
constexpr int kBMWindow = 9;

Compute OurBM(int levels)
{
    auto bm = std::make_shared<stereo::StereoBMWithoutStripes>();
    stereo::CvStereoBMState& st = *bm->state;
    st.SADWindowSize = kBMWindow;
    st.minDisparity = 0;
    st.numberOfDisparities = levels;
    st.textureThreshold = 0;
    st.uniquenessRatio = 0;
    return [bm](const RectifiedPair& pair, cv::Mat& disp) { (*bm)(pair.left, pair.right, disp, CV_16S); };
}

Compute OpenCVBM(int levels)
{
    cv::Ptr<cv::StereoBM> bm = cv::StereoBM::create(levels, kBMWindow);
    bm->setMinDisparity(0);
    bm->setPreFilterType(cv::StereoBM::PREFILTER_XSOBEL);
    bm->setPreFilterCap(31);
    bm->setTextureThreshold(0);
    bm->setUniquenessRatio(0);
    bm->setSpeckleWindowSize(0);
    bm->setDisp12MaxDiff(-1);
    return [bm](const RectifiedPair& pair, cv::Mat& disp) { bm->compute(pair.left, pair.right, disp); };
}

// OpenCV's disparities inside its valid region, shrunk by a window's reach, against ours.
Agree BMAgrees(int levels)
{
    return [levels](const cv::Mat& ours, const cv::Mat& theirs) {
        const cv::Rect whole(cv::Point(), ours.size());
        cv::Rect valid = cv::getValidDisparityROI(whole, whole, 0, levels, kBMWindow);
        const int shrink = kBMWindow / 2 + 1;
        valid = cv::Rect(valid.x + shrink, valid.y + shrink, valid.width - 2 * shrink, valid.height - 2 * shrink);
        return valid.area() > 0 && cv::countNonZero(ours(valid) != theirs(valid)) <= 0.001 * valid.area();
    };
}

MatcherCase BMCase(const std::string& variant, cv::Size size, int levels)
{
    return {"BM", variant, size, levels, OurBM(levels), OpenCVBM(levels), BMAgrees(levels)};
}

// --- Semi-global matching ---

// The matcher's settings: P1 and P2 per window area, left-right tolerance 0, prefilter cap 12,
// uniqueness 1, no speckle filter; window 1 in the analyser.
MatcherCase SGBMCase(const std::string& variant, cv::Size size, int levels, int window, bool fullDP)
{
    const int area = window * window;
    auto ours = std::make_shared<stereo::StereoSGBMWithoutStripes>(0, levels, window, 8 * area, 32 * area, 0, 12, 1, 0,
                                                                   32, fullDP);
    cv::Ptr<cv::StereoSGBM> opencv =
        cv::StereoSGBM::create(0, levels, window, 8 * area, 32 * area, 0, 12, 1, 0, 32,
                               fullDP ? cv::StereoSGBM::MODE_HH : cv::StereoSGBM::MODE_SGBM);
    Agree agree = [](const cv::Mat& a, const cv::Mat& b) {
        const cv::Mat both = (a != -16) & (b != -16);
        const int bothValid = cv::countNonZero(both);
        const int same = cv::countNonZero(both & (cv::abs(a - b) <= 16));
        return 2.0 * bothValid >= static_cast<double>(a.total()) && same >= 0.95 * bothValid;
    };
    return {"SGBM",
            variant,
            size,
            levels,
            [ours](const RectifiedPair& pair, cv::Mat& disp) { (*ours)(pair.left, pair.right, disp); },
            [opencv](const RectifiedPair& pair, cv::Mat& disp) { opencv->compute(pair.left, pair.right, disp); },
            agree};
}

std::vector<MatcherCase> Cases()
{
    return {BMCase("144x108_32", cv::Size(144, 108), 32),
            BMCase("112x84_32", cv::Size(112, 84), 32),
            BMCase("320x240_64", cv::Size(320, 240), 64),
            SGBMCase("144x108_32", cv::Size(144, 108), 32, 1, false),
            SGBMCase("144x108_32_fullDP", cv::Size(144, 108), 32, 1, true),
            SGBMCase("320x240_64_window3", cv::Size(320, 240), 64, 3, false)};
}

}  // namespace

int main(int argc, char** argv)
{
    cv::setNumThreads(1);
    static const std::vector<MatcherCase> cases = Cases();
    std::vector<std::pair<std::string, std::string>> pairs;
    for (const MatcherCase& c : cases) {
        const std::string ours = c.matcher + "_Ours/" + c.variant;
        const std::string opencv = c.matcher + "_OpenCV/" + c.variant;
        benchmark::RegisterBenchmark(ours.c_str(), [&c](benchmark::State& state) { TimeChecked(state, c, true); });
        benchmark::RegisterBenchmark(opencv.c_str(), [&c](benchmark::State& state) { TimeChecked(state, c, false); });
        pairs.emplace_back(ours, opencv);
    }
    return bench_support::RunAndPrintTimeRatios(argc, argv, pairs);
}
