#include "PeopleCounter/analytics/traffic_controller/src/primitives/point_path.h"

#include <gtest/gtest.h>

#include <cmath>
#include <list>
#include <stdexcept>
#include <vector>

namespace {

using Point = AlgoLibrary::TPoint<int>;
constexpr int64_t kFrame = 400000;  // 40 ms in 100-ns ticks
constexpr int64_t kNow = 131000000000000000LL;

TEST(PathPredictionTest, ForecastsFromTheHistoryLine)
{
    struct Case {
        const char* what;
        std::vector<Sample> history;  // newest first
        int64_t now;
        float x, y, xx, yy, xy;
    };
    const float one = 1.f / (9.f + (60.f / 7.f) * (60.f / 7.f));
    std::vector<Sample> line;
    for (int i = 0; i < 7; ++i) line.push_back(Sample{Point(100 - 3 * i, 50 + 2 * i), kNow - i * kFrame});
    const Case cases[] = {
        {"one sample stays where it is", {Sample{Point(12, 34), kNow - kFrame}}, kNow, 12, 34, one, one, 0},
        {"seven samples on a line: the newest now", line, kNow, 100, 50, 1.f / 9, 1.f / 9, 0},
        {"seven samples on a line: the next point a frame later", line, kNow + kFrame, 103, 48, 1.f / 9, 1.f / 9, 0},
        {"two samples: the line through them", {line[0], line[1]}, kNow + kFrame, 103, 48, 0, 0, 0},
    };
    for (const Case& c : cases) {
        const PathPrediction p = Predict(c.history.data(), static_cast<int>(c.history.size()), c.now);
        EXPECT_NEAR(p.x, c.x, 1e-3) << c.what;
        EXPECT_NEAR(p.y, c.y, 1e-3) << c.what;
        if (c.xx > 0) {
            EXPECT_NEAR(p.xx, c.xx, 1e-6) << c.what;
            EXPECT_NEAR(p.yy, c.yy, 1e-6) << c.what;
            EXPECT_NEAR(p.xy, c.xy, 1e-6) << c.what;
        }
    }
    // Two samples: s = (1 - 2/7) x 10, no residuals.
    const PathPrediction two = Predict(line.data(), 2, kNow);
    const float s = (1.f - 2.f / 7.f) * 10.f;
    EXPECT_NEAR(two.xx, 1.f / (9.f + s * s), 1e-6);

    const uint32_t small_now = 5 * kFrame;
    const Sample small[] = {{Point(10, 10), 4 * kFrame}, {Point(8, 11), 3 * kFrame}};
    const PathPrediction a = Predict(small, 2, small_now);
    const PathPrediction b = Predict(small, 2, static_cast<int64_t>(small_now));
    EXPECT_EQ(a.x, b.x);
    EXPECT_NEAR(a.x, 12, 1e-3);
    EXPECT_NEAR(a.y, 9, 1e-3);

    for (int bad : {0, 8, -1}) {
        try {
            Predict(line.data(), bad, kNow);
            ADD_FAILURE() << bad;
        } catch (const std::logic_error& e) {
            EXPECT_STREQ(e.what(), "Wrong history size");
        }
    }
}

TEST(AveragedPointTest, AveragesStopsAndResumes)
{
    AVG_POINT avg(50, 5, 15, 35, 150, 350);
    // 50 samples alternating 10 and 11 in x: the integer mean 10 (10.5 truncated).
    for (int i = 0; i < 50; ++i) {
        EXPECT_FALSE(avg.has_average);
        avg.update(Point(10 + i % 2, 20));
    }
    ASSERT_TRUE(avg.has_average);
    EXPECT_EQ(avg.average, Point(10, 20));
    EXPECT_EQ(avg.count, 0);

    // Near samples: the 35th stops the averaging.
    for (int i = 0; i < 34; ++i) avg.update(Point(12, 22));
    EXPECT_FALSE(avg.stopped);
    EXPECT_EQ(avg.count, 34);
    avg.update(Point(12, 22));
    EXPECT_TRUE(avg.stopped);
    EXPECT_TRUE(avg.last_near);

    // Far samples (distance 5 is far): 149 keep it stopped, the 150th resumes with a fresh sum.
    for (int i = 0; i < 149; ++i) avg.update(Point(15, 20));
    EXPECT_TRUE(avg.stopped);
    EXPECT_FALSE(avg.last_near);
    avg.update(Point(15, 20));
    EXPECT_FALSE(avg.stopped);
    EXPECT_EQ(avg.count, 1);
    EXPECT_EQ(avg.sum, Point(15, 20));

    // Not stopped: far samples reset both counts at the far reset count (15).
    AVG_POINT second(20, 5, 15, 5, 150, 50);
    for (int i = 0; i < 20; ++i) second.update(Point(0, 0));
    for (int i = 0; i < 4; ++i) second.update(Point(1, 1));
    EXPECT_EQ(second.near_count, 4);
    for (int i = 0; i < 15; ++i) second.update(Point(40, 0));
    EXPECT_EQ(second.near_count, 0);
    EXPECT_EQ(second.far_count, 0);
    EXPECT_FALSE(second.stopped);

    // Stopped: near samples reset the counts at the near reset count (50).
    second = AVG_POINT(20, 5, 15, 5, 150, 50);
    for (int i = 0; i < 20; ++i) second.update(Point(0, 0));
    for (int i = 0; i < 5; ++i) second.update(Point(1, 1));
    ASSERT_TRUE(second.stopped);
    for (int i = 0; i < 10; ++i) second.update(Point(30, 30));
    EXPECT_EQ(second.far_count, 10);
    for (int i = 0; i < 45; ++i) second.update(Point(0, 0));
    EXPECT_EQ(second.far_count, 0);
    EXPECT_EQ(second.near_count, 0);
    EXPECT_TRUE(second.stopped);
}

TEST(PathDiameterTest, ExtentAlongTheMainAxis)
{
    struct Case {
        const char* what;
        PositionList positions;  // oldest first
        int limit;
        float diameter;
    };
    const Case cases[] = {
        {"empty", {}, 200, 0.f},
        {"one position", {Point(4, 4)}, 200, 0.f},
        {"two identical positions", {Point(4, 4), Point(4, 4)}, 200, 0.f},
        {"horizontal line", {Point(10, 5), Point(30, 5), Point(20, 5), Point(14, 5)}, 200, 20.f},
        {"vertical line", {Point(3, 9), Point(3, 1), Point(3, 4)}, 200, 8.f},
        {"diagonal", {Point(0, 0), Point(3, 4), Point(6, 8)}, 200, 10.f},
        {"limit 1", {Point(0, 0), Point(50, 0)}, 1, 0.f},
        {"only the newest count", {Point(0, 0), Point(100, 0), Point(110, 0), Point(112, 0)}, 3, 12.f},
    };
    for (const Case& c : cases) EXPECT_NEAR(GetPathDiameter(c.positions, c.limit), c.diameter, 1e-4) << c.what;

    // A thousand positions of a point standing near x = 150 (sums of squares beyond 32 bits).
    PositionList still;
    for (int i = 0; i < 1000; ++i) still.push_back(Point(150 + i % 3 - 1, 118 + (i / 3) % 2));
    const float d = GetPathDiameter(still, 1000);
    EXPECT_GE(d, 1.f);
    EXPECT_LE(d, std::sqrt(5.f) + 1e-4f);
    EXPECT_NEAR(GetPathDiameter(still, 200), d, 1e-4);
}

}  // namespace
