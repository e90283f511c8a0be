#include "PeopleCounter/analytics/traffic_controller/src/primitives/background_subtractor.h"

#include <gtest/gtest.h>

#include <limits>
#include <opencv2/core.hpp>
#include <vector>

#include "PeopleCounter/analytics/traffic_controller/src/primitives/perspective_filter.h"
#include "tests/PeopleCounter/analytics/traffic_controller/primitives/test_images.h"

namespace {

TEST(CSimpleBackgroundSubtractorTest, InitTakesTheFrameAsBackground)
{
    const cv::Mat frame = RandomImage(31, 17, 59);
    CSimpleBackgroundSubtractor model;
    ASSERT_TRUE(model.Init(frame.data, 0.005, 31, 17, 1, 31, true, 2));
    for (int y = 0; y < 17; ++y)
        for (int x = 0; x < 31; ++x) ASSERT_EQ(model.Level(x, y), frame.at<uchar>(y, x));
    EXPECT_FALSE(model.Init(nullptr, 0.5, 31, 17, 1, 31, true, 2));
    EXPECT_FALSE(model.Init(frame.data, 0.5, 31, 17, 1, 30, true, 2));  // stride shorter than a row
    EXPECT_FALSE(model.Init(frame.data, 0.5, 0, 17, 1, 31, true, 2));
}

// Levels of pixel (0, row) over four updates after a jump from 0 to 200.
std::vector<int> LevelsAfterJump(double alpha, bool interleave, int row)
{
    const cv::Mat dark(4, 4, CV_8UC1, cv::Scalar(0));
    const cv::Mat bright(4, 4, CV_8UC1, cv::Scalar(200));
    CSimpleBackgroundSubtractor model;
    model.Init(dark.data, alpha, 4, 4, 1, 4, interleave, 2);
    std::vector<int> levels;
    for (int frame = 0; frame < 4; ++frame) {
        model.Update(bright.data);
        levels.push_back(model.Level(0, row));
    }
    return levels;
}

TEST(CSimpleBackgroundSubtractorTest, RowsAdaptInTurnAtTheGivenRate)
{
    const struct {
        double alpha;
        bool interleave;
        int row;
        std::vector<int> expected;
    } cases[] = {
        {0.5, true, 1, {100, 100, 150, 150}},  // odd rows first
        {0.5, true, 0, {0, 100, 100, 150}},
        {0.5, false, 0, {100, 150, 175, 187}},
        {1.0, true, 1, {200, 200, 200, 200}},
        {0.0, false, 0, {0, 0, 0, 0}},
        {7.5, false, 0, {200, 200, 200, 200}},  // limited to 1: no overflow
        {-3.0, false, 0, {0, 0, 0, 0}},         // limited to 0: no divergence
        {std::numeric_limits<double>::quiet_NaN(), false, 0, {0, 0, 0, 0}},
    };
    for (const auto& c : cases)
        EXPECT_EQ(LevelsAfterJump(c.alpha, c.interleave, c.row), c.expected)
            << "alpha " << c.alpha << " interleave " << c.interleave << " row " << c.row;
}

TEST(CSimpleBackgroundSubtractorTest, RegionUpdateTouchesOnlyTheRowSpans)
{
    const cv::Mat dark(6, 8, CV_8UC1, cv::Scalar(0));
    const cv::Mat bright(6, 8, CV_8UC1, cv::Scalar(255));
    AlgoLibrary::PerspectiveRegion region(AlgoLibrary::MemManager::MemoryManager{});
    region.set_resolution(8, 6);
    CSimpleBackgroundSubtractor model;
    model.Init(dark.data, 1.0, 8, 6, 1, 8, false, 1);
    model.Update(bright.data, region);  // empty region
    for (int y = 0; y < 6; ++y)
        for (int x = 0; x < 8; ++x) ASSERT_EQ(model.Level(x, y), 0);

    for (int y = 1; y <= 4; ++y)
        for (int x = y; x <= y + 2; ++x) region.add(x, y);
    model.Init(dark.data, 1.0, 8, 6, 1, 8, true, 2);
    model.Update(bright.data, region);  // phase 1: rows 2 and 4 of the region (first row 1 + 1)
    for (int y = 0; y < 6; ++y)
        for (int x = 0; x < 8; ++x) {
            const bool updated = (y == 2 || y == 4) && x >= y && x <= y + 2;
            ASSERT_EQ(model.Level(x, y), updated ? 255 : 0) << x << ", " << y;
        }
}

}  // namespace
