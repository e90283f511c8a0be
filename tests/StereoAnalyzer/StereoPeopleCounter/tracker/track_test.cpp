#include "StereoAnalyzer/StereoPeopleCounter/tracker/track.h"

#include <gtest/gtest.h>

#include <deque>
#include <string>
#include <vector>

#include "CommonUtilities/algorithm_support/kiv_exception.h"
#include "StereoAnalyzer/StereoPeopleCounter/delete_spaces_in_array.h"

namespace {

using tracker::CommonTrackFeatures;
using PlainTrack = tracker::TrackWithFeatures<CommonTrackFeatures>;

TEST(TrackTest, ValidityNeedsMatchedFramesAndDistanceFromTheStart)
{
    PlainTrack fresh(CommonTrackFeatures({40, 30}, 7), 5, 12, true);
    EXPECT_EQ(fresh.GetPathEndPoint(), fresh.GetPathStartPoint());
    EXPECT_TRUE(fresh.m_is_valid);               // until it is analysed
    EXPECT_FALSE(fresh.CalculateIfValid(1, 0));  // path length 0 is not more than 0
    struct Case {
        int valid_frames;
        cv::Point end;
        bool valid;
    };
    // 19 pixels are not more than 19; (52, 46) is 20 pixels away.
    const Case cases[] = {{4, {59, 30}, false}, {4, {60, 30}, true}, {3, {60, 30}, false}, {4, {52, 46}, true}};
    for (const Case& c : cases) {
        PlainTrack track(CommonTrackFeatures({40, 30}, 0), 1, 0, true);
        track.m_valid_frames_num = c.valid_frames;
        track.AddPathElem(CommonTrackFeatures(c.end, 0), 1, true);
        track.AnalyzeTrack(4, 19);
        EXPECT_EQ(track.m_is_valid, c.valid) << c.end;
    }
}

TEST(TrackTest, StartPointOutlivesTheStartElement)
{
    PlainTrack track(CommonTrackFeatures({10, 10}, 0), 1, 0, true);
    for (int i = 1; i <= tracker::Track::kPathCapacity; ++i)
        track.AddPathElem(CommonTrackFeatures({10 + i, 10}, 0), i, true);
    EXPECT_EQ(track.m_path.size(), static_cast<std::size_t>(tracker::Track::kPathCapacity));
    EXPECT_EQ(track.m_path.front().point, cv::Point(11, 10));
    EXPECT_EQ(track.GetPathStartPoint(), cv::Point(10, 10));
    EXPECT_EQ(track.GetPathEndPoint(), cv::Point(310, 10));
    track.m_valid_frames_num = 301;
    track.AnalyzeTrack(4, 299);
    EXPECT_TRUE(track.m_is_valid);  // 300 pixels from the start, measured from the kept start point
}

TEST(TrackTest, PredictedVelocityUsesOnlyDetectedElements)
{
    PlainTrack track(CommonTrackFeatures({100, 50}, 0), 1, 10, true);
    EXPECT_EQ(track.CalculatePredictedTrackVelocity(), cv::Point2f(0.f, 0.f));
    track.AddPathElem(CommonTrackFeatures({140, 90}, 0), 11, false);
    track.AddPathElem(CommonTrackFeatures({60, 10}, 0), 12, false);
    EXPECT_EQ(track.CalculatePredictedTrackVelocity(), cv::Point2f(0.f, 0.f));
    track.AddPathElem(CommonTrackFeatures({108, 44}, 0), 14, true);
    const cv::Point2f v = track.CalculatePredictedTrackVelocity();
    EXPECT_FLOAT_EQ(v.x, 2.f);
    EXPECT_FLOAT_EQ(v.y, -1.5f);
    track.AddPathElem(CommonTrackFeatures({110, 44}, 0), 15, true);
    EXPECT_FLOAT_EQ(track.CalculatePredictedTrackVelocity().x, 2.f);  // (110 - 100) / 5
}

TEST(DeleteSpacesInArrayTest, RemovesFlaggedItemsKeepingOrder)
{
    struct Case {
        std::vector<bool> flags;
        std::string kept;
    };
    const Case cases[] = {{{false, true, false}, "ac"},
                          {{true, true, true}, ""},
                          {{false, false, false}, "abc"},
                          {{true, false, false}, "bc"}};
    for (const Case& c : cases) {
        std::deque<char> items{'a', 'b', 'c'};
        stereo::DeleteSpacesInArray(items, c.flags);
        EXPECT_EQ(std::string(items.begin(), items.end()), c.kept);
    }
    std::vector<int> items{1, 2};
    EXPECT_THROW(stereo::DeleteSpacesInArray(items, std::vector<bool>{true}), exc::KIVException);
    EXPECT_EQ(items.size(), 2u);
}

}  // namespace
