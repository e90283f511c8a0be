#include "StereoAnalyzer/StereoPeopleCounter/tracker/tracker.h"

#include <gtest/gtest.h>

#include <deque>
#include <string>
#include <vector>

#include "CommonUtilities/algorithm_support/kiv_exception.h"
#include "StereoAnalyzer/StereoPeopleCounter/block_parameters.h"
#include "StereoAnalyzer/StereoPeopleCounter/tracker/table_tracker.h"

namespace {

using Points = std::deque<cv::Point>;
using Records = std::vector<stereo::StereoCountingObjData>;

const cv::Size kFrame(144, 108);
constexpr int kRadius = 6;

class TrackerTest : public ::testing::Test {
protected:
    void SetUp() override { Start(""); }

    void Start(const std::string& tracker_section)
    {
        LoadBlockParameters(tracker, "Tracker", "[Tracker]\n" + tracker_section);
        tracker.Init(kFrame, mask, kRadius, 4, 3 * kRadius);
    }

    Records Frame(const Points& points)
    {
        tracker.UpdateTracksGreedyAlg(image, image, points);
        Records records;
        tracker.GetObjects(records);
        return records;
    }

    stereo::ObjectIdSequence sequence;  // ids of this test alone, from 1
    stereo::IDGenerator ids{sequence};
    TableTracker tracker{ids};
    cv::Mat_<uchar> image = cv::Mat_<uchar>::zeros(kFrame);
    cv::Mat_<uchar> mask = cv::Mat_<uchar>::zeros(kFrame);
};

TEST_F(TrackerTest, GreedyAssignmentTakesSmallestPenaltyBelowTenWithRowMajorTies)
{
    struct Case {
        const char* name;
        std::vector<std::vector<double>> table;  // [object][track]
        int expected_track[2];                   // per object: the matched track, -1 for a new track
    };
    const Case cases[] = {
        {"exactly ten never matches", {{10.0, 20.0}, {20.0, 20.0}}, {-1, -1}},
        {"just below ten matches", {{9.999, 20.0}, {20.0, 20.0}}, {0, -1}},
        {"equal minima: lower object first", {{6.0, 5.0}, {5.0, 6.0}}, {1, 0}},
        {"equal minima of one object: lower track", {{5.0, 5.0}, {9.0, 9.0}}, {0, 1}},
        {"smallest first, then the rest", {{3.0, 1.0}, {2.0, 4.0}}, {1, 0}},
        {"a taken track is not given twice", {{1.0, 20.0}, {2.0, 20.0}}, {0, -1}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        tracker.penalty = nullptr;
        tracker.Init(kFrame, mask, kRadius, 4, 3 * kRadius);  // drops the tracks of the previous case
        Frame(Points{{10, 10}, {40, 10}});
        ASSERT_EQ(tracker.TracksNum(), 2);
        tracker.penalty = [&](int o, int k) { return c.table[o][k]; };
        const Points next{{60, 60}, {90, 60}};
        Frame(next);
        int new_tracks = 0;
        for (int o = 0; o < 2; ++o) {
            if (c.expected_track[o] >= 0) {
                EXPECT_EQ(tracker.TrackAt(c.expected_track[o]).m_features.m_point, next[o]) << "object " << o;
                EXPECT_EQ(tracker.TrackAt(c.expected_track[o]).m_dropped_frames, 0);
            } else {
                ++new_tracks;
                EXPECT_EQ(tracker.TrackAt(1 + new_tracks).m_features.m_point, next[o]) << "object " << o;
            }
        }
        EXPECT_EQ(tracker.TracksNum(), 2 + new_tracks);
    }
}

TEST_F(TrackerTest, DeletionAllowanceFollowsValidFramesAndBorderShare)
{
    struct Case {
        const char* ini;
        int valid_frames, dropped, near_border;
        bool deleted;
    };
    const Case cases[] = {
        {"", 1, 30, 0, false},
        {"", 1, 31, 0, true},
        {"", 1, 6, 6, false},
        {"", 1, 7, 7, true},
        {"", 50, 31, 0, true},  // 3 * 50 + 30 is cut to the maximum 30
        {"", 1, 10, 5, false},  // limit round(30 * 0.6) = 18
        {"", 1, 19, 10, true},  // limit round(30 * (0.47368 + 0.2 * 0.52632)) = 17
        {"Stereo_max_dropped_frames=200\nvalid_frames_num_summand=0\n", 5, 15, 0, false},
        {"Stereo_max_dropped_frames=200\nvalid_frames_num_summand=0\n", 5, 16, 0, true},
        // 0.5 is rounded away from zero to 1 in double precision.
        {"valid_frames_num_multiplier=0.5\nvalid_frames_num_summand=0\n", 1, 1, 0, false},
        {"valid_frames_num_multiplier=0.5\nvalid_frames_num_summand=0\n", 1, 2, 0, true},
        // A huge allowance is clamped to the maximum before it becomes an int.
        {"valid_frames_num_multiplier=3e30\nStereo_max_dropped_frames=100\n", 1000, 100, 0, false},
        {"valid_frames_num_multiplier=3e30\nStereo_max_dropped_frames=100\n", 1000, 101, 0, true},
        // A negative allowance is 0: the track ends at its first dropped frame, not at its birth.
        {"valid_frames_num_multiplier=-5\nvalid_frames_num_summand=0\n", 3, 0, 0, false},
        {"valid_frames_num_multiplier=-5\nvalid_frames_num_summand=0\n", 3, 1, 0, true},
        {"Stereo_max_dropped_frames=0\n", 1, 0, 0, false},
        {"Stereo_max_dropped_frames=0\n", 1, 1, 0, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.ini) + " n=" + std::to_string(c.valid_frames) + " d=" + std::to_string(c.dropped) +
                     " e=" + std::to_string(c.near_border));
        Start(c.ini);
        Frame(Points{{50, 50}});
        auto& track = tracker.TrackAt(0);
        track.m_valid_frames_num = c.valid_frames;
        track.m_dropped_frames = c.dropped;
        track.m_dropped_frames_near_border = c.near_border;
        EXPECT_EQ(tracker.HasToBeDeleted(track), c.deleted);
    }
}

TEST_F(TrackerTest, TracksCarriedWithoutMatchCountDroppedAndBorderFrames)
{
    mask(50, 30) = 255;  // inside the disc of the third track only
    tracker.Init(kFrame, mask, kRadius, 4, 3 * kRadius);
    tracker.velocity = cv::Point2f(0.f, 0.f);
    Frame(Points{{kRadius, 20}, {kRadius + 1, 80}, {30 - kRadius, 50}, {100, 50}});
    const Records records = Frame(Points{});
    ASSERT_EQ(records.size(), 4u);
    const int expected_border[] = {1, 0, 1, 0};
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(tracker.TrackAt(i).m_dropped_frames, 1) << i;
        EXPECT_EQ(tracker.TrackAt(i).m_dropped_frames_near_border, expected_border[i]) << i;
        EXPECT_FALSE(tracker.TrackAt(i).m_path.back().is_detected) << i;
        EXPECT_FALSE(records[static_cast<std::size_t>(i)].track_ends) << i;
    }
}

TEST_F(TrackerTest, PredictionOnePixelOutsideEndsTheTrackInThatFrame)
{
    tracker.velocity = cv::Point2f(1.f, 0.f);
    Frame(Points{{kFrame.width - 1, 50}, {kFrame.width - 2, 50}});
    const Records records = Frame(Points{});
    ASSERT_EQ(records.size(), 2u);
    EXPECT_TRUE(records[0].track_ends);
    EXPECT_FALSE(records[1].track_ends);
    const Records next = Frame(Points{});
    ASSERT_EQ(next.size(), 1u);
    EXPECT_EQ(next[0].object_id, records[1].object_id);
}

TEST_F(TrackerTest, NonValidCarriedTrackEndsAtOnceWhenAsked)
{
    Start("not_continue_non_valid_tracks=true\n");
    Frame(Points{{50, 50}});
    const Records records = Frame(Points{});
    ASSERT_EQ(records.size(), 1u);
    EXPECT_TRUE(records[0].track_ends);
    EXPECT_FALSE(records[0].moving);
}

TEST_F(TrackerTest, NewTracksTakeConsecutiveIdsInObjectOrderNeverReusedAfterReinitialisation)
{
    const Records records = Frame(Points{{20, 20}, {60, 20}, {100, 20}});
    ASSERT_EQ(records.size(), 3u);
    for (int i = 0; i < 3; ++i) EXPECT_EQ(records[static_cast<std::size_t>(i)].object_id, i + 1);
    EXPECT_EQ(Frame(Points{{20, 20}, {60, 20}, {100, 20}, {130, 90}}).back().object_id, 4);

    tracker.Init(kFrame, mask, kRadius, 4, 3 * kRadius);
    EXPECT_EQ(tracker.TracksNum(), 0);
    const Records after = Frame(Points{{50, 50}});
    ASSERT_EQ(after.size(), 1u);
    EXPECT_EQ(after[0].object_id, 5);
}

TEST_F(TrackerTest, MisuseIsRefused)
{
    stereo::ObjectIdSequence local_sequence;
    stereo::IDGenerator generator(local_sequence);
    TableTracker fresh(generator);
    LoadBlockParameters(fresh, "Tracker", "");
    EXPECT_THROW(fresh.UpdateTracksGreedyAlg(image, image, Points{}), exc::KIVException);
    EXPECT_THROW(fresh.Init(kFrame, cv::Mat_<uchar>::zeros(kFrame.height, kFrame.width + 1), kRadius, 4, 18),
                 exc::KIVException);
    const cv::Mat_<uchar> other = cv::Mat_<uchar>::zeros(kFrame.height + 1, kFrame.width);
    EXPECT_THROW(tracker.UpdateTracksGreedyAlg(image, other, Points{}), exc::KIVException);
    EXPECT_THROW(tracker.UpdateTracksGreedyAlg(other, other, Points{}), exc::KIVException);

    Frame(Points{{50, 50}});
    auto& track = tracker.TrackAt(0);
    track.m_dropped_frames = 2;
    track.m_dropped_frames_near_border = 3;
    EXPECT_THROW(tracker.HasToBeDeleted(track), exc::KIVException);
    track.m_path.clear();
    cv::Mat_<cv::Vec3b> picture = cv::Mat_<cv::Vec3b>::zeros(kFrame);
    track.m_dropped_frames_near_border = 0;
    EXPECT_THROW(tracker.Draw(&picture), exc::KIVException);  // a track without a path
}

TEST_F(TrackerTest, MaxDroppedFramesIsLimitedSoLongCarriedTracksNeverThrow)
{
    Start("Stereo_max_dropped_frames=299\nvalid_frames_num_summand=1000\n");
    EXPECT_EQ(tracker.MaxDroppedFrames(), 298);
    Frame(Points{{50, 50}});
    for (int frame = 1; frame <= 300; ++frame) {
        Records records;
        ASSERT_NO_THROW(records = Frame(Points{})) << frame;
        if (frame <= 299) {
            ASSERT_EQ(records.size(), 1u) << frame;
            EXPECT_EQ(records[0].point_x, 50);
            EXPECT_EQ(records[0].track_ends, frame == 299) << frame;  // reported once, then removed
        } else {
            EXPECT_TRUE(records.empty());
        }
    }
}

TEST_F(TrackerTest, TrackWithoutDetectedPathElementIsReportedAtItsOldestPoint)
{
    Frame(Points{{50, 50}});
    auto& track = tracker.TrackAt(0);
    for (int i = 0; i < tracker::Track::kPathCapacity; ++i) {
        PointFeatures carried;
        carried.m_point = cv::Point(51 + i % 20, 50);
        track.AddPathElem(carried, i + 1, false);
    }
    track.m_dropped_frames = tracker::Track::kPathCapacity;
    Records records;
    ASSERT_NO_THROW(tracker.GetObjects(records));
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0].point_x, 51);
    EXPECT_TRUE(records[0].track_ends);
}

}  // namespace
