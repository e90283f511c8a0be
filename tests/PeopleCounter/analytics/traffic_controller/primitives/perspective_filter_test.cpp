#include "PeopleCounter/analytics/traffic_controller/src/primitives/perspective_filter.h"

#include <gtest/gtest.h>

#include <cmath>
#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>
#include <vector>

#include "tests/PeopleCounter/analytics/traffic_controller/primitives/test_images.h"

namespace {

using AlgoLibrary::FilterPerspective;
using AlgoLibrary::PerspectiveRegion;
using kiv::SPOINT;

struct Quad {
    SPOINT points[4];
};

// Source corners of a 160 x 120 image and destinations as the traffic controller builds them.
const Quad kCorners{{{0, 0}, {159, 0}, {159, 119}, {0, 119}}};
const Quad kDestinations[] = {
    {{{0, 0}, {159, 0}, {159, 119}, {0, 119}}},          // identity
    {{{40, 0}, {119, 0}, {159, 119}, {0, 119}}},         // narrower at the top
    {{{20, 10}, {139, 10}, {139, 109}, {20, 109}}},      // zoomed out
    {{{-30, -20}, {189, -20}, {189, 139}, {-30, 139}}},  // zoomed in
    {{{60, 5}, {100, 5}, {150, 115}, {10, 115}}},        // strong trapezoid
};

cv::Mat OpenCvTransform(const Quad& from, const Quad& to)
{
    std::vector<cv::Point2f> a, b;
    for (int i = 0; i < 4; ++i) {
        a.emplace_back(static_cast<float>(from.points[i].x), static_cast<float>(from.points[i].y));
        b.emplace_back(static_cast<float>(to.points[i].x), static_cast<float>(to.points[i].y));
    }
    return cv::getPerspectiveTransform(a, b);
}

TEST(FilterPerspectiveTest, TransformAndTableFollowOpenCvPerspectiveTransform)
{
    for (const Quad& to : kDestinations) {
        FilterPerspective filter;
        const cv::Mat m = OpenCvTransform(kCorners, to);
        float h[8];
        ASSERT_TRUE(filter.CalcTrans(kCorners.points, to.points, h));
        for (int i = 0; i < 8; ++i) {
            const double e = m.at<double>(i / 3, i % 3);
            EXPECT_NEAR(h[i], e, 1e-4 * std::max(1.0, std::fabs(e))) << "coefficient " << i;
        }
        // The table holds the nearest input pixel.
        PerspectiveRegion region(AlgoLibrary::MemManager::MemoryManager{});
        ASSERT_TRUE(filter.InitTableAndDestinationRegion(kCorners.points, to.points, 160, 120, 1, 160, true, region));
        ASSERT_TRUE(filter.IsForwardValid());
        const std::vector<int>& table = filter.ForwardTable();
        ASSERT_EQ(table.size(), 160u * 120u);
        int exact = 0;
        int valid = 0;
        for (int y = 0; y < 120; ++y) {
            int first = INT_MAX, last = -1;
            for (int x = 0; x < 160; ++x) {
                const double d = m.at<double>(2, 0) * x + m.at<double>(2, 1) * y + m.at<double>(2, 2);
                const double u = (m.at<double>(0, 0) * x + m.at<double>(0, 1) * y + m.at<double>(0, 2)) / d;
                const double v = (m.at<double>(1, 0) * x + m.at<double>(1, 1) * y + m.at<double>(1, 2)) / d;
                const int entry = table[y * 160 + x];
                const bool inside = u >= 1 && u < 159 && v >= 1 && v < 119;
                const bool near_edge = std::fabs(u - 1) < 1e-3 || std::fabs(u - 159) < 1e-3 ||
                                       std::fabs(v - 1) < 1e-3 || std::fabs(v - 119) < 1e-3;
                if (!near_edge) {
                    ASSERT_EQ(entry >= 0, inside) << "(" << x << ", " << y << ")";
                }
                if (entry < 0)
                    continue;
                first = std::min(first, x);
                last = std::max(last, x);
                ++valid;
                const int ex = entry % 160;
                const int ey = entry / 160;
                EXPECT_LE(std::fabs(ex - u), 0.5 + 1e-3) << "(" << x << ", " << y << ")";
                EXPECT_LE(std::fabs(ey - v), 0.5 + 1e-3) << "(" << x << ", " << y << ")";
                exact += (ex == std::lround(u) && ey == std::lround(v));
            }
            EXPECT_EQ(region.row_span(y).first, first) << "row " << y;
            EXPECT_EQ(region.row_span(y).second, last) << "row " << y;
        }
        EXPECT_GE(exact, valid * 99 / 100);
        EXPECT_EQ(filter.InverseTable().size(), 160u * 120u);
    }
}

TEST(FilterPerspectiveTest, IdenticalPointSetsGiveTheIdentityWithoutTheOuterRing)
{
    FilterPerspective filter;
    PerspectiveRegion region(AlgoLibrary::MemManager::MemoryManager{});
    filter.InitTableAndDestinationRegion(kCorners.points, kCorners.points, 160, 120, 1, 160, false, region);
    EXPECT_TRUE(filter.IsIdentity());
    const float identity[8] = {1, 0, 0, 0, 1, 0, 0, 0};
    for (int i = 0; i < 8; ++i) EXPECT_NEAR(filter.Forward()[i], identity[i], 1e-5) << i;
    for (int y = 0; y < 120; ++y)
        for (int x = 0; x < 160; ++x) {
            const bool interior = x >= 1 && x < 159 && y >= 1 && y < 119;
            ASSERT_EQ(filter.ForwardTable()[y * 160 + x], interior ? y * 160 + x : -1) << x << ", " << y;
        }
    EXPECT_EQ(region.first_row(), 1);
    EXPECT_EQ(region.last_row(), 118);
    EXPECT_EQ(region.first_col(), 1);
    EXPECT_EQ(region.last_col(), 158);
    EXPECT_EQ(region.row_span(0).second, -1);
    EXPECT_EQ(region.col_span(80), std::make_pair(1, 118));
    EXPECT_TRUE(filter.InverseTable().empty());  // not asked for
}

TEST(FilterPerspectiveTest, SingularPointSetsLeaveTheDestinationUntouched)
{
    const Quad collapsed{{{5, 5}, {5, 5}, {5, 5}, {5, 5}}};
    FilterPerspective filter;
    PerspectiveRegion region(AlgoLibrary::MemManager::MemoryManager{});
    EXPECT_TRUE(
        filter.InitTableAndDestinationRegion(kCorners.points, collapsed.points, 160, 120, 1, 160, true, region));
    EXPECT_FALSE(filter.IsForwardValid());
    EXPECT_TRUE(filter.ForwardTable().empty());
    const cv::Mat src = RandomImage(160, 120, 41);
    cv::Mat dst(120, 160, CV_8UC1, cv::Scalar(9));
    EXPECT_FALSE(filter.Process(src.data, dst.data, 160, 120, 1, 160, 160, 120, 160));
    EXPECT_EQ(cv::countNonZero(dst != 9), 0);
}

TEST(FilterPerspectiveTest, TransformsWithAVanishingLineInsideTheImageStayInside)
{
    // Destination points in crossed order: the denominator passes through 0 inside the image, so
    // some positions are infinite or not a number.
    const Quad crossed{{{0, 0}, {159, 0}, {0, 119}, {159, 119}}};
    FilterPerspective filter;
    PerspectiveRegion region(AlgoLibrary::MemManager::MemoryManager{});
    filter.InitTableAndDestinationRegion(kCorners.points, crossed.points, 160, 120, 1, 160, true, region);
    for (const std::vector<int>* table : {&filter.ForwardTable(), &filter.InverseTable()})
        for (const int entry : *table) ASSERT_TRUE(entry == -1 || (entry >= 0 && entry < 160 * 120)) << entry;
    const cv::Mat src = RandomImage(160, 120, 43);
    cv::Mat dst(120, 160, CV_8UC1, cv::Scalar(0));
    filter.Process(src.data, dst.data, 160, 120, 1, 160, 160, 120, 160);
}

TEST(FilterPerspectiveTest, ResamplingFollowsOpenCvWarp)
{
    const cv::Mat src = RandomImage(160, 120, 47, 2.0);
    for (const Quad& to : kDestinations) {
        FilterPerspective filter;
        ASSERT_TRUE(filter.Init(kCorners.points, to.points));
        cv::Mat dst(120, 160, CV_8UC1, cv::Scalar(0));
        ASSERT_TRUE(filter.Process(src.data, dst.data, 160, 120, 1, 160, 160, 120, 160));
        cv::Mat expected;
        cv::warpPerspective(src, expected, OpenCvTransform(kCorners, to), src.size(),
                            cv::INTER_LINEAR | cv::WARP_INVERSE_MAP, cv::BORDER_CONSTANT, cv::Scalar(0));
        // Bilinear weights in float with truncation against OpenCV's rounded fixed-point weights.
        cv::Mat difference;
        cv::absdiff(dst, expected, difference);
        cv::Mat written = dst != 0;
        EXPECT_LE(cv::norm(difference, cv::NORM_INF, written), 2);
    }
}

TEST(FilterPerspectiveTest, GaussSolveMatchesOpenCvSolve)
{
    cv::RNG rng(53);
    for (const int n : {1, 3, 8}) {
        cv::Mat a(n, n, CV_32F), b(n, 1, CV_32F);
        rng.fill(a, cv::RNG::UNIFORM, -10, 10);
        rng.fill(b, cv::RNG::UNIFORM, -10, 10);
        cv::Mat expected;
        ASSERT_TRUE(cv::solve(a, b, expected, cv::DECOMP_LU));
        std::vector<float> x(n), work;
        ASSERT_TRUE(AlgoLibrary::GaussSolve(a.ptr<float>(), n, x.data(), b.ptr<float>(), work));
        EXPECT_EQ(work.size(), static_cast<std::size_t>(2 * n * n));
        for (int i = 0; i < n; ++i) EXPECT_NEAR(x[i], expected.at<float>(i), 1e-3) << "n " << n << " x" << i;
    }
    const float singular[4] = {1, 2, 2, 4};
    const float rhs[2] = {1, 1};
    float x[2];
    std::vector<float> work;
    EXPECT_FALSE(AlgoLibrary::GaussSolve(singular, 2, x, rhs, work));
}

}  // namespace
