#include "StereoAnalyzer/StereoPeopleCounter/maximums_finder.h"

#include <gtest/gtest.h>

#include <deque>
#include <memory>
#include <vector>

#include "CommonUtilities/DebugInterfaces/recording_log.h"
#include "CommonUtilities/algorithm_support/kiv_exception.h"
#include "StereoAnalyzer/StereoPeopleCounter/circle_iterator.h"
#include "StereoAnalyzer/StereoPeopleCounter/head_candidates.h"

namespace {

std::deque<cv::Point> MaximaOf(const cv::Mat_<uchar>& heights, int threshold)
{
    maximums_finder::MaximumsFinder finder;
    finder.Init(heights.size(), threshold);
    std::deque<cv::Point> points;
    finder.FindHeightMaximums(heights, points);
    return points;
}

TEST(MaximumsFinderTest, OnePointPerPlateauThatNoFourNeighbourExceeds)
{
    struct Case {
        const char* what;
        cv::Mat_<uchar> heights;
        int threshold;
        std::deque<cv::Point> expected;
    };
    const Case cases[] = {
        {"a flat picture above the threshold: its centre", cv::Mat_<uchar>(5, 7, uchar(200)), 165, {{3, 2}}},
        {"a picture below the threshold", cv::Mat_<uchar>(5, 7, uchar(164)), 165, {}},
        {"two peaks joined by a ridge of their height",
         (cv::Mat_<uchar>(3, 5) << 0, 0, 0, 0, 0, 9, 9, 9, 9, 9, 0, 0, 0, 0, 0),
         1,
         {{2, 1}}},
        {"two peaks touching diagonally", (cv::Mat_<uchar>(2, 2) << 9, 0, 0, 9), 1, {{0, 0}, {1, 1}}},
        {"a plateau with a higher diagonal neighbour is still a maximum",
         (cv::Mat_<uchar>(3, 3) << 9, 0, 0, 0, 5, 0, 0, 0, 0),
         1,
         {{0, 0}, {1, 1}}},
        {"a pixel below a higher four-neighbour is not", (cv::Mat_<uchar>(1, 3) << 5, 9, 5), 1, {{1, 0}}},
        {"points in the raster order of the plateaus",
         (cv::Mat_<uchar>(3, 4) << 0, 0, 0, 7, 8, 0, 0, 0, 0, 0, 6, 0),
         1,
         {{3, 0}, {0, 1}, {2, 2}}},
    };
    for (const Case& c : cases) EXPECT_EQ(MaximaOf(c.heights, c.threshold), c.expected) << c.what;
}

TEST(MaximumsFinderTest, ThresholdNeverFallsBelowOne)
{
    // A threshold computed below 1 (a smallest object lower than the height error) must not turn the
    // empty floor into a head.
    const cv::Mat_<uchar> floor(20, 30, uchar(0));
    EXPECT_TRUE(MaximaOf(floor, -40).empty());
    EXPECT_TRUE(MaximaOf(floor, 0).empty());

    auto log = std::make_shared<RecordingLog>();
    maximums_finder::MaximumsFinder uninitialised;
    uninitialised.SetDebugInterfaces(BlockEntities::DebugInterfaces(log, nullptr, nullptr));
    std::deque<cv::Point> points;
    uninitialised.FindHeightMaximums(floor, points);
    EXPECT_TRUE(points.empty());
    EXPECT_EQ(uninitialised.Threshold(), 1);
    ASSERT_EQ(log->lines.size(), 2u);
    EXPECT_EQ(log->lines[0].text, "MaximumsFinder::ReinitIfNeed reinitialising on fly, may be time consuming\n");
    EXPECT_EQ(log->lines[1].text, "MaximumsFinder::ReinitIfNeed setting threshold to 1\n");
    EXPECT_THROW(uninitialised.FindHeightMaximums(cv::Mat_<uchar>(), points), exc::KIVException);
}

std::vector<cv::Point> Visit(cv::Point centre, int radius, cv::Size size)
{
    std::vector<cv::Point> visited;
    for (stereo::CircleIterator it(centre, radius, size); !it.IsFinished(); it.MoveToNextPosition())
        visited.push_back(it.Position());
    return visited;
}

TEST(CircleIteratorTest, VisitsTheClippedDiscInRasterOrder)
{
    EXPECT_EQ(Visit({5, 5}, 0, {10, 10}), std::vector<cv::Point>{cv::Point(5, 5)});
    // Radius 1.5 reaches the diagonal neighbours.
    const std::vector<cv::Point> r1{{4, 4}, {5, 4}, {6, 4}, {4, 5}, {5, 5}, {6, 5}, {4, 6}, {5, 6}, {6, 6}};
    EXPECT_EQ(Visit({5, 5}, 1, {10, 10}), r1);
    EXPECT_EQ(Visit({5, 5}, 2, {10, 10}).size(), 21u);  // radius 2.5: the 5x5 square without its corners
    const std::vector<cv::Point> corner{{0, 0}, {1, 0}, {2, 0}, {0, 1}, {1, 1}, {2, 1}, {0, 2}, {1, 2}};
    EXPECT_EQ(Visit({0, 0}, 2, {10, 10}), corner);  // the quarter inside the picture
}

TEST(HeadCandidatesTest, RobustHeightIsTheMeanOfTheUpperPercentiles)
{
    std::vector<uchar> samples;
    cv::Mat_<uchar> map(9, 9, uchar(0));
    // 21 pixels of the radius-2 disc: values 1..20 and one 0 (not a sample): lo 17, hi 19 -> 18.
    int value = 1;
    for (stereo::CircleIterator it({4, 4}, 2, map.size()); !it.IsFinished(); it.MoveToNextPosition())
        map(it.Position()) = value <= 20 ? static_cast<uchar>(value++) : 0;
    EXPECT_EQ(stereo::RobustHeightAround(map, {4, 4}, 2, samples), 18);

    cv::Mat_<uchar> single(9, 9, uchar(0));
    single(3, 4) = 77;
    EXPECT_EQ(stereo::RobustHeightAround(single, {4, 4}, 2, samples), 77);
    EXPECT_EQ(stereo::RobustHeightAround(cv::Mat_<uchar>(9, 9, uchar(0)), {4, 4}, 2, samples), 0);
}

TEST(HeadCandidatesTest, HeightsInCentimetresAndPointsAtTheProcessingSize)
{
    cv::Mat_<uchar> processed(40, 50, uchar(0));
    processed(cv::Rect(20, 10, 3, 3)).setTo(230);
    cv::Mat_<uchar> left = processed.clone();
    left(11, 21) = 240;
    maximums_finder::MaximumsFinder finder;
    finder.Init(processed.size(), 165);
    std::vector<uchar> samples;
    std::deque<cv::Point> points;
    std::deque<int> heights;

    stereo::HeadCandidateSettings settings;
    settings.circle_around_head_rad = 0;
    settings.obj_h_max = 200;
    settings.processing_size = cv::Size(64, 48);
    stereo::FindObjectsCoords(finder, processed, processed, left, settings, samples, points, heights);
    ASSERT_EQ(points.size(), 1u);
    EXPECT_EQ(points[0], cv::Point(21 * 64 / 50, 11 * 48 / 40));
    EXPECT_EQ(heights, std::deque<int>{188});  // 240 / 255 * 200 = 188.2

    settings.obtain_height_directly_from_height_map = false;
    settings.use_height_map_processing_scale = false;
    stereo::FindObjectsCoords(finder, processed, processed, left, settings, samples, points, heights);
    EXPECT_EQ(points[0], cv::Point(21, 11));
    EXPECT_EQ(heights, std::deque<int>{180});  // 230 / 255 * 200 = 180.4
}

}  // namespace
