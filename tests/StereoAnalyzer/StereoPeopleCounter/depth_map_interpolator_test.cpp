#include "StereoAnalyzer/StereoPeopleCounter/depth_map_interpolator.h"

#include <gtest/gtest.h>

#include <memory>

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
