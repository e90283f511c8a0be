// The single-camera image primitives at 160 x 120 against OpenCV's nearest operations, one thread
// each, on the same input: every blur kind at one common sigma against cv::GaussianBlur and
// cv::sepFilter2D, window means against cv::blur, extremum marking against cv::dilate, labelling
// against cv::connectedComponentsWithStats. The ratios are printed at the end.
//
// Before it is timed, each of ours is checked on the same input against what it computes:
// - the recursive blurs against cv::GaussianBlur at the sigma they stand for (replicated borders;
//   within 2 grey levels, the fixed-point one within 3);
// - the box, triangle and exponential blurs against their kernels applied by cv::sepFilter2D,
//   samples outside the line 0 and each pass truncated to 8 bits (equal; the exponential within 1,
//   its sums passing double's exact integers);
// - the window-mean blurs and window means against cv::blur with replicated borders (equal);
// - the 3 x 3 smoothing against cv::boxFilter's sums divided by 9, truncated (equal, inside the
//   one-pixel frame it leaves alone);
// - both extremum markings against cv::dilate: the marked pixels are exactly the non-zero pixels
//   inside the border that equal their window's maximum;
// - the labelling against cv::connectedComponentsWithStats (4-connected): the same regions, with
//   the same areas, bounds and centres (truncated);
// - the background update against cv::accumulateWeighted in double: after two updates (every row
//   once) within 1 of the 2048 steps per grey level the background keeps.
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
#include "tests/support/deriche_gaussian_reference.h"

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

int MaxDifference(const cv::Mat& a, const cv::Mat& b)
{
    return static_cast<int>(cv::norm(a, b, cv::NORM_INF));
}

using testing_support::OpenCvGaussian;

// A symmetric one-dimensional kernel of weights w(|d|), d = -reach .. reach, over the rows and then
// the columns, samples outside the image 0, each pass truncated to 8 bits.
cv::Mat OpenCvSeparable(const cv::Mat& image, int reach, const std::function<double(int)>& weight)
{
    cv::Mat kernel(1, 2 * reach + 1, CV_64F);
    for (int d = -reach; d <= reach; ++d) kernel.at<double>(d + reach) = weight(std::abs(d));
    const double total = cv::sum(kernel)[0];
    const cv::Mat one(1, 1, CV_64F, cv::Scalar(1.0)), column = kernel.t();
    cv::Mat current = image, sums;
    for (const bool rows : {true, false}) {
        cv::sepFilter2D(current, sums, CV_64F, rows ? kernel : one, rows ? one : column, cv::Point(-1, -1), 0,
                        cv::BORDER_CONSTANT);
        cv::Mat next(image.size(), CV_8UC1);
        for (int i = 0; i < static_cast<int>(image.total()); ++i)
            next.data[i] = static_cast<uchar>(std::floor(sums.ptr<double>()[i] / total));
        current = next;
    }
    return current;
}

// cv::blur with replicated borders, once with radius `first` and then passes - 1 times with `later`.
cv::Mat OpenCvWindowMeans(const cv::Mat& image, int first, int later, int passes)
{
    cv::Mat out = image.clone();
    for (int pass = 0; pass < passes; ++pass) {
        const int side = 2 * (pass == 0 ? first : later) + 1;
        cv::blur(out, out, cv::Size(side, side), cv::Point(-1, -1), cv::BORDER_REPLICATE);
    }
    return out;
}

struct BlurKind {
    const char* name;
    std::function<std::unique_ptr<events_detector_utils::IGaussianBlur>()> make;
    int parameter;
    std::function<cv::Mat(const cv::Mat&)> reference;  // what the blur computes, by OpenCV
    int tolerance;                                     // grey levels
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
    // The window-mean blur splits its radius a over its passes: a / p for each later pass, the rest first.
    const auto window_means = [](int passes, int a) {
        return [passes, a](const cv::Mat& image) {
            return OpenCvWindowMeans(image, a - (passes - 1) * (a / passes), a / passes, passes);
        };
    };
    return {
        {"RecursiveDouble", [] { return std::make_unique<events_detector_utils::GaussianBlur>(); }, iir,
         [iir](const cv::Mat& image) { return OpenCvGaussian(image, iir); }, 2},
        {"RecursiveFixed", [] { return std::make_unique<GaussianBlurFixedGray>(); }, iir,
         [iir](const cv::Mat& image) { return OpenCvGaussian(image, iir); }, 3},
        {"Box", [] { return std::make_unique<GaussianBlurWith1DProcessor<BoxFilter1D>>(); }, box,
         [box](const cv::Mat& image) { return OpenCvSeparable(image, box, [](int) { return 1.0; }); }, 0},
        {"Triangle", [] { return std::make_unique<GaussianBlurWith1DProcessor<LinearApprox1D>>(); }, triangle,
         [triangle](const cv::Mat& image) {
             return OpenCvSeparable(image, triangle, [triangle](int d) { return triangle + 1.0 - d; });
         },
         0},
        {"WindowMeans1", [] { return std::make_unique<GaussianBlurWith2DWindowMeans>(1); }, passes_radius(1),
         window_means(1, passes_radius(1)), 0},
        {"WindowMeans2", [] { return std::make_unique<GaussianBlurWith2DWindowMeans>(2); }, passes_radius(2),
         window_means(2, passes_radius(2)), 0},
        {"WindowMeans3", [] { return std::make_unique<GaussianBlurWith2DWindowMeans>(3); }, passes_radius(3),
         window_means(3, passes_radius(3)), 0},
        {"Exponential", [] { return std::make_unique<GaussianBlurWith1DProcessor<ExpApprox1D>>(); }, exponential,
         [exponential](const cv::Mat& image) {
             const int n = std::min(exponential, ExpApprox1D::kMaxTerms);
             return OpenCvSeparable(image, n, [n](int d) { return std::pow(9.0, n - d) * std::pow(8.0, d); });
         },
         1},
    };
}

void BM_Blur(benchmark::State& state, BlurKind kind, AlgoLibrary::KernelPath path)
{
    const AlgoLibrary::ScopedKernelPath scoped(path);
    auto blur = kind.make();
    blur->InitProc(kind.parameter, kind.parameter);
    cv::Mat work = Frame().clone();
    blur->ProcessGray(work.data, kWidth, kHeight);
    const int difference = MaxDifference(work, kind.reference(Frame()));
    if (difference > kind.tolerance)
        state.SkipWithError(("differs from its OpenCV reference by " + std::to_string(difference) + " grey levels, " +
                             std::to_string(kind.tolerance) + " allowed")
                                .c_str());
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
    AlgoLibrary::CalcWindowMeans(work.data, work.data, AlgoLibrary::FastUintDividerSmoothingPixelFunction(), kWidth,
                                 kHeight, window, scratch);
    if (MaxDifference(work, OpenCvWindowMeans(Frame(), window / 2, 0, 1)) != 0)
        state.SkipWithError("the window means differ from cv::blur");
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
    AlgoLibrary::filter_smoothness(src, dst, kWidth, kHeight, 1, -1);
    cv::Mat sums;
    cv::boxFilter(Frame(), sums, CV_32S, cv::Size(3, 3), cv::Point(-1, -1), false);
    bool equal = true;
    for (int y = 1; y < kHeight - 1; ++y)
        for (int x = 1; x < kWidth - 1; ++x) equal &= dst[y * kWidth + x] == sums.at<int>(y, x) / 9;
    if (!equal)
        state.SkipWithError("the 3x3 smoothing differs from cv::boxFilter's sums divided by 9");
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

// Whether the local maxima marked are exactly the non-zero pixels at least `border` from every edge
// that equal their window's maximum (cv::dilate, windows clipped at the edges).
bool MarksAreTheDilationsFixedPoints(const CGrayImage<int>& marks, int border)
{
    cv::Mat dilated;
    cv::dilate(Frame(), dilated,
               cv::getStructuringElement(cv::MORPH_RECT, cv::Size(2 * kMarkRadius + 1, 2 * kMarkRadius + 1)));
    for (int y = 0; y < kHeight; ++y)
        for (int x = 0; x < kWidth; ++x) {
            const uchar v = Frame().at<uchar>(y, x);
            const bool inside = x >= border && y >= border && x < kWidth - border && y < kHeight - border;
            const bool expected = inside && v != 0 && v == dilated.at<uchar>(y, x);
            if ((marks.pixels[y * kWidth + x] == kMarkLocalMaximum) != expected)
                return false;
        }
    return true;
}

void BM_MarkExtremumsRunning(benchmark::State& state, AlgoLibrary::KernelPath path)
{
    const AlgoLibrary::ScopedKernelPath scoped(path);
    const avector<unsigned char> image(Frame().datastart, Frame().dataend);
    AlgoLibrary::MemManager::MemoryManager manager;
    CMarkExtremums marker(manager);
    CGrayImage<int> marks;
    marks.Resize(kWidth, kHeight, 0);
    marker.MarkExtremumsRunningWindowEntireImage(image, kWidth, kHeight, marks, kMarkRadius, kMarkBorder);
    if (!MarksAreTheDilationsFixedPoints(marks, kMarkBorder))
        state.SkipWithError("the marked maxima differ from the pixels that equal cv::dilate's");
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
    const int border = std::max(kMarkRadius, 10);
    MarkExtremumsEx<false, true>(image, marks, whole, kMarkRadius, border);
    if (!MarksAreTheDilationsFixedPoints(marks, border))
        state.SkipWithError("the marked maxima differ from the pixels that equal cv::dilate's");
    for (auto _ : state) {
        marks.Fill(0);
        MarkExtremumsEx<false, true>(image, marks, whole, kMarkRadius, border);
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

// Whether the labelled regions are cv::connectedComponentsWithStats's 4-connected components of the
// blobs: one region per component, the same pixels, area, bounds and (truncated) centre.
bool RegionsAreTheConnectedComponents(const LabelImageAndRegions& labelled)
{
    cv::Mat labels, stats, centroids;
    const int components = cv::connectedComponentsWithStats(Blobs(), labels, stats, centroids, 4, CV_32S);
    if (static_cast<int>(labelled.regions.size()) != components - 1)
        return false;
    std::map<int, int> ours_to_theirs, theirs_to_ours;
    for (int i = 0; i < kWidth * kHeight; ++i) {
        if (!Blobs().data[i])
            continue;
        const int ours = labelled.image.pixels[i], theirs = labels.ptr<int>()[i];
        if (ours_to_theirs.emplace(ours, theirs).first->second != theirs ||
            theirs_to_ours.emplace(theirs, ours).first->second != ours)
            return false;
    }
    for (const CRegion& region : labelled.regions) {
        const auto found = ours_to_theirs.find(region.label);
        if (found == ours_to_theirs.end())
            return false;
        const int c = found->second;
        const int left = stats.at<int>(c, cv::CC_STAT_LEFT), top = stats.at<int>(c, cv::CC_STAT_TOP);
        if (region.area != stats.at<int>(c, cv::CC_STAT_AREA) || region.left != left || region.top != top ||
            region.right != left + stats.at<int>(c, cv::CC_STAT_WIDTH) - 1 ||
            region.bottom != top + stats.at<int>(c, cv::CC_STAT_HEIGHT) - 1 ||
            region.cx != static_cast<int>(centroids.at<double>(c, 0)) ||
            region.cy != static_cast<int>(centroids.at<double>(c, 1)))
            return false;
    }
    return true;
}

void BM_Labelling(benchmark::State& state)
{
    constexpr int kSeed = kMarkLocalMaximum;
    LabelImageAndRegions seeds;
    seeds.image.Resize(kWidth, kHeight, 0);
    for (int i = 0; i < kWidth * kHeight; ++i) seeds.image.pixels[i] = Blobs().data[i] ? kSeed : 0;
    LabelImageAndRegions work = seeds;
    const kiv::SRECT whole{0, 0, kWidth - 1, kHeight - 1};
    CLabeller(kSeed, whole, whole, 0).CreateRegions(work);
    if (!RegionsAreTheConnectedComponents(work))
        state.SkipWithError("the regions differ from cv::connectedComponentsWithStats's components");
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
    constexpr double kAlpha = 0.005;
    CSimpleBackgroundSubtractor background;
    // From the frame toward its mirror image: two updates move every row once, by the alpha the
    // background works with (kFractionBits bits), as accumulateWeighted does in double.
    cv::Mat mirrored, target, expected, ours;
    cv::flip(Frame(), mirrored, 1);
    background.Init(Frame().data, kAlpha, kWidth, kHeight, 1, kWidth, true, 2);
    background.Update(mirrored.data);
    background.Update(mirrored.data);
    const double scale = 1 << CSimpleBackgroundSubtractor::kFractionBits;
    Frame().convertTo(expected, CV_64F, scale);
    mirrored.convertTo(target, CV_64F, scale);
    cv::accumulateWeighted(target, expected, std::floor(kAlpha * scale) / scale);
    cv::Mat(kHeight, kWidth, CV_32S, const_cast<uint32_t*>(background.Background().data())).convertTo(ours, CV_64F);
    if (cv::norm(ours, expected, cv::NORM_INF) > 1.0)
        state.SkipWithError("the background differs from cv::accumulateWeighted's");
    background.Init(Frame().data, kAlpha, kWidth, kHeight, 1, kWidth, true, 2);
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
