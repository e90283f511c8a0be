#include <gtest/gtest.h>

#include <cstdint>
#include <opencv2/imgproc.hpp>
#include <utility>
#include <vector>

#include "CommonUtilities/algorithm_support/kernel_path.h"
#include "CommonUtilities/algorithm_support/kiv_exception.h"
#include "StereoAnalyzer/StereoPeopleCounter/median_filters_collection.h"
#include "StereoAnalyzer/StereoPeopleCounter/median_filters_opencv.h"
#include "StereoAnalyzer/StereoPeopleCounter/median_networks.h"
#include "support/brute_force_median.h"

namespace {

using AlgoLibrary::KernelPath;
using testing_support::BruteForceMedian;
using testing_support::BruteForceMedianAt;

cv::Mat_<uchar> SparseHeights(cv::Size size, int seed)
{
    cv::RNG rng(seed);
    cv::Mat_<uchar> m(size);
    rng.fill(m, cv::RNG::UNIFORM, 0, 256);
    cv::Mat_<uchar> holes(size);
    rng.fill(holes, cv::RNG::UNIFORM, 0, 3);
    m.setTo(0, holes == 0);  // a third of the pixels without height
    return m;
}

// 64 inputs of 0s and 1s at once, one per bit: the smaller is the AND, the larger the OR.
struct BitOps {
    static uint64_t Min(uint64_t a, uint64_t b) { return a & b; }
    static uint64_t Max(uint64_t a, uint64_t b) { return a | b; }
};

// Every input of 0s and 1s whose columns are sorted (by the 0-1 principle, then every input of sorted
// columns) leaves the value of the rank asked for where the network says.
template <int kHeight, int kColumns>
void ExpectSelectsMedianOfSortedColumns()
{
    using Of = stereo::median_detail::SelectionNetworkOf<kHeight, kColumns, kHeight * kColumns / 2>;
    std::vector<int> zeros(kColumns, 0);  // 0s at the top of each column
    for (bool done = false; !done;) {
        uint64_t v[kHeight * kColumns] = {};
        uint64_t expected = 0;
        for (int bit = 0; bit < 64 && !done; ++bit) {
            int total = 0;
            for (int j = 0; j < kColumns; ++j) {
                for (int i = zeros[j]; i < kHeight; ++i) v[j * kHeight + i] |= uint64_t{1} << bit;
                total += zeros[j];
            }
            if (total <= kHeight * kColumns / 2)
                expected |= uint64_t{1} << bit;
            int j = 0;
            while (j < kColumns && ++zeros[j] > kHeight) zeros[j++] = 0;
            done = j == kColumns;
        }
        stereo::median_detail::RunNetwork<Of, BitOps>(v);
        ASSERT_EQ(v[Of::kNetwork.order[0]], expected) << kHeight << " x " << kColumns;
    }
}

TEST(MedianNetworksTest, SortingNetworksSortAndSelectionNetworksFindTheMedianOfSortedColumns)
{
    for (int n : {3, 5, 6, 7, 10, 14}) {
        const stereo::median_detail::Network sort = stereo::median_detail::SortingNetwork(n);
        for (uint64_t bits = 0; bits < (uint64_t{1} << n); ++bits) {
            uint64_t v[14];
            int ones = 0;
            for (int i = 0; i < n; ++i) ones += static_cast<int>(v[i] = (bits >> i) & 1);
            for (int s = 0; s < sort.size; ++s) {
                const uint64_t low = v[sort.steps[s].low], high = v[sort.steps[s].high];
                v[sort.steps[s].low] = low & high;
                v[sort.steps[s].high] = low | high;
            }
            for (int k = 0; k < n; ++k) ASSERT_EQ(v[sort.order[k]], k >= n - ones ? 1u : 0u) << n << " " << bits;
        }
    }
    // The windows of radius 1 to 3, one picture and two (the last too large to try every input).
    ExpectSelectsMedianOfSortedColumns<3, 3>();
    ExpectSelectsMedianOfSortedColumns<6, 3>();
    ExpectSelectsMedianOfSortedColumns<5, 5>();
    ExpectSelectsMedianOfSortedColumns<10, 5>();
    ExpectSelectsMedianOfSortedColumns<7, 7>();
}

TEST(HeightMapMedianTest, AllThreeMatchTheMedianOfEachClippedWindowOnBothKernelPaths)
{
    // Radii 1 to 3 (networks over sorted columns; pictures narrower than a vector, narrower or lower
    // than a window), larger radii (column histograms, the last one's columns with more than 255
    // samples), a radius beyond the picture.
    struct Case {
        cv::Size size;
        int radius;
    };
    const Case cases[] = {{{17, 13}, 1}, {{40, 30}, 2}, {{33, 21}, 3}, {{15, 4}, 3},  {{3, 40}, 2},   {{1, 1}, 2},
                          {{40, 30}, 4}, {{33, 21}, 9}, {{5, 40}, 6},  {{20, 9}, 30}, {{24, 140}, 64}};
    for (const Case& c : cases) {
        const cv::Mat_<uchar> a = SparseHeights(c.size, c.radius);
        const cv::Mat_<uchar> b = SparseHeights(c.size, c.radius + 100);
        const cv::Mat_<uchar> both = BruteForceMedian({a, b}, c.radius, false);
        const cv::Mat_<uchar> bothFilled = BruteForceMedian({a, b}, c.radius, true);
        const cv::Mat_<uchar> oneFilled = BruteForceMedian({a}, c.radius, true);
        for (const KernelPath path : {KernelPath::kVector, KernelPath::kScalar}) {
            SCOPED_TRACE(testing::Message() << c.size << " r " << c.radius << " " << AlgoLibrary::KernelPathName(path));
            const AlgoLibrary::ScopedKernelPath scoped(path);
            cv::Mat_<uchar> dst(c.size);
            stereo::DoubleMedianFilter(a, b, c.radius, dst);
            EXPECT_EQ(cv::norm(dst, both, cv::NORM_INF), 0.0);
            stereo::DoubleMedianFilterFill(a, b, c.radius, dst);
            EXPECT_EQ(cv::norm(dst, bothFilled, cv::NORM_INF), 0.0);
            stereo::MedianFilterFill(a, c.radius, dst);
            EXPECT_EQ(cv::norm(dst, oneFilled, cv::NORM_INF), 0.0);
        }
    }
}

TEST(HeightMapMedianTest, WindowsOfMoreThan65535SamplesMatchTheMedianOfEachWindow)
{
    // 260 x 260 at radius 130: up to 67600 samples of one picture, 2 x 184 x 184 of two at radius 92.
    // The median of every window would take long; a sample of pixels, the corners among them, shows a
    // walk that went wrong anywhere on the way.
    for (const int side : {260, 184}) {
        const bool two = side == 184;
        const cv::Mat_<uchar> a = SparseHeights({side, side}, 1), b = SparseHeights({side, side}, 2);
        const int r = side / 2;
        cv::Mat_<uchar> dst(a.size());
        if (two)
            stereo::DoubleMedianFilterFill(a, b, r, dst);
        else
            stereo::MedianFilterFill(a, r, dst);
        const std::vector<cv::Mat_<uchar>> inputs = two ? std::vector<cv::Mat_<uchar>>{a, b} : std::vector{a};
        cv::RNG rng(side);
        std::vector<cv::Point> points = {{0, 0}, {side - 1, 0}, {0, side - 1}, {side - 1, side - 1}};
        for (int i = 0; i < 60; ++i) points.emplace_back(rng.uniform(0, side), rng.uniform(0, side));
        for (const cv::Point& p : points)
            ASSERT_EQ(dst(p), BruteForceMedianAt(inputs, r, true, p.y, p.x)) << side << " at " << p;
    }
}

TEST(HeightMapMedianTest, FillKeepsIsolatedHeightsAndClosesSmallHoles)
{
    cv::Mat_<uchar> lone(9, 9, uchar(0)), dst(9, 9);
    lone(4, 4) = 200;
    stereo::MedianFilterFill(lone, 2, dst);
    EXPECT_EQ(dst(4, 4), 200);
    stereo::DoubleMedianFilter(lone, lone, 2, dst);
    EXPECT_EQ(dst(4, 4), 0);

    cv::Mat_<uchar> region(9, 9, uchar(100));
    region(4, 4) = 0;
    region(4, 5) = 0;
    stereo::MedianFilterFill(region, 2, dst);
    EXPECT_EQ(cv::countNonZero(dst != 100), 0);
}

TEST(HeightMapMedianTest, RefusesZeroRadiusMismatchedSizesAndInPlaceOutput)
{
    cv::Mat_<uchar> a(8, 8, uchar(1)), dst(8, 8);
    EXPECT_THROW(stereo::DoubleMedianFilter(a, a, 0, dst), exc::KIVException);
    EXPECT_THROW(stereo::MedianFilterFill(a, 0, dst), exc::KIVException);
    cv::Mat_<uchar> small(8, 7);
    EXPECT_THROW(stereo::DoubleMedianFilter(a, small, 1, dst), exc::KIVException);
    EXPECT_THROW(stereo::MedianFilterFill(a, 1, a), exc::KIVException);
}

TEST(MedianFilterOpenCVTest, EqualsOpenCVMedianBlurOnBothKernelPaths)
{
    // Bit-equal to cv::medianBlur (replicated borders) for every size and radius below: networks
    // (radius 1 to 3, pictures narrower than a vector and than a window) and column histograms.
    struct Case {
        cv::Size size;
        int radius;
    };
    const Case cases[] = {{{64, 48}, 1},  {{64, 48}, 2},   {{37, 29}, 3},  {{9, 30}, 3},
                          {{111, 83}, 5}, {{111, 83}, 16}, {{20, 70}, 12}, {{3, 3}, 4}};
    for (const Case& c : cases) {
        const cv::Mat_<uchar> src = SparseHeights(c.size, c.radius * 7);
        cv::Mat expected;
        const int k = 2 * c.radius + 1;
        cv::Mat big;
        cv::copyMakeBorder(src, big, k, k, k, k, cv::BORDER_REPLICATE);
        cv::medianBlur(big, expected, k);
        expected = expected(cv::Rect(k, k, c.size.width, c.size.height)).clone();
        for (bool use_om : {true, false}) {
            for (const KernelPath path : {KernelPath::kVector, KernelPath::kScalar}) {
                const AlgoLibrary::ScopedKernelPath scoped(path);
                cv::Mat bordered, dst;
                stereo::MedianFilterOpenCV(src, c.radius, use_om, bordered, dst);
                EXPECT_EQ(cv::norm(dst, expected, cv::NORM_INF), 0.0)
                    << c.size << " r " << c.radius << " om " << use_om << " " << AlgoLibrary::KernelPathName(path);
            }
        }
    }
    // A window of 257 x 257 samples, beyond cv::medianBlur: the median of the window of the picture
    // with its edges repeated, at every fourth pixel.
    const cv::Mat_<uchar> small = SparseHeights(cv::Size(24, 20), 5);
    cv::Mat_<uchar> padded;
    cv::copyMakeBorder(small, padded, 128, 128, 128, 128, cv::BORDER_REPLICATE);
    cv::Mat bordered, blurred;
    stereo::MedianFilterOpenCV(small, 128, true, bordered, blurred);
    for (int y = 0; y < small.rows; y += 2)
        for (int x = y % 4 / 2; x < small.cols; x += 2)
            ASSERT_EQ(blurred.at<uchar>(y, x), BruteForceMedianAt({padded}, 128, false, y + 128, x + 128))
                << y << " " << x;
    // In place, a radius of 0 (a copy), and a picture of another type.
    cv::Mat in = SparseHeights(cv::Size(30, 20), 3), expected;
    cv::medianBlur(in, expected, 5);
    stereo::MedianFilterOpenCV(in, 2, true, bordered, in);
    EXPECT_EQ(cv::norm(in, expected, cv::NORM_INF), 0.0);
    const cv::Mat_<uchar> src = SparseHeights(cv::Size(10, 10), 1);
    cv::Mat dst;
    stereo::MedianFilterOpenCV(src, 0, true, bordered, dst);
    EXPECT_EQ(cv::norm(dst, src, cv::NORM_INF), 0.0);
    EXPECT_THROW(stereo::MedianFilterOpenCV(cv::Mat(10, 10, CV_16UC1, cv::Scalar(0)), 2, true, bordered, dst),
                 cv::Exception);
}

}  // namespace
