#include "PeopleCounter/analytics/traffic_controller/src/primitives/window_means.h"

#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <cstdint>
#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>
#include <vector>

#include "CommonUtilities/algorithm_support/kernel_path.h"
#include "PeopleCounter/analytics/traffic_controller/src/primitives/fast_uint_divider.h"
#include "PeopleCounter/analytics/traffic_controller/src/primitives/fixed_point.h"
#include "tests/PeopleCounter/analytics/traffic_controller/primitives/test_images.h"

namespace {

using AlgoLibrary::CalcWindowMeans;
using AlgoLibrary::FastUintDividerSmoothingPixelFunction;

bool Means(const cv::Mat& src, cv::Mat& dst, int window, std::vector<char>& scratch)
{
    return CalcWindowMeans(src.data, dst.data, FastUintDividerSmoothingPixelFunction(), src.cols, src.rows, window,
                           scratch);
}

TEST(FastUintDividerTest, DividesLikePlainDivision)
{
    const uint32_t divisors[] = {1u,         2u, 3u, 7u, 9u, 25u, 49u, 4096u, 4225u, 65535u, 1u << 31, (1u << 31) + 1u,
                                 0xFFFFFFFFu};
    const uint32_t numerators[] = {0u,       1u,          2u,          8u,          9u,         255u,
                                   1u << 20, 0x7FFFFFFFu, 0x80000000u, 0xFFFFFFFEu, 0xFFFFFFFFu};
    cv::RNG rng(17);
    for (const uint32_t d : divisors) {
        FastUintDivider<32> divider;
        ASSERT_TRUE(divider.InitDivider(d));
        for (const uint32_t x : numerators) EXPECT_EQ(divider.Divide(x), x / d) << x << " / " << d;
        for (int i = 0; i < 2000; ++i) {
            const uint32_t x = rng.next();
            EXPECT_EQ(divider.Divide(x), x / d) << x << " / " << d;
        }
    }
    FastUintDivider<32> divider;
    ASSERT_TRUE(divider.InitDivider(5));
    EXPECT_FALSE(divider.InitDivider(0));
    EXPECT_EQ(divider.Divide(26), 5u);  // the refused divisor left the divider as it was
}

TEST(FixedTest, ConvertsByTruncationAndMultipliesTowardMinusInfinity)
{
    using Fixed = numeric::Fixed<8u, 24u>;
    const struct {
        double value;
        int32_t raw;
    } conversions[] = {{1.0, 1 << 24},
                       {-1.0, -(1 << 24)},
                       {1.0 + 1.5 / 16777216.0, (1 << 24) + 1},
                       {-(1.5 / 16777216.0), -1},
                       {1000.0, INT32_MAX},
                       {-1000.0, INT32_MIN},
                       {std::nan(""), 0}};
    for (const auto& c : conversions) EXPECT_EQ(Fixed::FromDouble(c.value).Raw(), c.raw) << c.value;
    EXPECT_EQ((Fixed::FromDouble(1.5) * Fixed::FromDouble(-2.0)).ToDouble(), -3.0);
    EXPECT_EQ(Fixed::MulRaw(-1, 1), -1);  // -2^-48 rounds down to -2^-24
    EXPECT_EQ(Fixed::MulRaw(1, 1), 0);
    EXPECT_EQ(Fixed::MulRaw(int64_t{255} << 24, Fixed::FromDouble(0.5).Raw()), int64_t{255} << 23);
}

TEST(WindowMeansTest, OddWindowsEqualOpenCvBlurWithReplicatedEdges)
{
    const cv::Size sizes[] = {{160, 120}, {67, 45}, {300, 70}};
    for (const cv::Size size : sizes)
        for (const int window : {3, 5, 7, 15, 25, 49, 63})
            for (const AlgoLibrary::KernelPath path :
                 {AlgoLibrary::KernelPath::kVector, AlgoLibrary::KernelPath::kScalar})
                for (const bool in_place : {true, false}) {
                    if (window >= size.height)
                        continue;
                    const AlgoLibrary::ScopedKernelPath scoped(path);
                    const cv::Mat image = RandomImage(size.width, size.height, 23);
                    cv::Mat expected;
                    cv::blur(image, expected, cv::Size(window, window), cv::Point(-1, -1), cv::BORDER_REPLICATE);
                    cv::Mat out = in_place ? image.clone() : cv::Mat(image.size(), CV_8UC1, cv::Scalar(0));
                    std::vector<char> scratch;
                    ASSERT_TRUE(Means(in_place ? out : image, out, window, scratch));
                    EXPECT_EQ(MaxDifference(out, expected), 0)
                        << size << " window " << window << " " << AlgoLibrary::KernelPathName(path) << " in place "
                        << in_place;
                }
}

TEST(WindowMeansTest, ConstantImagesStayExactlyConstant)
{
    for (const int level : {0, 1, 127, 254, 255})
        for (const int window : {3, 8, 64}) {
            const cv::Mat flat(90, 100, CV_8UC1, cv::Scalar(level));
            cv::Mat out = flat.clone();
            std::vector<char> scratch;
            ASSERT_TRUE(Means(out, out, window, scratch));
            EXPECT_EQ(MaxDifference(out, flat), 0) << level << " window " << window;
        }
}

TEST(WindowMeansTest, SizesOutsideTheDomainLeaveTheImageUntouched)
{
    const struct {
        int width, height, window;
        bool works;
    } cases[] = {{3, 10, 3, false}, {10, 3, 3, false},  {10, 10, 2, false},  {10, 10, 1, false},
                 {4, 4, 3, true},   {80, 80, 64, true}, {65, 65, 101, true}, {64, 100, 101, false}};
    for (const auto& c : cases) {
        const cv::Mat image = RandomImage(c.width, c.height, 29);
        cv::Mat out = image.clone();
        std::vector<char> scratch;
        EXPECT_EQ(Means(out, out, c.window, scratch), c.works) << c.width << "x" << c.height << " window " << c.window;
        if (!c.works) {
            EXPECT_EQ(MaxDifference(out, image), 0);
        }
    }
    // A window above 64 is cut to 64.
    const cv::Mat image = RandomImage(130, 100, 31);
    cv::Mat cut = image.clone();
    cv::Mat largest = image.clone();
    std::vector<char> scratch;
    ASSERT_TRUE(Means(cut, cut, 101, scratch));
    ASSERT_TRUE(Means(largest, largest, 64, scratch));
    EXPECT_EQ(MaxDifference(cut, largest), 0);
    std::vector<char> unused;
    const unsigned char* missing = nullptr;
    EXPECT_FALSE(CalcWindowMeans(missing, cut.data, FastUintDividerSmoothingPixelFunction(), 130, 100, 5, unused));
}

TEST(WindowMeansTest, SmoothnessFilterTakesTruncatedThreeByThreeMeansInsideItsRows)
{
    const struct {
        int first, end, expected_first, expected_end;
    } cases[] = {{1, -1, 1, 39}, {0, 100, 1, 39}, {5, 12, 5, 12}, {39, 39, 39, 39}};
    const cv::Mat image = RandomImage(53, 40, 37);
    for (const auto& c : cases)
        for (const AlgoLibrary::KernelPath path :
             {AlgoLibrary::KernelPath::kVector, AlgoLibrary::KernelPath::kScalar}) {
            const AlgoLibrary::ScopedKernelPath scoped(path);
            const auto src = ToVector<avector<unsigned char>>(image);
            avector<unsigned char> dst(src.size(), 7);
            AlgoLibrary::filter_smoothness(src, dst, 53, 40, c.first, c.end);
            for (int y = 0; y < 40; ++y)
                for (int x = 0; x < 53; ++x) {
                    int expected = 7;
                    if (y >= c.expected_first && y < c.expected_end && x >= 1 && x <= 51) {
                        int sum = 0;
                        for (int dy = -1; dy <= 1; ++dy)
                            for (int dx = -1; dx <= 1; ++dx) sum += image.at<uchar>(y + dy, x + dx);
                        expected = sum / 9;
                    }
                    ASSERT_EQ(dst[y * 53 + x], expected) << "(" << x << ", " << y << ") rows " << c.first << ".."
                                                         << c.end << " " << AlgoLibrary::KernelPathName(path);
                }
        }
}

}  // namespace
