#include <gtest/gtest.h>

#include <algorithm>
#include <opencv2/imgproc.hpp>
#include <vector>

#include "CommonUtilities/algorithm_support/kernel_path.h"
#include "CommonUtilities/algorithm_support/kiv_exception.h"
#include "StereoAnalyzer/StereoPeopleCounter/median_filters_collection.h"
#include "StereoAnalyzer/StereoPeopleCounter/median_filters_opencv.h"

namespace {

using AlgoLibrary::KernelPath;

// The sample of rank count / 2 over the clipped windows of all inputs; with fill a 0 keeps the first
// input's own value.
cv::Mat_<uchar> BruteForceMedian(const std::vector<cv::Mat_<uchar>>& inputs, int r, bool fill)
{
    const cv::Mat_<uchar>& a = inputs[0];
    cv::Mat_<uchar> out(a.size());
    std::vector<uchar> samples;
    for (int y = 0; y < a.rows; ++y)
        for (int x = 0; x < a.cols; ++x) {
            samples.clear();
            for (const cv::Mat_<uchar>& in : inputs)
                for (int yy = std::max(y - r, 0); yy <= std::min(y + r, a.rows - 1); ++yy)
                    for (int xx = std::max(x - r, 0); xx <= std::min(x + r, a.cols - 1); ++xx)
                        samples.push_back(in(yy, xx));
            std::nth_element(samples.begin(), samples.begin() + samples.size() / 2, samples.end());
            const uchar m = samples[samples.size() / 2];
            out(y, x) = fill && m == 0 ? a(y, x) : m;
        }
    return out;
}

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

TEST(HistMedFilterTest, MatchesBruteForceMedianOfClippedWindows)
{
    struct Case {
        cv::Size size;
        int radius;
    };
    const Case cases[] = {{{17, 13}, 1}, {{40, 30}, 3}, {{33, 21}, 9}, {{5, 40}, 6}, {{1, 1}, 2}};
    for (const Case& c : cases) {
        const cv::Mat_<uchar> a = SparseHeights(c.size, c.radius);
        const cv::Mat_<uchar> b = SparseHeights(c.size, c.radius + 100);
        for (const KernelPath path : {KernelPath::kVector, KernelPath::kScalar}) {
            SCOPED_TRACE(testing::Message() << c.size << " " << AlgoLibrary::KernelPathName(path));
            const AlgoLibrary::ScopedKernelPath scoped(path);
            cv::Mat_<uchar> dst(c.size);
            stereo::DoubleMedianFilter(a, b, c.radius, dst);
            EXPECT_EQ(cv::norm(dst, BruteForceMedian({a, b}, c.radius, false), cv::NORM_INF), 0.0);
            stereo::DoubleMedianFilterFill(a, b, c.radius, dst);
            EXPECT_EQ(cv::norm(dst, BruteForceMedian({a, b}, c.radius, true), cv::NORM_INF), 0.0);
            stereo::MedianFilterFill(a, c.radius, dst);
            EXPECT_EQ(cv::norm(dst, BruteForceMedian({a}, c.radius, true), cv::NORM_INF), 0.0);
        }
    }
}

TEST(HistMedFilterTest, FillKeepsIsolatedHeightsAndClosesSmallHoles)
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

TEST(HistMedFilterTest, RefusesZeroRadiusMismatchedSizesAndInPlaceOutput)
{
    cv::Mat_<uchar> a(8, 8, uchar(1)), dst(8, 8);
    EXPECT_THROW(stereo::DoubleMedianFilter(a, a, 0, dst), exc::KIVException);
    EXPECT_THROW(stereo::MedianFilterFill(a, 0, dst), exc::KIVException);
    cv::Mat_<uchar> small(8, 7);
    EXPECT_THROW(stereo::DoubleMedianFilter(a, small, 1, dst), exc::KIVException);
    EXPECT_THROW(stereo::MedianFilterFill(a, 1, a), exc::KIVException);
}

TEST(MedianFilterOpenCVTest, BothAlgorithmsEqualOpenCVMedianBlur)
{
    // Bit-equal to cv::medianBlur (replicated borders) for every size and radius below.
    struct Case {
        cv::Size size;
        int radius;
    };
    const Case cases[] = {{{64, 48}, 1}, {{64, 48}, 2}, {{111, 83}, 5}, {{111, 83}, 16}, {{20, 70}, 12}, {{3, 3}, 4}};
    for (const Case& c : cases) {
        const cv::Mat_<uchar> src = SparseHeights(c.size, c.radius * 7);
        cv::Mat expected;
        const int k = 2 * c.radius + 1;
        if (c.size.width > c.radius && c.size.height > c.radius) {
            cv::medianBlur(src, expected, k);
        } else {
            cv::Mat big;
            cv::copyMakeBorder(src, big, k, k, k, k, cv::BORDER_REPLICATE);
            cv::medianBlur(big, expected, k);
            expected = expected(cv::Rect(k, k, c.size.width, c.size.height)).clone();
        }
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
    const cv::Mat_<uchar> src = SparseHeights(cv::Size(10, 10), 1);
    cv::Mat bordered, dst;
    stereo::MedianFilterOpenCV(src, 0, true, bordered, dst);
    EXPECT_EQ(cv::norm(dst, src, cv::NORM_INF), 0.0);
    EXPECT_THROW(stereo::MedianFilterOpenCV(cv::Mat(10, 10, CV_16UC1, cv::Scalar(0)), 2, true, bordered, dst),
                 cv::Exception);
}

}  // namespace
