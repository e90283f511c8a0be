#include "StereoAnalyzer/StereoPeopleCounter/crossings/crossings_counter.h"

#include <gtest/gtest.h>

#include <memory>
#include <opencv2/imgproc.hpp>
#include <stdexcept>
#include <string>
#include <vector>

#include "CommonUtilities/DebugInterfaces/recording_log.h"
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

    // One object moving along x = 50 and the verdict expected at each of its frames.
    struct Verdict {
        int y;
        std::vector<int> crossed, alarms;
        bool in, out, alarmed;
    };
    void Walk(const std::vector<Verdict>& verdicts, int64_t id = 1)
    {
        for (std::size_t i = 0; i < verdicts.size(); ++i) {
            const Verdict& v = verdicts[i];
            SCOPED_TRACE("object " + std::to_string(id) + " frame " + std::to_string(i) + " at y " +
                         std::to_string(v.y));
            const stereo::StereoCountingObjData r = Step(50, v.y, id);
            EXPECT_EQ(Crossed(r), v.crossed);
            EXPECT_EQ(Alarms(r), v.alarms);
            EXPECT_EQ(r.in_flag, v.in);
            EXPECT_EQ(r.out_flag, v.out);
            EXPECT_EQ(r.alarmed, v.alarmed);
            EXPECT_FALSE(r.spare_flag);
        }
    }

    crossings::CrossingsCounter counter;
};

TEST(CrossingPerimeterTest, SignedMeasureOfAMoveAgainstAPolyline)
{
    const std::vector<cv::Point2f> line{{0, 50}, {100, 50}};
    const std::vector<cv::Point2f> u_down_up{{20, 0}, {20, 100}, {40, 100}, {40, 0}};
    // A vertex exactly on the move's line, where the two products of the side test are equal but
    // not exact in float (1 + 2^-12 squared): computed as written they cancel to zero; a fused
    // multiply-add keeps the rounding residue of one and puts the vertex to one side.
    const float k = 1.0f + 1.0f / 4096;
    const std::vector<cv::Point2f> tip{{0, 2}, {k, k}, {2, 0}};
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
        {"ends on a vertex", {0, 0}, {k, k}, tip, 1},
        {"passes through a vertex", {0, 0}, {2 * k, 2 * k}, tip, 2},
        {"starts on a vertex", {k, k}, {2 * k, 2 * k}, tip, 1},
    };
    for (const Case& c : cases)
        EXPECT_EQ(CCrossingPerimeterDetector::CheckCrossingPerimeter(c.current, c.previous, c.polyline), c.expected)
            << c.name;
}

TEST_F(CrossingsCounterTest, CrossedLineStaysListedUntilCrossedBackAndAlarmsOnce)
{
    Lines("[" + Horizontal(7, "TwoDirections") + "]");
    Walk({
        {40, {}, {-1}, false, false, false},
        {60, {7}, {7, -1}, true, false, true},
        {70, {7}, {-1}, true, false, true},
        {40, {}, {-1}, false, false, true},  // back across: flags clear, the line leaves the list
        {60, {7}, {-1}, true, false, true},  // no second alarm
    });
}

TEST_F(CrossingsCounterTest, HalfCrossingsAccumulateUntilCompleted)
{
    Lines("[" + Horizontal(3, "TwoDirections") + "]");
    Walk({
        {40, {}, {-1}, false, false, false},
        {50, {}, {3, -1}, false, false, true},  // onto the line: the state is already positive
        {50, {}, {-1}, false, false, true},
        {60, {3}, {-1}, true, false, true},
    });
    // Onto the line and back: nothing counts, the raised alarm stays raised.
    Walk(
        {
            {40, {}, {-1}, false, false, false},
            {50, {}, {3, -1}, false, false, true},
            {40, {}, {-1}, false, false, true},
            {60, {3}, {-1}, true, false, true},
        },
        2);
}

TEST_F(CrossingsCounterTest, OneMoveAcrossTheMiddleIsJudgedByTheLinesTheirTypesAndDirections)
{
    // Down across a line is its id and "in", up is minus its id and "out"; the type decides which
    // direction raises the alarm; over several lines the crossings sum up to the net direction.
    const std::string two_ways = Horizontal(1, "TwoDirections") + "," + Horizontal(2, "TwoDirections", false);
    struct Case {
        std::string lines;
        int from;
        Verdict verdict;
    };
    const Case cases[] = {
        {Horizontal(5, "Incoming"), 40, {60, {5}, {5, -1}, true, false, true}},
        {Horizontal(5, "Incoming"), 60, {40, {-5}, {-1}, false, true, false}},
        {Horizontal(5, "Outcoming"), 40, {60, {5}, {-1}, true, false, false}},
        {Horizontal(5, "Outcoming"), 60, {40, {-5}, {5, -1}, false, true, true}},
        {Horizontal(5, "TwoDirections"), 40, {60, {5}, {5, -1}, true, false, true}},
        {Horizontal(5, "TwoDirections"), 60, {40, {-5}, {5, -1}, false, true, true}},
        {two_ways, 40, {60, {1, -2}, {1, 2, -1}, false, false, true}},
        {two_ways + "," + Horizontal(3, "TwoDirections"), 40, {60, {1, -2, 3}, {1, 2, 3, -1}, true, false, true}},
        {"", 40, {60, {}, {-1}, false, false, false}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.lines);
        Lines("[" + c.lines + "]");
        Walk({{c.from, {}, {-1}, false, false, false}, c.verdict});
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

TEST(CrossingsCounterLinesTest, WhatIsNotCountedIsSaid)
{
    std::string lines34;
    for (int id = 1; id <= 34; ++id) lines34 += (id > 1 ? "," : "") + Horizontal(id * 10, "TwoDirections");
    const struct {
        const char* name;
        std::string ini;
        const char* warning;  // null: none
    } cases[] = {
        {"one line", "[CrossingsCounter]\nCountingLines=[" + Horizontal(7, "Incoming") + "]\n", nullptr},
        {"no lines in the file", "",
         "No counting lines in the parameter file (CrossingsCounter_CountingLines): the built-in line [ [ 0, "
         "\"TwoDirections\""},
        {"34 lines", "[CrossingsCounter]\nCountingLines=[" + lines34 + "]\n",
         "Only 32 counting lines are counted (CrossingsCounter_CountingLines): the lines 330, 340 are ignored"},
        {"a line of one point",
         "[CrossingsCounter]\nCountingLines=[" + Horizontal(7, "Incoming") + ", [8, \"Incoming\", [[0.2,0.2]]]]\n",
         "Counting line 8 (CrossingsCounter_CountingLines) can count nothing: it has 1 point"},
        {"a line whose points coincide",
         "[CrossingsCounter]\nCountingLines=[[8, \"Incoming\", [[0.2,0.2],[0.2,0.2]]]]\n",
         "Counting line 8 (CrossingsCounter_CountingLines) can count nothing: its points coincide"},
        {"a line along the picture's edge", "[CrossingsCounter]\nCountingLines=[[8, \"Incoming\", [[0,1],[1,1]]]]\n",
         nullptr},
    };
    for (const auto& c : cases) {
        crossings::CrossingsCounter counter;
        const auto log = std::make_shared<RecordingLog>();
        counter.SetDebugInterfaces(BlockEntities::DebugInterfaces(log, nullptr, nullptr));
        LoadBlockParameters(counter, "CrossingsCounter", c.ini);
        counter.Reinit(kFrame);
        std::vector<std::string> warnings;
        for (const auto& line : log->lines)
            if (line.level == kKivLogWarning)
                warnings.push_back(line.text);
        if (!c.warning) {
            EXPECT_TRUE(warnings.empty()) << c.name << ": " << warnings.front();
            continue;
        }
        ASSERT_EQ(warnings.size(), 1u) << c.name;
        EXPECT_NE(warnings[0].find(c.warning), std::string::npos) << c.name << ": " << warnings[0];
    }
}

TEST_F(CrossingsCounterTest, ObjectMemoryEndsWithItsRecordOrAReinit)
{
    Lines("[" + Horizontal(7, "TwoDirections") + "]");
    const std::vector<Verdict> down{{40, {}, {-1}, false, false, false}, {60, {7}, {7, -1}, true, false, true}};
    Walk(down);
    Records none;
    counter.CalculateObjectsState(none);
    // Starts afresh: a second alarm on the same line.
    Walk({{60, {}, {-1}, false, false, false}, {40, {-7}, {7, -1}, false, true, true}});
    counter.Reinit(kFrame);
    Walk(down);
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

TEST_F(CrossingsCounterTest, DrawsTheSegmentsOfTheLines)
{
    Lines("[" + Horizontal(7, "TwoDirections") + "]");
    cv::Mat image = cv::Mat::zeros(kFrame, CV_8UC3);
    counter.DrawLine(image);
    EXPECT_EQ(image.at<cv::Vec3b>(50, 30), cv::Vec3b(255, 255, 0));
    EXPECT_EQ(cv::countNonZero(image.reshape(1)), 2 * 100);  // one row, two channels lit
}

}  // namespace
