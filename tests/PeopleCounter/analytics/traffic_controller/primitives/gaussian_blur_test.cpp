#include "PeopleCounter/analytics/traffic_controller/src/primitives/gaussian_blur.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <functional>
#include <memory>
#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>
#include <vector>

#include "CommonUtilities/algorithm_support/kernel_path.h"
#include "PeopleCounter/analytics/traffic_controller/src/primitives/gaussian_blur_fixed.h"
#include "tests/PeopleCounter/analytics/traffic_controller/primitives/test_images.h"
#include "tests/support/deriche_gaussian_reference.h"

namespace {

using events_detector_utils::IGaussianBlur;

cv::Mat Blurred(IGaussianBlur& blur, const cv::Mat& image)
{
    cv::Mat out = image.clone();
    blur.ProcessGray(out.data, out.cols, out.rows);
    return out;
}

// The separable kernels applied directly: weights per offset, samples outside the line 0,
// truncating division by the weights' total. Rows first, then columns.
cv::Mat DirectSeparable(const cv::Mat& image, const std::function<uint64_t(int)>& weight, int rx, int ry)
{
    cv::Mat current = image.clone();
    const auto pass = [&](int radius, bool rows) {
        if (radius < 1)
            return;
        uint64_t total = 0;
        for (int d = -radius; d <= radius; ++d) total += weight(d);
        cv::Mat next = current.clone();
        for (int y = 0; y < current.rows; ++y)
            for (int x = 0; x < current.cols; ++x) {
                uint64_t sum = 0;
                for (int d = -radius; d <= radius; ++d) {
                    const int xx = rows ? x + d : x;
                    const int yy = rows ? y : y + d;
                    if (xx >= 0 && yy >= 0 && xx < current.cols && yy < current.rows)
                        sum += weight(d) * current.at<uchar>(yy, xx);
                }
                next.at<uchar>(y, x) = static_cast<uchar>(sum / total);
            }
        current = next;
    };
    pass(rx, true);
    pass(ry, false);
    return current;
}

uint64_t Power(uint64_t base, int exponent)
{
    uint64_t result = 1;
    for (int i = 0; i < exponent; ++i) result *= base;
    return result;
}

struct KernelCase {
    const char* name;
    std::function<std::unique_ptr<IGaussianBlur>()> make;
    // The weight of offset d for radius r (0 beyond the kernel's reach).
    std::function<uint64_t(int d, int r)> weight;
};

std::vector<KernelCase> Kernels()
{
    return {
        {"box",
         [] { return std::make_unique<GaussianFixed::GaussianBlurWith1DProcessor<GaussianFixed::BoxFilter1D>>(); },
         [](int d, int r) -> uint64_t { return std::abs(d) <= r ? 1 : 0; }},
        {"triangle",
         [] { return std::make_unique<GaussianFixed::GaussianBlurWith1DProcessor<GaussianFixed::LinearApprox1D>>(); },
         [](int d, int r) -> uint64_t { return std::abs(d) <= r ? r + 1 - std::abs(d) : 0; }},
        {"exponential",
         [] { return std::make_unique<GaussianFixed::GaussianBlurWith1DProcessor<GaussianFixed::ExpApprox1D>>(); },
         [](int d, int r) -> uint64_t {
             const int n = std::min(r, 16);
             return std::abs(d) <= n ? Power(9, n - std::abs(d)) * Power(8, std::abs(d)) : 0;
         }},
    };
}

TEST(GaussianBlurTest, SeparableKernelsEqualTheirDirectConvolution)
{
    const struct {
        int width, height, rx, ry;
    } sizes[] = {{160, 120, 3, 3}, {37, 23, 1, 5}, {64, 50, 24, 24}, {20, 40, 30, 2}, {45, 33, 12, 0}, {30, 28, 8, 9}};
    for (const KernelCase& kernel : Kernels())
        for (const auto& size : sizes)
            for (const AlgoLibrary::KernelPath path :
                 {AlgoLibrary::KernelPath::kVector, AlgoLibrary::KernelPath::kScalar}) {
                const AlgoLibrary::ScopedKernelPath scoped(path);
                const cv::Mat image = RandomImage(size.width, size.height, 7);
                auto blur = kernel.make();
                ASSERT_TRUE(blur->InitProc(size.rx, size.ry));
                const cv::Mat expected_rows = DirectSeparable(
                    image, [&](int d) { return kernel.weight(d, size.rx); }, size.rx, 0);
                const cv::Mat expected = DirectSeparable(
                    expected_rows, [&](int d) { return kernel.weight(d, size.ry); }, 0, size.ry);
                EXPECT_EQ(MaxDifference(Blurred(*blur, image), expected), 0)
                    << kernel.name << " " << size.width << "x" << size.height << " r " << size.rx << "," << size.ry
                    << " " << AlgoLibrary::KernelPathName(path);
            }
}

TEST(GaussianBlurTest, OneDimensionalSetUpRefusesRadiiBeyondThirtyTwoBitSums)
{
    GaussianFixed::GaussianBlurWith1DProcessor<GaussianFixed::LinearApprox1D> blur;
    EXPECT_TRUE(blur.InitProc(GaussianFixed::kMax1DRadius, 1));
    EXPECT_FALSE(blur.InitProc(GaussianFixed::kMax1DRadius + 1, 1));
    EXPECT_FALSE(blur.InitProc(1, 1 << 20));
    // At the largest radius a white image stays white where the whole window lies inside it,
    // on both paths.
    const int r = GaussianFixed::kMax1DRadius;
    const cv::Mat white(2 * r + 1, 16, CV_8UC1, cv::Scalar(255));
    for (const AlgoLibrary::KernelPath path : {AlgoLibrary::KernelPath::kVector, AlgoLibrary::KernelPath::kScalar}) {
        const AlgoLibrary::ScopedKernelPath scoped(path);
        GaussianFixed::GaussianBlurWith1DProcessor<GaussianFixed::LinearApprox1D> triangle;
        GaussianFixed::GaussianBlurWith1DProcessor<GaussianFixed::BoxFilter1D> box;
        ASSERT_TRUE(triangle.InitProc(0, r));
        ASSERT_TRUE(box.InitProc(0, r));
        EXPECT_EQ(Blurred(triangle, white).at<uchar>(r, 7), 255) << AlgoLibrary::KernelPathName(path);
        EXPECT_EQ(Blurred(box, white).at<uchar>(r, 7), 255) << AlgoLibrary::KernelPathName(path);
    }
}

using testing_support::OpenCvGaussian;

TEST(GaussianBlurTest, RecursiveFiltersFollowOpenCvGaussian)
{
    for (const int size : {100, 250, 600, 1600}) {
        const cv::Mat image = RandomImage(160, 120, 3, 1.5);
        events_detector_utils::GaussianBlur real;
        GaussianFixed::GaussianBlurFixedGray fixed;
        ASSERT_TRUE(real.InitProc(size, size));
        ASSERT_TRUE(fixed.InitProc(size, size));
        const cv::Mat by_double = Blurred(real, image);
        EXPECT_LE(MaxDifference(by_double, OpenCvGaussian(image, size)), 2) << "size " << size;
        EXPECT_LE(MaxDifference(Blurred(fixed, image), by_double), 1) << "size " << size;
    }
}

TEST(GaussianBlurTest, RecursiveFiltersKeepConstantImagesOfAnyLineLengthAndSkipZeroDirections)
{
    // Lines longer than two thousand samples included.
    const struct {
        cv::Size image;
        int size;
    } cases[] = {{{70, 50}, 100}, {{70, 50}, 1600}, {{3000, 3}, 300}, {{3, 2500}, 300}};
    for (const int level : {0, 1, 100, 200, 255})
        for (const auto& c : cases) {
            const cv::Mat flat(c.image, CV_8UC1, cv::Scalar(level));
            events_detector_utils::GaussianBlur real;
            GaussianFixed::GaussianBlurFixedGray fixed;
            ASSERT_TRUE(real.InitProc(c.size, c.size));
            ASSERT_TRUE(fixed.InitProc(c.size, c.size));
            for (const cv::Mat& out : {Blurred(real, flat), Blurred(fixed, flat)}) {
                double low, high;
                cv::minMaxLoc(out, &low, &high);
                EXPECT_GE(low, level - 1) << level << " " << c.image << " " << c.size;
                EXPECT_LE(high, level) << level << " " << c.image << " " << c.size;
            }
        }
    // Size 0 horizontally: every column is filtered alone, so a vertical stripe pattern stays.
    cv::Mat stripes(40, 40, CV_8UC1);
    for (int x = 0; x < 40; ++x) stripes.col(x).setTo(x % 2 ? 200 : 20);
    GaussianFixed::GaussianBlurFixedGray fixed;
    fixed.InitProc(0, 400);
    EXPECT_LE(MaxDifference(Blurred(fixed, stripes), stripes), 1);
}

TEST(GaussianBlurTest, WindowMeansBlurSplitsTheRadiusOverItsPassesOnBothPaths)
{
    const struct {
        int passes, radius, first, later;
    } cases[] = {{3, 7, 3, 2}, {2, 7, 4, 3}, {1, 7, 7, 7}, {3, 2, 2, 0}, {3, 9, 3, 3}};
    // A width that is no multiple of the vector length.
    const cv::Mat image = RandomImage(77, 61, 5);
    for (const auto& c : cases) {
        GaussianFixed::GaussianBlurWith2DWindowMeans blur(c.passes);
        ASSERT_TRUE(blur.InitProc(c.radius, c.radius));
        EXPECT_EQ(blur.FirstRadius(), c.first);
        EXPECT_EQ(blur.LaterRadius(), c.later);
        cv::Mat expected = image.clone();
        for (int pass = 0; pass < c.passes; ++pass) {
            const int side = 2 * (pass == 0 ? c.first : c.later) + 1;
            if (side > 2)
                cv::blur(expected, expected, cv::Size(side, side), cv::Point(-1, -1), cv::BORDER_REPLICATE);
        }
        for (const AlgoLibrary::KernelPath path :
             {AlgoLibrary::KernelPath::kVector, AlgoLibrary::KernelPath::kScalar}) {
            const AlgoLibrary::ScopedKernelPath scoped(path);
            EXPECT_EQ(MaxDifference(Blurred(blur, image), expected), 0)
                << c.passes << " passes, radius " << c.radius << " " << AlgoLibrary::KernelPathName(path);
        }
    }
}

}  // namespace
