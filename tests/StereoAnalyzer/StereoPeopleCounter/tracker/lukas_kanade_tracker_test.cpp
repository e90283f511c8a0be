#include "StereoAnalyzer/StereoPeopleCounter/tracker/lukas_kanade_tracker.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <deque>
#include <opencv2/imgproc.hpp>
#include <opencv2/video/tracking.hpp>
#include <string>
#include <vector>

#include "CommonUtilities/algorithm_support/kiv_exception.h"
#include "StereoAnalyzer/StereoPeopleCounter/block_parameters.h"
#include "StereoAnalyzer/StereoPeopleCounter/circle_iterator.h"

namespace {

using Points = std::deque<cv::Point>;
using Records = std::vector<stereo::StereoCountingObjData>;

const cv::Size kFrame(144, 108);
constexpr int kRadius = 8;

cv::Mat_<uchar> Texture(cv::Size size, unsigned seed)
{
    cv::Mat_<uchar> texture(size);
    cv::RNG rng(seed);
    rng.fill(texture, cv::RNG::UNIFORM, 0, 256);
    cv::GaussianBlur(texture, texture, cv::Size(0, 0), 1.2);
    return texture;
}

// A textured head-sized disc centred at `centre` over a textured background: the disc's texture (a
// default one unless given) moves with it.
cv::Mat_<uchar> DiscFrame(const cv::Point& centre, cv::Mat_<uchar> disc = cv::Mat_<uchar>())
{
    if (disc.empty())
        disc = Texture(cv::Size(2 * kRadius + 1, 2 * kRadius + 1), 11) + 40;
    cv::Mat_<uchar> frame = Texture(kFrame, 7);
    for (stereo::CircleIterator it(centre, kRadius, kFrame); !it.IsFinished(); it.MoveToNextPosition()) {
        const cv::Point& p = it.Position();
        frame(p) = disc(p.y - centre.y + kRadius, p.x - centre.x + kRadius);
    }
    return frame;
}

class ExposedTracker : public tracker::LukasKanadeTracker {
public:
    using LukasKanadeTracker::GetTrackRef;
    using LukasKanadeTracker::LukasKanadeTracker;
    int MaxDroppedFrames() const { return m_max_dropped_frames(); }
    bool AlignsByFlow() const { return m_use_optic_flow_for_dropped_tracks_align(); }
};

// The stereo counter's way of owning its tracker: a child block named "Tracker".
class CounterBlock : public BlockHighlevel::LightBlock<BlockEntities::IAlgoEntityBase> {
public:
    explicit CounterBlock(stereo::IDGenerator& ids) : tracker("Tracker", GetChildrenRegistry(), ids) {}
    BlockHighlevel::ChildBlock<ExposedTracker> tracker;
};

// A tracker with ids of its own (from 1), its parameters loaded from the given "[Tracker]" lines.
struct LoadedTracker {
    explicit LoadedTracker(const std::string& section, int radius = kRadius)
    {
        LoadBlockParameters(tracker, "Tracker", "[Tracker]\n" + section);
        tracker.Init(kFrame, cv::Mat_<uchar>::zeros(kFrame), radius, 4, 3 * radius);
    }

    Records Frame(const cv::Mat_<uchar>& image, const Points& points)
    {
        tracker.UpdateTracksGreedyAlg(image, image, points);
        Records records;
        tracker.GetObjects(records);
        return records;
    }

    stereo::ObjectIdSequence sequence;
    stereo::IDGenerator ids{sequence};
    ExposedTracker tracker{ids};
};

TEST(LukasKanadeTrackerTest, MovingTexturedDiscKeepsOneIdMatchedEveryFrame)
{
    LoadedTracker t("");
    for (int frame = 0; frame < 60; ++frame) {
        const cv::Point centre(20 + 2 * frame, 40 + frame / 3);
        const Records records = t.Frame(DiscFrame(centre), Points{centre});
        ASSERT_EQ(records.size(), 1u) << "frame " << frame;
        EXPECT_EQ(records[0].object_id, 1) << "frame " << frame;
        EXPECT_EQ(t.tracker.GetTrackRef(0).m_dropped_frames, 0) << "frame " << frame;
        EXPECT_EQ(cv::Point(records[0].point_x, records[0].point_y), centre);
    }
    EXPECT_EQ(t.tracker.GetTrackRef(0).m_valid_frames_num, 60);
    EXPECT_TRUE(t.tracker.GetTrackRef(0).CalculateIfValid(4, 3 * kRadius));
}

TEST(LukasKanadeTrackerTest, GapWithoutDetectionsIsBridgedByOpticFlow)
{
    LoadedTracker t("");
    for (int frame = 0; frame < 40; ++frame) {
        const cv::Point centre(20 + 2 * frame, 54);
        const bool gap = frame >= 15 && frame < 20;
        const Records records = t.Frame(DiscFrame(centre), gap ? Points{} : Points{centre});
        ASSERT_EQ(records.size(), 1u) << "frame " << frame;
        EXPECT_EQ(records[0].object_id, 1) << "frame " << frame;
        EXPECT_FALSE(records[0].track_ends) << "frame " << frame;
        const auto& track = t.tracker.GetTrackRef(0);
        EXPECT_EQ(track.m_dropped_frames, gap ? frame - 14 : 0) << "frame " << frame;
        EXPECT_EQ(track.m_path.back().is_detected, !gap) << "frame " << frame;
        // Carried along with the disc, reported at its last detection.
        EXPECT_NEAR(track.m_features.m_point.x, centre.x, 2) << "frame " << frame;
        EXPECT_EQ(records[0].point_x, gap ? 20 + 2 * 14 : centre.x) << "frame " << frame;
    }
}

TEST(LukasKanadeTrackerTest, TrackWithoutMeasuredVelocityEndsWhenCarried)
{
    LoadedTracker t("");
    const cv::Mat_<uchar> flat(kFrame, uchar{90});
    t.Frame(flat, Points{{70, 50}});
    const Records records = t.Frame(flat, Points{});
    ASSERT_EQ(records.size(), 1u);
    const float absent = t.tracker.AbsentVelocityValue();
    EXPECT_EQ(t.tracker.GetTrackRef(0).m_features.m_velocity, cv::Point2f(absent, absent));
    EXPECT_TRUE(records[0].track_ends);
}

TEST(LukasKanadeTrackerTest, SecondPassMatchesDroppedTrackBySimilarPatch)
{
    struct Case {
        int brightness_change;
        bool same_track;
    };
    // The median grey difference + 1 must stay below 40.
    for (const Case c : {Case{38, true}, Case{39, false}, Case{-38, true}}) {
        SCOPED_TRACE(c.brightness_change);
        LoadedTracker t("track_objects_with_dropped_frames=false\n");
        const cv::Mat_<uchar> before(kFrame, uchar{100});
        const cv::Mat_<uchar> after(kFrame, static_cast<uchar>(100 + c.brightness_change));
        t.Frame(before, Points{{60, 50}});
        t.Frame(after, Points{});
        ASSERT_EQ(t.tracker.GetTrackRef(0).m_dropped_frames, 1);
        // Within three radii of the track's (still) position.
        const Records records = t.Frame(after, Points{{60 + 3 * kRadius - 1, 50}});
        ASSERT_EQ(records.size(), c.same_track ? 1u : 2u);
        EXPECT_EQ(t.tracker.GetTrackRef(0).m_dropped_frames == 0, c.same_track);
    }
}

TEST(LukasKanadeTrackerTest, SecondPassAlignsPatchesByOpticFlowWhenAsked)
{
    // A checkerboard of 3-pixel cells: shifted by 2 pixels most of it is inverted.
    cv::Mat_<uchar> checker(2 * kRadius + 1, 2 * kRadius + 1);
    for (int y = 0; y < checker.rows; ++y) {
        for (int x = 0; x < checker.cols; ++x) checker(y, x) = ((x / 3 + y / 3) % 2) ? 220 : 40;
    }
    cv::GaussianBlur(checker, checker, cv::Size(0, 0), 0.8);
    const cv::Mat_<uchar> frame = DiscFrame({50, 54}, checker);
    for (const bool align : {false, true}) {
        SCOPED_TRACE(align);
        LoadedTracker t(std::string("track_objects_with_dropped_frames=false\n") +
                        "Stereo_use_optic_flow_for_dropped_tracks_align=" + (align ? "true" : "false") + "\n");
        t.Frame(frame, Points{{50, 54}});
        t.Frame(frame, Points{});
        // The head point lands 2 pixels off the disc's centre: only aligned patches look alike.
        t.Frame(frame, Points{{52, 54}});
        EXPECT_EQ(t.tracker.GetTrackRef(0).m_dropped_frames == 0, align);
        EXPECT_EQ(t.tracker.TracksNum(), align ? 1 : 2);
    }
}

TEST(LukasKanadeTrackerTest, FirstPassAcceptsObjectsCloserThanOneAndAHalfRadii)
{
    // The flow velocity rounds to (2, 0), so the distance to the prediction is the offset of the
    // detection from the disc's true centre; 1.5 radii = 12 pixels: a penalty of exactly 10.0 is not
    // a match. Offsets of 11.4 pixels lie between 1.4 and 1.5 radii.
    const struct {
        cv::Point offset;
        bool matched;
    } cases[] = {{{11, 0}, true}, {{12, 0}, false}, {{-11, 0}, true}, {{-12, 0}, false},
                 {{11, 3}, true}, {{-9, -7}, true}, {{8, 9}, false}};
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.offset);
        LoadedTracker t("");
        t.Frame(DiscFrame({50, 54}), Points{{50, 54}});
        t.Frame(DiscFrame({52, 54}), Points{cv::Point(52, 54) + c.offset});
        EXPECT_EQ(t.tracker.GetTrackRef(0).m_dropped_frames == 0, c.matched);
        EXPECT_EQ(t.tracker.TracksNum(), c.matched ? 1 : 2);
    }
}

TEST(LukasKanadeTrackerTest, VelocityIsTheUpperMiddleOfTheCornerShifts)
{
    // The tracker's flow, redone here with OpenCV on the corners of the track's disc: its velocity
    // is the element n / 2 of the sorted shifts (x and y apart). The track is not matched in the
    // second frame, so it keeps the velocity measured there. The disc textures give even corner
    // counts, where the upper and the lower middle differ.
    const struct {
        cv::Point from, to;
        unsigned seed;
    } cases[] = {{{50, 54}, {52, 54}, 15}, {{60, 40}, {61, 42}, 16}, {{70, 60}, {67, 61}, 17}};
    int even_with_distinct_middles = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.from << " -> " << c.to);
        LoadedTracker t("track_objects_with_dropped_frames=false\n");
        const cv::Mat_<uchar> disc = Texture(cv::Size(2 * kRadius + 1, 2 * kRadius + 1), c.seed) + 40;
        const cv::Mat_<uchar> first = DiscFrame(c.from, disc), second = DiscFrame(c.to, disc);
        t.Frame(first, Points{c.from});
        const cv::Mat_<cv::Vec2f> corners = t.tracker.GetTrackRef(0).m_features.m_corners.clone();
        t.Frame(second, Points{});
        std::vector<cv::Point2f> from;
        for (int k = 0; k < corners.rows; ++k)
            from.emplace_back(corners(k, 0)[0] + static_cast<float>(c.from.x - kRadius),
                              corners(k, 0)[1] + static_cast<float>(c.from.y - kRadius));
        std::vector<cv::Point2f> to;
        std::vector<uchar> status;
        std::vector<float> errors;
        cv::calcOpticalFlowPyrLK(first, second, from, to, status, errors, cv::Size(kRadius, kRadius), 3,
                                 cv::TermCriteria(cv::TermCriteria::COUNT | cv::TermCriteria::EPS, 30, 0.01), 0,
                                 0.0001);
        const cv::Rect frame(cv::Point(0, 0), kFrame);
        std::vector<float> xs, ys;
        for (std::size_t k = 0; k < from.size(); ++k) {
            if (!status[k] || !frame.contains(to[k]))
                continue;
            xs.push_back(to[k].x - from[k].x);
            ys.push_back(to[k].y - from[k].y);
        }
        ASSERT_FALSE(xs.empty());
        std::sort(xs.begin(), xs.end());
        std::sort(ys.begin(), ys.end());
        const std::size_t middle = xs.size() / 2;
        EXPECT_EQ(t.tracker.GetTrackRef(0).m_features.m_velocity, cv::Point2f(xs[middle], ys[middle]));
        if (xs.size() % 2 == 0 && (xs[middle - 1] != xs[middle] || ys[middle - 1] != ys[middle]))
            ++even_with_distinct_middles;
    }
    EXPECT_GT(even_with_distinct_middles, 0) << "no case tells the upper from the lower middle";
}

TEST(LukasKanadeTrackerTest, SecondPassPredictsOneStepPerDroppedFrameAndOne)
{
    // Four detections 2 pixels apart, then one frame without: the prediction for the next frame is
    // the last detection + (1 dropped + 1) x (2, 0) = (60, 54), and three radii (24 pixels) around it
    // are accepted. The disc stands where the detection is, so the patches are alike.
    const struct {
        int x;
        bool matched;
    } cases[] = {{83, true}, {84, false}, {37, true}, {35, false}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.x);
        LoadedTracker t("track_objects_with_dropped_frames=false\n");
        for (int frame = 0; frame < 4; ++frame) {
            const cv::Point centre(50 + 2 * frame, 54);
            t.Frame(DiscFrame(centre), Points{centre});
        }
        t.Frame(DiscFrame({58, 54}), Points{});
        ASSERT_EQ(t.tracker.GetTrackRef(0).m_dropped_frames, 1);
        t.Frame(DiscFrame({c.x, 54}), Points{{c.x, 54}});
        EXPECT_EQ(t.tracker.GetTrackRef(0).m_dropped_frames == 0, c.matched);
        EXPECT_EQ(t.tracker.TracksNum(), c.matched ? 1 : 2);
    }
}

TEST(LukasKanadeTrackerTest, SmallObjectRadiusStillRunsTheFlow)
{
    LoadedTracker t("", 1);  // a 1-pixel window is raised to the smallest the flow accepts
    for (int frame = 0; frame < 3; ++frame) {
        const cv::Point centre(30 + frame, 30);
        ASSERT_NO_THROW(t.Frame(DiscFrame(centre), Points{centre}));
    }
}

TEST(LukasKanadeTrackerTest, DrawingShowsTrackAndShifts)
{
    LoadedTracker t("");
    t.Frame(DiscFrame({50, 54}), Points{{50, 54}});
    t.Frame(DiscFrame({52, 54}), Points{{52, 54}});
    cv::Mat_<cv::Vec3b> picture = cv::Mat_<cv::Vec3b>::zeros(kFrame);
    t.tracker.Draw(nullptr);
    t.tracker.Draw(&picture);
    // The track's features were just replaced by the matched object's, whose velocity is still
    // (0, 0): the region shift is a magenta dot on the track's point, drawn last.
    EXPECT_EQ(picture(54, 52), cv::Vec3b(255, 0, 255));
    // The track id is written in green.
    cv::Mat green;
    cv::inRange(picture, cv::Scalar(0, 255, 0), cv::Scalar(0, 255, 0), green);
    EXPECT_GT(cv::countNonZero(green), 0);
    // Corner shifts are white; the circle at radius 8 is white too, so look inside the disc.
    int white_inside = 0;
    for (stereo::CircleIterator it({52, 54}, kRadius - 2, kFrame); !it.IsFinished(); it.MoveToNextPosition())
        white_inside += picture(it.Position()) == cv::Vec3b(255, 255, 255) ? 1 : 0;
    EXPECT_GT(white_inside, 0);

    // A carried track: blue circle around its path's end, a blue step to it.
    t.Frame(DiscFrame({54, 54}), Points{});
    const cv::Point end = t.tracker.GetTrackRef(0).GetPathEndPoint();
    picture.setTo(cv::Scalar::all(0));
    t.tracker.Draw(&picture);
    EXPECT_EQ(picture(end.y, end.x + kRadius), cv::Vec3b(255, 0, 0));
}

TEST(LukasKanadeTrackerTest, ParametersLoadAsAChildBlockOfTheCounter)
{
    stereo::ObjectIdSequence sequence;
    stereo::IDGenerator ids(sequence);
    CounterBlock counter(ids);
    LoadBlockParameters(counter, "StereoPeopleCounter",
                        "[StereoPeopleCounter--Tracker]\nStereo_max_dropped_frames=12\n"
                        "Stereo_use_optic_flow_for_dropped_tracks_align=true\n");
    EXPECT_EQ(counter.tracker.MaxDroppedFrames(), 12);
    EXPECT_TRUE(counter.tracker.AlignsByFlow());
}

TEST(CornersDetectorTest, FlatPatchFallsBackToSpacedScanOrderPicks)
{
    tracker::CornersDetector detector;
    const int side = 2 * kRadius + 1;
    const cv::Mat flat(side, side, CV_8UC1, cv::Scalar(120));
    cv::Mat mask = cv::Mat::zeros(side, side, CV_8UC1);
    for (stereo::CircleIterator it({kRadius, kRadius}, kRadius, cv::Size(side, side)); !it.IsFinished();
         it.MoveToNextPosition())
        mask.at<uchar>(it.Position()) = 255;
    cv::Mat corners;
    detector.FindCorners(flat, mask, corners);
    ASSERT_EQ(corners.type(), CV_32FC2);
    ASSERT_GT(corners.rows, 4);
    std::vector<cv::Point2f> picks;
    for (int k = 0; k < corners.rows; ++k) {
        const cv::Vec2f p = corners.at<cv::Vec2f>(k, 0);
        const cv::Point2f point(p[0], p[1]);
        EXPECT_NE(mask.at<uchar>(static_cast<int>(point.y), static_cast<int>(point.x)), 0);
        for (const cv::Point2f& earlier : picks)
            EXPECT_TRUE(std::abs(point.x - earlier.x) > 3 || std::abs(point.y - earlier.y) > 3);
        if (!picks.empty()) {
            const cv::Point2f& last = picks.back();
            EXPECT_TRUE(point.y > last.y || (point.y == last.y && point.x > last.x)) << "scan order";
            if (point.y == last.y) {
                EXPECT_GE(point.x - last.x, 4.f);
            }
        }
        picks.push_back(point);
    }
    // The first row of the disc (y = 0) holds its pixels x = 6..10: picks at 6 and 10.
    EXPECT_EQ(picks[0], cv::Point2f(6, 0));
    EXPECT_EQ(picks[1], cv::Point2f(10, 0));

    EXPECT_THROW(detector.FindCorners(flat, cv::Mat::zeros(side + 1, side, CV_8UC1), corners), exc::KIVException);
}

}  // namespace
