#include "StereoAnalyzer/StereoPeopleCounter/depth_map_interpolator.h"

#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <utility>
#include <vector>

#include "CommonUtilities/DebugInterfaces/recording_log.h"
#include "CommonUtilities/algorithm_support/kiv_exception.h"
#include "StereoAnalyzer/StereoPeopleCounter/circular_buffer.h"

namespace {

class DepthMapInterpolatorTest : public ::testing::Test {
protected:
    void SetUp() override { interpolator.SetDebugInterfaces(BlockEntities::DebugInterfaces(log, nullptr, nullptr)); }

    std::shared_ptr<RecordingLog> log = std::make_shared<RecordingLog>();
    stereo::DepthMapInterpolator interpolator;
};

TEST_F(DepthMapInterpolatorTest, FillsHolesRingByRing)
{
    struct Case {
        const char* what;
        cv::Mat_<short> in;
        cv::Rect roi;
        cv::Mat_<short> expected;
    };
    const cv::Rect all(0, 0, 100, 100);
    const Case cases[] = {
        {"three holes between 10 and 20", (cv::Mat_<short>(1, 5) << 10, -1, -1, -1, 20), all,
         (cv::Mat_<short>(1, 5) << 10, 10, 15, 20, 20)},
        {"a hole takes the rounded mean of its eight neighbours",
         (cv::Mat_<short>(3, 3) << 1, 2, 3, 4, -1, 6, 7, 8, 10), all,
         (cv::Mat_<short>(3, 3) << 1, 2, 3, 4, 5, 6, 7, 8, 10)},
        {"a hole at the region border averages only neighbours inside",
         (cv::Mat_<short>(2, 3) << 1, -1, 100, 3, 5, 100), cv::Rect(0, 0, 2, 2),
         (cv::Mat_<short>(2, 3) << 1, 3, 100, 3, 5, 100)},
        {"an empty region changes nothing", (cv::Mat_<short>(1, 3) << 4, -1, 6), cv::Rect(1, 0, 0, 1),
         (cv::Mat_<short>(1, 3) << 4, -1, 6)},
        {"no known pixel changes nothing", (cv::Mat_<short>(2, 2) << -3, -1, 0, -2), all,
         (cv::Mat_<short>(2, 2) << -3, -1, 0, -2)},
    };
    for (const Case& c : cases) {
        cv::Mat_<short> depth = c.in.clone();
        interpolator.Init(depth.size());
        interpolator.FillDepthImpl<short, false>(0, c.roi, interpolator.FullMask(), depth);
        EXPECT_EQ(cv::norm(depth, c.expected, cv::NORM_INF), 0.0) << c.what << "\n" << depth;
    }
    EXPECT_TRUE(log->lines.empty());
}

// The fill as the rings define it, step by step: seeds, then ring after ring, each hole the mean
// (rounded half away from zero, in double precision) of the pixels of the previous ring or the
// seeds that reached it.
template <typename T>
cv::Mat_<T> RingByRing(cv::Mat_<T> depth, T invalid_max, cv::Rect region, const cv::Mat_<uchar>& mask)
{
    region &= cv::Rect(0, 0, depth.cols, depth.rows);
    auto inside = [&](int x, int y) { return region.contains(cv::Point(x, y)) && (mask.empty() || mask(y, x)); };
    cv::Mat_<uchar> hole(depth.size(), uchar(0));
    for (int y = 0; y < depth.rows; ++y)
        for (int x = 0; x < depth.cols; ++x) hole(y, x) = inside(x, y) && depth(y, x) <= invalid_max;
    std::vector<cv::Point> ring;
    for (int y = region.y; y < region.br().y; ++y)
        for (int x = region.x; x < region.br().x; ++x) {
            bool touches = false;
            for (int dy = -1; dy <= 1; ++dy)
                for (int dx = -1; dx <= 1; ++dx) touches |= inside(x + dx, y + dy) && hole(y + dy, x + dx);
            if (inside(x, y) && !hole(y, x) && touches)
                ring.emplace_back(x, y);
        }
    while (!ring.empty()) {
        std::vector<cv::Point> next;
        std::map<std::pair<int, int>, std::pair<long long, int>> sums;  // (y, x) -> sum, count
        for (const cv::Point& p : ring)
            for (int dy = -1; dy <= 1; ++dy)
                for (int dx = -1; dx <= 1; ++dx) {
                    const cv::Point n(p.x + dx, p.y + dy);
                    if (!inside(n.x, n.y) || !hole(n))
                        continue;
                    auto& [sum, count] = sums[{n.y, n.x}];
                    if (count++ == 0)
                        next.push_back(n);
                    sum += depth(p);
                }
        for (const cv::Point& n : next) {
            const auto& [sum, count] = sums[{n.y, n.x}];
            const double mean = static_cast<double>(sum) / count;
            depth(n) = static_cast<T>(mean > 0 ? mean + 0.5 : mean - 0.5);
            hole(n) = 0;
        }
        ring = next;
    }
    return depth;
}

TEST_F(DepthMapInterpolatorTest, FillEqualsTheRingsOnRandomMaps)
{
    cv::RNG rng(20261209);
    for (int trial = 0; trial < 60; ++trial) {
        const cv::Size size(rng.uniform(1, 40), rng.uniform(1, 30));
        const cv::Rect region(rng.uniform(-3, size.width), rng.uniform(-3, size.height), rng.uniform(0, 45),
                              rng.uniform(0, 35));
        // Disparities of either sign with holes at or below -20, from scattered to mostly holes.
        cv::Mat_<short> disparity(size);
        rng.fill(disparity, cv::RNG::UNIFORM, -300, 300);
        cv::Mat_<short> holes(size);
        rng.fill(holes, cv::RNG::UNIFORM, 0, 100);
        disparity.setTo(-20, holes < rng.uniform(5, 95));
        SCOPED_TRACE(testing::Message() << "trial " << trial << " size " << size << " region " << region);
        cv::Mat_<short> filled = disparity.clone();
        interpolator.FillDepthImpl<short, false>(-20, region, interpolator.FullMask(), filled);
        EXPECT_EQ(cv::countNonZero(filled != RingByRing<short>(disparity, -20, region, cv::Mat_<uchar>())), 0);

        // Height maps (holes 0) filled inside a mask.
        cv::Mat_<uchar> heights(size), mask(size);
        rng.fill(heights, cv::RNG::UNIFORM, 0, 256);
        heights.setTo(0, holes < 50);
        rng.fill(mask, cv::RNG::UNIFORM, 0, 2);
        cv::Mat_<uchar> masked = heights.clone();
        interpolator.FillDepthInsideMask<uchar>(0, region, mask, masked);
        EXPECT_EQ(cv::countNonZero(masked != RingByRing<uchar>(heights, 0, region, mask)), 0);
    }
}

TEST_F(DepthMapInterpolatorTest, ReinitialisesForANewSizeWithAWarning)
{
    interpolator.Init(cv::Size(4, 4));
    cv::Mat_<short> depth = (cv::Mat_<short>(1, 3) << 4, 0, 8);
    interpolator.FillDepthImpl<short, false>(0, cv::Rect(0, 0, 3, 1), interpolator.FullMask(), depth);
    EXPECT_EQ(depth(0, 1), 6);
    ASSERT_EQ(log->lines.size(), 1u);
    EXPECT_EQ(log->lines[0].level, kKivLogWarning);
    EXPECT_EQ(log->lines[0].text, "DepthMapInterpolator::ReinitIfNeed reinitialising on fly, may be time consuming\n");
}

TEST_F(DepthMapInterpolatorTest, MaskedFillStaysInsideTheMask)
{
    cv::Mat_<uchar> depth = (cv::Mat_<uchar>(1, 6) << 10, 0, 0, 30, 0, 50);
    const cv::Mat_<uchar> mask = (cv::Mat_<uchar>(1, 6) << 255, 255, 255, 255, 0, 0);
    interpolator.Init(depth.size());
    interpolator.FillDepthInsideMask<uchar>(0, cv::Rect(0, 0, 6, 1), mask, depth);
    EXPECT_EQ(cv::norm(depth, cv::Mat_<uchar>((cv::Mat_<uchar>(1, 6) << 10, 10, 30, 30, 0, 50)), cv::NORM_INF), 0.0)
        << depth;
    cv::Mat_<uchar> unchanged = depth.clone();
    interpolator.FillDepthInsideMask<uchar>(0, cv::Rect(0, 0, 0, 0), mask, depth);
    EXPECT_EQ(cv::norm(depth, unchanged, cv::NORM_INF), 0.0);
    EXPECT_THROW(interpolator.FillDepthInsideMask<uchar>(0, cv::Rect(0, 0, 6, 1), cv::Mat_<uchar>(1, 5), depth),
                 exc::KIVException);
}

TEST(CircularBufferTest, KeepsOrderAcrossWrapAndGrowth)
{
    stereo::CircularBuffer<int> queue;
    queue.reserve(3);
    queue.push_back(1);
    queue.push_back(2);
    queue.pop_front();
    queue.push_back(3);
    queue.push_back(4);  // wraps to the start of the storage
    EXPECT_EQ(queue.capacity(), 3u);
    queue.push_back(5);  // full: grows to 2 * 3 + 1
    EXPECT_EQ(queue.capacity(), 7u);
    ASSERT_EQ(queue.size(), 4u);
    for (int i = 0; i < 4; ++i) EXPECT_EQ(queue[static_cast<std::size_t>(i)], i + 2);
    queue.clear();
    EXPECT_TRUE(queue.empty());
}

}  // namespace
