// Semi-global matching against OpenCV's StereoSGBM on the same textured pair, one thread each, in
// the 5-direction mode and with full dynamic programming (8 directions). Times are compared per
// computed pixel x disparity level: OpenCV leaves the first numDisparities columns of the left view
// unmatched, while our routine matches every column.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <map>
#include <opencv2/calib3d.hpp>
#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>
#include <string>
#include <vector>

#include "StereoAnalyzer/StereoMatchers/modified_opencv_stereo_matchers/stereo_sgbm_without_stripes.h"

namespace {

constexpr int kWidth = 320;
constexpr int kHeight = 240;
constexpr int kLevels = 64;
constexpr int kWindow = 3;
constexpr int kP1 = 8 * kWindow * kWindow;
constexpr int kP2 = 32 * kWindow * kWindow;

struct Pair {
    cv::Mat left;
    cv::Mat right;
};

// A textured background at disparity 10 with a textured box in front at disparity 40.
const Pair& TestPair()
{
    static const Pair pair = [] {
        cv::RNG rng(12345);
        cv::Mat bg(kHeight, kWidth + 10, CV_8UC1), fg(kHeight, kWidth, CV_8UC1);
        rng.fill(bg, cv::RNG::UNIFORM, 0, 256);
        rng.fill(fg, cv::RNG::UNIFORM, 0, 256);
        cv::GaussianBlur(bg, bg, cv::Size(3, 3), 0.8);
        cv::GaussianBlur(fg, fg, cv::Size(3, 3), 0.8);
        Pair p;
        p.left = bg(cv::Rect(0, 0, kWidth, kHeight)).clone();
        p.right = bg(cv::Rect(10, 0, kWidth, kHeight)).clone();
        const cv::Rect box(kWidth / 3, kHeight / 4, kWidth / 3, kHeight / 2);
        fg(box).copyTo(p.left(box));
        fg(box).copyTo(p.right(box - cv::Point(40, 0)));
        return p;
    }();
    return pair;
}

// Pixel x level products each matcher computes per call.
double OursWork()
{
    return static_cast<double>(kWidth) * kHeight * kLevels;
}

double OpenCVWork()
{
    return static_cast<double>(kWidth - kLevels) * kHeight * kLevels;
}

void Ours(benchmark::State& state, bool full_dp)
{
    cv::setNumThreads(1);
    const Pair& pair = TestPair();
    stereo::StereoSGBMWithoutStripes matcher(0, kLevels, kWindow, kP1, kP2, 1, 12, 10, 0, 32, full_dp);
    cv::Mat disp;
    matcher(pair.left, pair.right, disp);
    for (auto _ : state) {
        matcher(pair.left, pair.right, disp);
        benchmark::DoNotOptimize(disp.data);
    }
    state.counters["px_levels"] = OursWork();
}

void OpenCV(benchmark::State& state, bool full_dp)
{
    cv::setNumThreads(1);
    const Pair& pair = TestPair();
    cv::Ptr<cv::StereoSGBM> matcher = cv::StereoSGBM::create(
        0, kLevels, kWindow, kP1, kP2, 1, 12, 10, 0, 32, full_dp ? cv::StereoSGBM::MODE_HH : cv::StereoSGBM::MODE_SGBM);
    cv::Mat disp;
    matcher->compute(pair.left, pair.right, disp);
    for (auto _ : state) {
        matcher->compute(pair.left, pair.right, disp);
        benchmark::DoNotOptimize(disp.data);
    }
    state.counters["px_levels"] = OpenCVWork();
}

BENCHMARK_CAPTURE(Ours, FiveDirections, false)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(OpenCV, FiveDirections, false)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(Ours, FullDP, true)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(OpenCV, FullDP, true)->Unit(benchmark::kMillisecond);

// Console output plus, at the end, our time per pixel x level over OpenCV's for each mode.
class RatioReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override
    {
        ConsoleReporter::ReportRuns(runs);
        for (const Run& run : runs) {
            if (run.run_type != Run::RT_Iteration || run.iterations == 0)
                continue;
            const auto it = run.counters.find("px_levels");
            if (it == run.counters.end())
                continue;
            m_ns_per_unit[run.benchmark_name()] = run.real_accumulated_time * 1e9 / run.iterations / it->second.value;
        }
    }

    void PrintRatios() const
    {
        for (const char* mode : {"FiveDirections", "FullDP"}) {
            const auto ours = m_ns_per_unit.find(std::string("Ours/") + mode);
            const auto theirs = m_ns_per_unit.find(std::string("OpenCV/") + mode);
            if (ours == m_ns_per_unit.end() || theirs == m_ns_per_unit.end())
                continue;
            std::printf("%-15s ours %.3f ns, OpenCV %.3f ns per pixel x level: ratio %.2f\n", mode, ours->second,
                        theirs->second, ours->second / theirs->second);
        }
    }

private:
    std::map<std::string, double> m_ns_per_unit;
};

}  // namespace

int main(int argc, char** argv)
{
    benchmark::Initialize(&argc, argv);
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    reporter.PrintRatios();
    benchmark::Shutdown();
    return 0;
}
