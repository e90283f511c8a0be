// The single-camera image primitives at 160 x 120 against OpenCV's nearest operations, one thread
// each, on the same input: every blur kind at one common sigma against cv::GaussianBlur and
// cv::sepFilter2D, window means against cv::blur, extremum marking against cv::dilate, labelling
// against cv::connectedComponentsWithStats. The ratios are printed at the end.
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdio>
#include <functional>
#include <map>
#include <memory>
#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>
#include <string>
#include <utility>
#include <vector>

#include "CommonUtilities/algorithm_support/kernel_path.h"
#include "PeopleCounter/analytics/traffic_controller/src/primitives/background_subtractor.h"
#include "PeopleCounter/analytics/traffic_controller/src/primitives/gaussian_blur.h"
#include "PeopleCounter/analytics/traffic_controller/src/primitives/gaussian_blur_fixed.h"
#include "PeopleCounter/analytics/traffic_controller/src/primitives/labeller.h"
#include "PeopleCounter/analytics/traffic_controller/src/primitives/mark_extremums.h"
#include "PeopleCounter/analytics/traffic_controller/src/primitives/window_means.h"
#include "bench/time_ratios.h"

namespace {

constexpr int kWidth = 160;
constexpr int kHeight = 120;
constexpr double kSigma = 6.0;   // common to every blur kind
constexpr int kMarkRadius = 16;  // the keypoint radius at 160 x 120
constexpr int kMarkBorder = kMarkRadius / 2;

// A textured frame: noise smoothed into blobs of about a person's size.
const cv::Mat& Frame()
{
    static const cv::Mat frame = [] {
        cv::Mat image(kHeight, kWidth, CV_8UC1);
        cv::RNG rng(20150412);
        rng.fill(image, cv::RNG::UNIFORM, 0, 256);
        cv::GaussianBlur(image, image, cv::Size(0, 0), 4.0);
        cv::normalize(image, image, 0, 255, cv::NORM_MINMAX);
        return image;
    }();
    return frame;
}

// Standard deviation of a symmetric one-dimensional kernel given by its weights at 0, 1, 2, ...
double KernelSigma(const std::function<double(int)>& weight, int reach)
{
    double total = 0.0, moment = 0.0;
    for (int d = -reach; d <= reach; ++d) {
        total += weight(std::abs(d));
        moment += weight(std::abs(d)) * d * d;
    }
    return std::sqrt(moment / total);
}

// The parameter (1 .. limit) whose kernel sigma comes nearest kSigma.
int NearestParameter(const std::function<double(int)>& sigma_of, int limit)
{
    int best = 1;
    for (int p = 1; p <= limit; ++p)
        if (std::fabs(sigma_of(p) - kSigma) < std::fabs(sigma_of(best) - kSigma))
            best = p;
    return best;
}

struct BlurKind {
    const char* name;
    std::function<std::unique_ptr<events_detector_utils::IGaussianBlur>()> make;
    int parameter;
};

std::vector<BlurKind> BlurKinds()
{
    using namespace GaussianFixed;
    const int iir = NearestParameter([](int a) { return events_detector_utils::DericheSigma(a / 100.0); }, 10000);
    const int box =
        NearestParameter([](int r) { return KernelSigma([r](int d) { return d <= r ? 1.0 : 0.0; }, r); }, 200);
    const int triangle =
        NearestParameter([](int r) { return KernelSigma([r](int d) { return d <= r ? r + 1.0 - d : 0.0; }, r); }, 200);
    const int exponential = NearestParameter(
        [](int r) {
            const int n = std::min(r, ExpApprox1D::kMaxTerms);
            return KernelSigma([n](int d) { return d <= n ? std::pow(8.0 / 9.0, d) : 0.0; }, n);
        },
        16);
    // p passes of one radius: the variances add up.
    const auto passes_radius = [](int passes) {
        return passes * NearestParameter(
                            [passes](int r) {
                                return std::sqrt(passes) * KernelSigma([r](int d) { return d <= r ? 1.0 : 0.0; }, r);
                            },
                            31);
    };
    return {
        {"RecursiveDouble", [] { return std::make_unique<events_detector_utils::GaussianBlur>(); }, iir},
        {"RecursiveFixed", [] { return std::make_unique<GaussianBlurFixedGray>(); }, iir},
        {"Box", [] { return std::make_unique<GaussianBlurWith1DProcessor<BoxFilter1D>>(); }, box},
        {"Triangle", [] { return std::make_unique<GaussianBlurWith1DProcessor<LinearApprox1D>>(); }, triangle},
        {"WindowMeans1", [] { return std::make_unique<GaussianBlurWith2DWindowMeans>(1); }, passes_radius(1)},
        {"WindowMeans2", [] { return std::make_unique<GaussianBlurWith2DWindowMeans>(2); }, passes_radius(2)},
        {"WindowMeans3", [] { return std::make_unique<GaussianBlurWith2DWindowMeans>(3); }, passes_radius(3)},
        {"Exponential", [] { return std::make_unique<GaussianBlurWith1DProcessor<ExpApprox1D>>(); }, exponential},
    };
}

void BM_Blur(benchmark::State& state, BlurKind kind, AlgoLibrary::KernelPath path)
{
    const AlgoLibrary::ScopedKernelPath scoped(path);
    auto blur = kind.make();
    blur->InitProc(kind.parameter, kind.parameter);
    cv::Mat work = Frame().clone();
    for (auto _ : state) {
        Frame().copyTo(work);
        blur->ProcessGray(work.data, kWidth, kHeight);
        benchmark::DoNotOptimize(work.data);
    }
    state.SetLabel("parameter " + std::to_string(kind.parameter));
}

void BM_CvGaussianBlur(benchmark::State& state)
{
    cv::Mat work = Frame().clone();
    cv::Mat out;
    for (auto _ : state) {
        Frame().copyTo(work);
        cv::GaussianBlur(work, out, cv::Size(0, 0), kSigma, kSigma, cv::BORDER_REPLICATE);
        benchmark::DoNotOptimize(out.data);
    }
}

void BM_CvSepFilter2D(benchmark::State& state)
{
    const int half = static_cast<int>(std::ceil(3 * kSigma));
    const cv::Mat kernel = cv::getGaussianKernel(2 * half + 1, kSigma, CV_32F);
    cv::Mat work = Frame().clone();
    cv::Mat out;
    for (auto _ : state) {
        Frame().copyTo(work);
        cv::sepFilter2D(work, out, CV_8U, kernel, kernel, cv::Point(-1, -1), 0, cv::BORDER_REPLICATE);
        benchmark::DoNotOptimize(out.data);
    }
}

void BM_WindowMeans(benchmark::State& state, AlgoLibrary::KernelPath path)
{
    const AlgoLibrary::ScopedKernelPath scoped(path);
    const int window = static_cast<int>(state.range(0));
    cv::Mat work = Frame().clone();
    std::vector<char> scratch;
    for (auto _ : state) {
        Frame().copyTo(work);
        AlgoLibrary::CalcWindowMeans(work.data, work.data, AlgoLibrary::FastUintDividerSmoothingPixelFunction(), kWidth,
                                     kHeight, window, scratch);
        benchmark::DoNotOptimize(work.data);
    }
}

void BM_CvBlur(benchmark::State& state)
{
    const int window = static_cast<int>(state.range(0));
    cv::Mat work = Frame().clone();
    for (auto _ : state) {
        Frame().copyTo(work);
        cv::blur(work, work, cv::Size(window, window), cv::Point(-1, -1), cv::BORDER_REPLICATE);
        benchmark::DoNotOptimize(work.data);
    }
}

void BM_Smoothness3x3(benchmark::State& state)
{
    const avector<unsigned char> src(Frame().datastart, Frame().dataend);
    avector<unsigned char> dst(src.size());
    for (auto _ : state) {
        AlgoLibrary::filter_smoothness(src, dst, kWidth, kHeight, 1, -1);
        benchmark::DoNotOptimize(dst.data());
    }
}

void BM_CvBlur3x3(benchmark::State& state)
{
    cv::Mat out;
    for (auto _ : state) {
        cv::blur(Frame(), out, cv::Size(3, 3), cv::Point(-1, -1), cv::BORDER_REPLICATE);
        benchmark::DoNotOptimize(out.data);
    }
}

void BM_MarkExtremumsRunning(benchmark::State& state, AlgoLibrary::KernelPath path)
{
    const AlgoLibrary::ScopedKernelPath scoped(path);
    const avector<unsigned char> image(Frame().datastart, Frame().dataend);
    AlgoLibrary::MemManager::MemoryManager manager;
    CMarkExtremums marker(manager);
    CGrayImage<int> marks;
    marks.Resize(kWidth, kHeight, 0);
    for (auto _ : state) {
        marks.Fill(0);
        marker.MarkExtremumsRunningWindowEntireImage(image, kWidth, kHeight, marks, kMarkRadius, kMarkBorder);
        benchmark::DoNotOptimize(marks.pixels.data());
    }
}

void BM_MarkExtremumsScan(benchmark::State& state)
{
    const avector<unsigned char> image(Frame().datastart, Frame().dataend);
    CGrayImage<int> marks;
    marks.Resize(kWidth, kHeight, 0);
    const AlgoLibrary::RectangularFilterRegion<kiv::SRECT> whole{{0, 0, kWidth, kHeight}, kWidth, kHeight};
    for (auto _ : state) {
        marks.Fill(0);
        MarkExtremumsEx<false, true>(image, marks, whole, kMarkRadius, std::max(kMarkRadius, 10));
        benchmark::DoNotOptimize(marks.pixels.data());
    }
}

void BM_CvDilate(benchmark::State& state)
{
    const cv::Mat element =
        cv::getStructuringElement(cv::MORPH_RECT, cv::Size(2 * kMarkRadius + 1, 2 * kMarkRadius + 1));
    cv::Mat out;
    for (auto _ : state) {
        cv::dilate(Frame(), out, element);
        benchmark::DoNotOptimize(out.data);
    }
}

// A binary image of many small blobs, as the seed value for our labeller and 255 for OpenCV.
const cv::Mat& Blobs()
{
    static const cv::Mat blobs = Frame() > 140;
    return blobs;
}

void BM_Labelling(benchmark::State& state)
{
    constexpr int kSeed = kMarkLocalMaximum;
    LabelImageAndRegions seeds;
    seeds.image.Resize(kWidth, kHeight, 0);
    for (int i = 0; i < kWidth * kHeight; ++i) seeds.image.pixels[i] = Blobs().data[i] ? kSeed : 0;
    LabelImageAndRegions work = seeds;
    const kiv::SRECT whole{0, 0, kWidth - 1, kHeight - 1};
    for (auto _ : state) {
        work.image.pixels = seeds.image.pixels;
        CLabeller(kSeed, whole, whole, 0).CreateRegions(work);
        benchmark::DoNotOptimize(work.image.pixels.data());
    }
    state.SetLabel(std::to_string(work.regions.size()) + " regions");
}

void BM_CvConnectedComponents(benchmark::State& state)
{
    cv::Mat labels, stats, centroids;
    for (auto _ : state) {
        cv::connectedComponentsWithStats(Blobs(), labels, stats, centroids, 4, CV_32S);
        benchmark::DoNotOptimize(labels.data);
    }
}

void BM_BackgroundUpdate(benchmark::State& state)
{
    CSimpleBackgroundSubtractor background;
    background.Init(Frame().data, 0.005, kWidth, kHeight, 1, kWidth, true, 2);
    for (auto _ : state) {
        background.Update(Frame().data);
        benchmark::DoNotOptimize(background.Background().data());
    }
}

void BM_CvAccumulateWeighted(benchmark::State& state)
{
    cv::Mat background;
    Frame().convertTo(background, CV_32F);
    for (auto _ : state) {
        cv::accumulateWeighted(Frame(), background, 0.005);
        benchmark::DoNotOptimize(background.data);
    }
}

}  // namespace

int main(int argc, char** argv)
{
    cv::setNumThreads(1);
    for (const BlurKind& kind : BlurKinds()) {
        benchmark::RegisterBenchmark((std::string("BM_Blur/") + kind.name).c_str(), BM_Blur, kind,
                                     AlgoLibrary::KernelPath::kVector);
        benchmark::RegisterBenchmark((std::string("BM_BlurScalar/") + kind.name).c_str(), BM_Blur, kind,
                                     AlgoLibrary::KernelPath::kScalar);
    }
    benchmark::RegisterBenchmark("BM_CvGaussianBlur", BM_CvGaussianBlur);
    benchmark::RegisterBenchmark("BM_CvSepFilter2D", BM_CvSepFilter2D);
    for (const int window : {5, 25}) {
        benchmark::RegisterBenchmark("BM_WindowMeans", BM_WindowMeans, AlgoLibrary::KernelPath::kVector)->Arg(window);
        benchmark::RegisterBenchmark("BM_WindowMeansScalar", BM_WindowMeans, AlgoLibrary::KernelPath::kScalar)
            ->Arg(window);
        benchmark::RegisterBenchmark("BM_CvBlur", BM_CvBlur)->Arg(window);
    }
    benchmark::RegisterBenchmark("BM_Smoothness3x3", BM_Smoothness3x3);
    benchmark::RegisterBenchmark("BM_CvBlur3x3", BM_CvBlur3x3);
    benchmark::RegisterBenchmark("BM_MarkExtremumsRunning", BM_MarkExtremumsRunning, AlgoLibrary::KernelPath::kVector);
    benchmark::RegisterBenchmark("BM_MarkExtremumsRunningScalar", BM_MarkExtremumsRunning,
                                 AlgoLibrary::KernelPath::kScalar);
    benchmark::RegisterBenchmark("BM_MarkExtremumsScan", BM_MarkExtremumsScan);
    benchmark::RegisterBenchmark("BM_CvDilate", BM_CvDilate);
    benchmark::RegisterBenchmark("BM_Labelling", BM_Labelling);
    benchmark::RegisterBenchmark("BM_CvConnectedComponents", BM_CvConnectedComponents);
    benchmark::RegisterBenchmark("BM_BackgroundUpdate", BM_BackgroundUpdate);
    benchmark::RegisterBenchmark("BM_CvAccumulateWeighted", BM_CvAccumulateWeighted);

    std::vector<std::pair<std::string, std::string>> pairs;
    for (const BlurKind& kind : BlurKinds()) {
        for (const char* prefix : {"BM_Blur/", "BM_BlurScalar/"}) {
            pairs.emplace_back(prefix + std::string(kind.name), "BM_CvGaussianBlur");
            pairs.emplace_back(prefix + std::string(kind.name), "BM_CvSepFilter2D");
        }
    }
    for (const char* window : {"5", "25"}) {
        pairs.emplace_back(std::string("BM_WindowMeans/") + window, std::string("BM_CvBlur/") + window);
        pairs.emplace_back(std::string("BM_WindowMeansScalar/") + window, std::string("BM_CvBlur/") + window);
    }
    pairs.emplace_back("BM_Smoothness3x3", "BM_CvBlur3x3");
    pairs.emplace_back("BM_MarkExtremumsRunning", "BM_CvDilate");
    pairs.emplace_back("BM_MarkExtremumsRunningScalar", "BM_CvDilate");
    pairs.emplace_back("BM_MarkExtremumsScan", "BM_CvDilate");
    pairs.emplace_back("BM_Labelling", "BM_CvConnectedComponents");
    pairs.emplace_back("BM_BackgroundUpdate", "BM_CvAccumulateWeighted");
    std::printf("OpenCV references at sigma %.1f and %dx%d.\n", kSigma, kWidth, kHeight);
    return bench_support::RunAndPrintTimeRatios(argc, argv, pairs);
}
