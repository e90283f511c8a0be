#include "StereoAnalyzer/StereoPeopleCounter/crossings/crossings_counter.h"

#include <gtest/gtest.h>

#include <opencv2/imgproc.hpp>
#include <string>
#include <vector>

#include "CommonUtilities/algorithm_support/kiv_exception.h"
#include "StereoAnalyzer/StereoPeopleCounter/block_parameters.h"

namespace {

using crossings::CCrossingPerimeterDetector;
using Records = std::vector<stereo::StereoCountingObjData>;

const cv::Size kFrame(100, 100);

stereo::StereoCountingObjData Record(int64_t id, int x, int y)
{
    stereo::StereoCountingObjData record{};
    record.object_id = id;
    record.box_x1 = x - 5;
    record.box_x2 = x + 5;
    record.box_y1 = y - 5;
    record.box_y2 = y + 5;
    record.tracker_flag = true;
    return record;
}

std::vector<int> Crossed(const stereo::StereoCountingObjData& r)
{
    return std::vector<int>(r.crossed_lines, r.crossed_lines + r.crossed_lines_count);
}

std::vector<int> Alarms(const stereo::StereoCountingObjData& r)
{
    return std::vector<int>(r.alarm_lines, r.alarm_lines + r.alarm_lines_count);
}

// A horizontal line across the middle of the picture, drawn left to right (or right to left).
std::string Horizontal(int id, const char* type, bool left_to_right = true)
{
    const char* points = left_to_right ? "[[0,0.5],[1,0.5]]" : "[[1,0.5],[0,0.5]]";
    return "[" + std::to_string(id) + ", \"" + type + "\", " + points + "]";
}

class CrossingsCounterTest : public ::testing::Test {
protected:
    void Lines(const std::string& value)
    {
        LoadBlockParameters(counter, "CrossingsCounter", "[CrossingsCounter]\nCountingLines=" + value + "\n");
        counter.Reinit(kFrame);
    }

    // One frame with one object at (x, y).
    stereo::StereoCountingObjData Step(int x, int y, int64_t id = 1)
    {
        Records records{Record(id, x, y)};
        counter.CalculateObjectsState(records);
        return records[0];
    }

    crossings::CrossingsCounter counter;
};

TEST(CrossingPerimeterTest, SignedMeasureOfAMoveAgainstAPolyline)
{
    const std::vector<cv::Point2f> line{{0, 50}, {100, 50}};
    const std::vector<cv::Point2f> u_down_up{{20, 0}, {20, 100}, {40, 100}, {40, 0}};
    struct Case {
        const char* name;
        cv::Point2f previous, current;
        std::vector<cv::Point2f> polyline;
        int expected;
    };
    const Case cases[] = {
        {"down across, from its left to its right", {50, 40}, {50, 60}, line, 2},
        {"up across", {50, 60}, {50, 40}, line, -2},
        {"ends on the line", {50, 40}, {50, 50}, line, 1},
        {"starts on the line", {50, 50}, {50, 60}, line, 1},
        {"leaves the line upwards", {50, 50}, {50, 40}, line, -1},
        {"stops short", {50, 40}, {50, 45}, line, 0},
        {"passes beyond the segment's end", {150, 40}, {150, 60}, line, 0},
        {"slanted move across", {30, 30}, {70, 70}, line, 2},
        {"no move", {50, 40}, {50, 40}, line, 0},
        {"one-point polyline", {50, 40}, {50, 60}, {{50, 50}}, 0},
        {"two segments in opposite directions", {10, 50}, {50, 50}, u_down_up, 0},
        {"one segment of the U", {10, 50}, {30, 50}, u_down_up, -2},
    };
    for (const Case& c : cases)
        EXPECT_EQ(CCrossingPerimeterDetector::CheckCrossingPerimeter(c.current, c.previous, c.polyline), c.expected)
            << c.name;
}

TEST_F(CrossingsCounterTest, CrossedLineStaysListedUntilCrossedBackAndAlarmsOnce)
{
    Lines("[" + Horizontal(7, "TwoDirections") + "]");
    const stereo::StereoCountingObjData first = Step(50, 40);
    EXPECT_EQ(first.crossed_lines_count, 0);
    EXPECT_EQ(Alarms(first), std::vector<int>{-1});
    EXPECT_EQ(Alarms(Step(50, 60)), (std::vector<int>{7, -1}));

    const stereo::StereoCountingObjData further = Step(50, 70);
    EXPECT_TRUE(further.in_flag);
    EXPECT_EQ(Crossed(further), std::vector<int>{7});
    EXPECT_EQ(Alarms(further), std::vector<int>{-1});
    EXPECT_TRUE(further.alarmed);

    // Back across: both flags clear, the line leaves the list, no second alarm.
    const stereo::StereoCountingObjData back = Step(50, 40);
    EXPECT_FALSE(back.in_flag);
    EXPECT_FALSE(back.out_flag);
    EXPECT_EQ(back.crossed_lines_count, 0);
    EXPECT_EQ(Alarms(back), std::vector<int>{-1});
    EXPECT_TRUE(back.alarmed);

    const stereo::StereoCountingObjData again = Step(50, 60);
    EXPECT_TRUE(again.in_flag);
    EXPECT_EQ(Crossed(again), std::vector<int>{7});
    EXPECT_EQ(Alarms(again), std::vector<int>{-1});
}

TEST_F(CrossingsCounterTest, HalfCrossingsAccumulateUntilCompleted)
{
    Lines("[" + Horizontal(3, "TwoDirections") + "]");
    Step(50, 40);
    const stereo::StereoCountingObjData on_line = Step(50, 50);
    EXPECT_EQ(on_line.crossed_lines_count, 0);
    EXPECT_EQ(Alarms(on_line), (std::vector<int>{3, -1}));  // the state is already positive
    const stereo::StereoCountingObjData standing = Step(50, 50);
    EXPECT_EQ(standing.crossed_lines_count, 0);
    const stereo::StereoCountingObjData off = Step(50, 60);
    EXPECT_EQ(Crossed(off), std::vector<int>{3});
    EXPECT_TRUE(off.in_flag);

    // Onto the line and back: nothing counts, the raised alarm stays raised.
    Step(50, 40, 2);
    EXPECT_EQ(Alarms(Step(50, 50, 2)), (std::vector<int>{3, -1}));
    const stereo::StereoCountingObjData returned = Step(50, 40, 2);
    EXPECT_EQ(returned.crossed_lines_count, 0);
    EXPECT_FALSE(returned.in_flag || returned.out_flag);
    EXPECT_TRUE(returned.alarmed);
    const stereo::StereoCountingObjData crossed = Step(50, 60, 2);
    EXPECT_EQ(Crossed(crossed), std::vector<int>{3});
    EXPECT_EQ(Alarms(crossed), std::vector<int>{-1});
}

TEST_F(CrossingsCounterTest, DownIsPlusIdAndInUpIsMinusIdAndOutTheLineTypeDecidesTheAlarm)
{
    struct Case {
        const char* type;
        bool down;
        bool alarm;
    };
    const Case cases[] = {
        {"Incoming", true, true},   {"Incoming", false, false},    {"Outcoming", true, false},
        {"Outcoming", false, true}, {"TwoDirections", true, true}, {"TwoDirections", false, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.type) + (c.down ? " down" : " up"));
        Lines("[" + Horizontal(5, c.type) + "]");
        Step(50, c.down ? 40 : 60);
        const stereo::StereoCountingObjData crossed = Step(50, c.down ? 60 : 40);
        EXPECT_EQ(Crossed(crossed), std::vector<int>{c.down ? 5 : -5});
        EXPECT_EQ(crossed.in_flag, c.down);
        EXPECT_EQ(crossed.out_flag, !c.down);
        EXPECT_FALSE(crossed.spare_flag);
        EXPECT_EQ(Alarms(crossed), c.alarm ? (std::vector<int>{5, -1}) : std::vector<int>{-1});
        EXPECT_EQ(crossed.alarmed, c.alarm);
    }
}

TEST_F(CrossingsCounterTest, NetDirectionOverSeveralLines)
{
    struct Case {
        std::string lines;
        std::vector<int> crossed;
        bool in, out;
    };
    const Case cases[] = {
        {Horizontal(1, "TwoDirections") + "," + Horizontal(2, "TwoDirections", false), {1, -2}, false, false},
        {Horizontal(1, "TwoDirections") + "," + Horizontal(2, "TwoDirections", false) + "," +
             Horizontal(3, "TwoDirections"),
         {1, -2, 3},
         true,
         false},
        {Horizontal(1, "TwoDirections", false) + ", [2, \"Incoming\", [[0.5,0.5]]]", {-1}, false, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.lines);
        Lines("[" + c.lines + "]");
        Step(50, 40);
        const stereo::StereoCountingObjData crossed = Step(50, 60);
        EXPECT_EQ(Crossed(crossed), c.crossed);
        EXPECT_EQ(crossed.in_flag, c.in);
        EXPECT_EQ(crossed.out_flag, c.out);
    }
}

TEST_F(CrossingsCounterTest, ThirtyTwoLinesAreKeptAndFurtherOnesIgnored)
{
    std::string lines;
    for (int id = 1; id <= 33; ++id) lines += (id > 1 ? "," : "") + Horizontal(id, "TwoDirections");
    Lines("[" + lines + "]");
    ASSERT_EQ(counter.GetLines().size(), 32u);
    Step(50, 40);
    const stereo::StereoCountingObjData crossed = Step(50, 60);
    ASSERT_EQ(crossed.crossed_lines_count, 32);
    EXPECT_EQ(crossed.crossed_lines[31], 32);
    ASSERT_EQ(crossed.alarm_lines_count, 33);
    EXPECT_EQ(crossed.alarm_lines[31], 32);
    EXPECT_EQ(crossed.alarm_lines[32], -1);
}

TEST_F(CrossingsCounterTest, ObjectMemoryEndsWithItsRecordOrAReinit)
{
    Lines("[" + Horizontal(7, "TwoDirections") + "]");
    Step(50, 40);
    EXPECT_EQ(Alarms(Step(50, 60)), (std::vector<int>{7, -1}));
    Records none;
    counter.CalculateObjectsState(none);
    const stereo::StereoCountingObjData back = Step(50, 60);  // starts afresh
    EXPECT_FALSE(back.in_flag);
    EXPECT_FALSE(back.alarmed);
    EXPECT_EQ(Alarms(Step(50, 40)), (std::vector<int>{7, -1}));  // a second alarm on the same line

    counter.Reinit(kFrame);
    const stereo::StereoCountingObjData after_reinit = Step(50, 40);
    EXPECT_FALSE(after_reinit.out_flag);
    EXPECT_FALSE(after_reinit.alarmed);
    EXPECT_EQ(Alarms(Step(50, 60)), (std::vector<int>{7, -1}));
}

TEST_F(CrossingsCounterTest, NoLinesGiveEmptyVerdicts)
{
    Lines("[]");
    Step(50, 40);
    const stereo::StereoCountingObjData record = Step(50, 60);
    EXPECT_EQ(record.crossed_lines_count, 0);
    EXPECT_EQ(Alarms(record), std::vector<int>{-1});
    EXPECT_FALSE(record.in_flag || record.out_flag || record.alarmed);
}

TEST_F(CrossingsCounterTest, DefaultLineCountsLeavingTheUInward)
{
    LoadBlockParameters(counter, "CrossingsCounter", "");
    counter.Reinit(cv::Size(144, 108));
    ASSERT_EQ(counter.GetLines().size(), 1u);
    Step(72, 20);
    const stereo::StereoCountingObjData out_of_u = Step(72, 60);
    EXPECT_TRUE(out_of_u.in_flag);
    EXPECT_EQ(Alarms(out_of_u), (std::vector<int>{0, -1}));
}

TEST_F(CrossingsCounterTest, ZeroAreaFrameIsRefused)
{
    Lines("[" + Horizontal(7, "TwoDirections") + "]");
    EXPECT_THROW(counter.Reinit(cv::Size(0, 100)), exc::KIVException);
    EXPECT_THROW(crossings::CrossingsCounter().Reinit(kFrame), std::logic_error);  // parameters never loaded
}

TEST_F(CrossingsCounterTest, DrawsSegmentsOfLinesWithTwoPointsOrMore)
{
    Lines("[" + Horizontal(7, "TwoDirections") + ", [8, \"Incoming\", [[0.2,0.2]]]]");
    cv::Mat image = cv::Mat::zeros(kFrame, CV_8UC3);
    counter.DrawLine(image);
    EXPECT_EQ(image.at<cv::Vec3b>(50, 30), cv::Vec3b(255, 255, 0));
    EXPECT_EQ(cv::countNonZero(image.reshape(1)), 2 * 100);  // one row, two channels lit
}

}  // namespace
