#include "PeopleCounter/analytics/traffic_controller/src/primitives/point_tracker.h"

#include <gtest/gtest.h>
#include <sys/mman.h>
#include <unistd.h>

#include <array>
#include <cmath>
#include <memory>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

#include "CommonUtilities/DebugInterfaces/recording_log.h"
#include "CommonUtilities/ParameterAccess/load_parameters.h"
#include "CommonUtilities/ParameterAccess/temp_ini_dir.h"
#include "CommonUtilities/algorithm_support/block_traverse.h"
#include "CommonUtilities/algorithm_support/kiv_exception.h"
#include "PeopleCounter/analytics/traffic_controller/primitives/textured_blob.h"
#include "PeopleCounter/analytics/traffic_controller/src/primitives/point_correlation.h"

namespace {

using Point = AlgoLibrary::TPoint<int>;
constexpr int kW = TexturedBlobScene::kWidth;
constexpr int kH = TexturedBlobScene::kHeight;
constexpr int64_t kFrameTicks = 400000;

// What the traffic controller passes.
TrackingParameters ControllerParameters()
{
    TrackingParameters p;
    p.comparison_mode = 1;
    p.min_diameter = 0;
    p.min_length = 1;
    return p;
}

class PointTrackerTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        tracker.GetModifiableContext().SetName("Tracker");
        BlockEntities::TraverseSetContexts(&tracker);
        tracker.SetDebugInterfaces(BlockEntities::DebugInterfaces(log, nullptr, nullptr));
        ParamsLib::load_parameters(Ini("").c_str(), 0, &tracker, log);
        tracker.Init(kW, kH, ControllerParameters(), nullptr);
        scene.Render(40, 60, image);
    }

    std::string Ini(const std::string& tracker_section)
    {
        return dir.Write("algo.ini", "[Tracker]\n" + tracker_section);
    }

    avector<KPoint> Keys(std::initializer_list<KPoint> list)
    {
        avector<KPoint> keys{avector<KPoint>::allocator_type(manager)};
        keys.assign(list.begin(), list.end());
        return keys;
    }

    void Frame(const avector<KPoint>& keys) { tracker.TrackingPoints(image, time += kFrameTicks, keys); }

    AlgoLibrary::MemManager::MemoryManager manager;
    CPointTracker tracker{manager};
    std::shared_ptr<RecordingLog> log = std::make_shared<RecordingLog>();
    TempIniDir dir;
    TexturedBlobScene scene;
    avector<unsigned char> image{avector<unsigned char>::allocator_type(manager)};
    int64_t time = 130000000000000000LL;
};

TEST_F(PointTrackerTest, ParametersLoadFromTheIniFileWithinTheirRanges)
{
    std::vector<std::string> names;
    tracker.ForEachParameter([&names](ParamsLib::BaseParameter& p) { names.push_back(p.GetName()); });
    EXPECT_EQ(names, (std::vector<std::string>{"lambda_low_thr", "lambda_high_thr", "nsmooth_img", "min_any_track_age",
                                               "min_track_diameter", "min_fast_track_age", "min_fast_track_speed",
                                               "min_slow_track_age", "min_slow_track_speed"}));
    const auto& d = tracker.GetDetectorParameters();
    ParamsLib::load_parameters(Ini("lambda_high_thr=35\nmin_any_track_age=-4\n").c_str(), 0, &tracker, log);
    EXPECT_EQ(d.lambda_high_thr(), 35);
    EXPECT_FLOAT_EQ(d.min_any_track_age(), 0.f);  // its range starts at 0
}

TEST_F(PointTrackerTest, RefusesUseBeforeSetUpAndBadSetUps)
{
    AlgoLibrary::MemManager::MemoryManager other_manager;
    CPointTracker fresh(other_manager);
    try {
        fresh.TrackingPoints(image, 0, Keys({}));
        ADD_FAILURE();
    } catch (const std::logic_error& e) {
        EXPECT_STREQ(e.what(), "Using of uninitialized class CPointTracker.");
    }
    // The median comparison needs a positive correlation scale, which the tracker never has.
    EXPECT_THROW(fresh.Init(kW, kH, TrackingParameters(), nullptr), exc::KIVException);
    EXPECT_THROW(fresh.Init(0, kH, ControllerParameters(), nullptr), exc::KIVException);
    avector<unsigned char> small(10, 0, avector<unsigned char>::allocator_type(manager));
    EXPECT_THROW(tracker.TrackingPoints(small, 0, Keys({})), exc::KIVException);
}

TEST_F(PointTrackerTest, StrongKeyPointsStartPathsNumberedInSectorOrder)
{
    // lambda + lambda_low_thr (20) must exceed lambda_high_thr (20).
    Frame(Keys({{100, 15, 1.f, 1}, {30, 100, 0.f, 1}, {12, 100, 0.5f, 1}, {30, 10, 3.f, 2}, {21, 15, 2.f, 1}}));
    const std::vector<IPoint>& points = tracker.GetPoints();
    ASSERT_EQ(points.size(), 4u);
    // Sectors (x / 20, y / 20): (0, 5) -> 1, (1, 0) -> 2 and 3 in key order, (5, 0) -> 4.
    const int expected[][3] = {{12, 100, 1}, {30, 10, 2}, {21, 15, 3}, {100, 15, 4}};
    for (std::size_t i = 0; i < points.size(); ++i) {
        EXPECT_EQ(points[i].x, expected[i][0]) << i;
        EXPECT_EQ(points[i].y, kH - 1 - expected[i][1]) << i;
        EXPECT_EQ(points[i].ID, expected[i][2]) << i;
        EXPECT_TRUE(points[i].valid) << "one updated position is valid with the controller's parameters";
        EXPECT_EQ(points[i].diameter, 0);
        EXPECT_EQ(points[i].stationary_flags, 0);
        ASSERT_NE(points[i].attached_object, nullptr);
        EXPECT_EQ(*points[i].attached_object, nullptr);
    }
    // The previous image of the next frame is this frame smoothed: a 5 x 5 mean.
    const avector<unsigned char>& previous = tracker.GetPreviousImage();
    int sum = 0;
    for (int dy = -2; dy <= 2; ++dy)
        for (int dx = -2; dx <= 2; ++dx) sum += image[static_cast<std::size_t>((60 + dy) * kW + 40 + dx)];
    EXPECT_EQ(previous[static_cast<std::size_t>(60 * kW + 40)], (sum + 12) / 25);
}

TEST_F(PointTrackerTest, MissedPathsLoseALifeEachFrameAndDieAtZero)
{
    Frame(Keys({{40, 60, 5.f, 1}}));
    ASSERT_EQ(tracker.GetPoints().size(), 1u);
    for (int lives = 4; lives >= 1; --lives) {
        Frame(Keys({}));
        ASSERT_EQ(tracker.GetPaths().size(), 1u);
        EXPECT_EQ(tracker.GetPaths().begin()->lives, lives);
        EXPECT_FALSE(tracker.GetPoints()[0].valid) << "a missed path is not valid";
    }
    Frame(Keys({}));
    EXPECT_TRUE(tracker.GetPoints().empty());
    EXPECT_EQ(tracker.GetPath(1), nullptr);
}

TEST_F(PointTrackerTest, TexturedBlobKeepsOnePathAcrossThirtyFrames)
{
    int64_t id = -1;
    for (int frame = 0; frame < 30; ++frame) {
        const int cx = 30 + 3 * frame;
        const int cy = 60 + (frame % 3 == 0 ? 1 : 0);
        scene.Render(cx, cy, image);
        Frame(Keys({{cx, cy, 10.f, 7}}));
        const std::vector<IPoint>& points = tracker.GetPoints();
        ASSERT_EQ(points.size(), 1u) << "frame " << frame;
        if (frame == 0)
            id = points[0].ID;
        EXPECT_EQ(points[0].ID, id) << "frame " << frame;
        EXPECT_TRUE(points[0].valid) << "frame " << frame;
        EXPECT_NEAR(points[0].x, cx, 1) << "frame " << frame;
        EXPECT_NEAR(points[0].y, kH - 1 - cy, 1) << "frame " << frame;
    }
    const PointPath::Positions* path = tracker.GetPath(id);
    ASSERT_NE(path, nullptr);
    EXPECT_EQ(path->size(), 30u);
    const PointPath& p = *tracker.GetPaths().begin();
    EXPECT_EQ(p.predictions->size(), 30u);
    EXPECT_EQ(p.history_count, 7);
    EXPECT_NEAR(p.prediction.x, 30 + 3 * 29, 1.5f) << "the last forecast continues the line";
    // 87 pixels over 29 frames (1.16 s) in units of a 10-pixel radius: more than the 1.0 diameter limit.
    EXPECT_NEAR(tracker.EstimateMaxDiameterToMinTypicalTrackLength(10.f), 8.7f, 0.15f);
}

TEST_F(PointTrackerTest, OtherRegionsWorkMaskAndNewSetUpsStartNoOrFreshPaths)
{
    Frame(Keys({{40, 60, 5.f, 1}}));
    // The same place in another region: the path is missed and the point starts path 2.
    Frame(Keys({{40, 60, 5.f, 2}}));
    ASSERT_EQ(tracker.GetPaths().size(), 2u);
    EXPECT_EQ(tracker.GetPaths().get<points_by_id>().find(1)->lives, 4);
    EXPECT_NE(tracker.GetPath(2), nullptr);

    std::vector<unsigned char> mask(kW * kH, 1);
    mask[static_cast<std::size_t>(90 * kW + 100)] = 0;
    tracker.SetWorkMask(mask.data());
    Frame(Keys({{100, 90, 5.f, 3}, {101, 90, 5.f, 4}}));
    EXPECT_EQ(tracker.GetPath(3)->front(), Point(101, 90)) << "no path starts where the mask is 0";
    EXPECT_EQ(tracker.GetPath(4), nullptr);

    // A second set-up forgets the paths and the previous image, and counts IDs from 1 again.
    tracker.Init(80, 60, ControllerParameters(), nullptr);
    EXPECT_TRUE(tracker.GetPaths().empty());
    EXPECT_TRUE(tracker.GetPreviousImage().empty());
    avector<unsigned char> small(80 * 60, 50, avector<unsigned char>::allocator_type(manager));
    tracker.TrackingPoints(small, time, Keys({{10, 10, 5.f, 1}}));
    ASSERT_EQ(tracker.GetPoints().size(), 1u);
    EXPECT_EQ(tracker.GetPoints()[0].ID, 1);
}

TEST_F(PointTrackerTest, MovementMeasureIgnoresYoungPathsAndScalesSmallOnes)
{
    EXPECT_EQ(tracker.EstimateMaxDiameterToMinTypicalTrackLength(10.f), 0.f);
    Frame(Keys({{40, 60, 5.f, 1}}));
    scene.Render(42, 60, image);
    Frame(Keys({{42, 60, 5.f, 1}}));
    // 40 ms old: younger than min_any_track_age (0.1 s).
    EXPECT_EQ(tracker.EstimateMaxDiameterToMinTypicalTrackLength(10.f), 0.f);
    Frame(Keys({{42, 60, 5.f, 1}}));
    Frame(Keys({{42, 60, 5.f, 1}}));
    // 0.12 s, diameter 2 / 10 = 0.2 below 1: speed = 2 / (0.12 x 10) = 1.667 tracks/s.
    // fast = min(0.12 / 0.5, 1) x 0.2 x min(1.667 / 1.5, 1) = 0.048; slow = 0.024 x 0.2 x 1 = 0.0048.
    EXPECT_NEAR(tracker.EstimateMaxDiameterToMinTypicalTrackLength(10.f), 0.048f, 1e-3f);
    EXPECT_THROW(tracker.EstimateMaxDiameterToMinTypicalTrackLength(0.f), exc::KIVException);
    // A slow-track age limit of 0 is reached at once: slow = 1 x 0.2 x min(1.667 / 0.5, 1) = 0.2.
    ParamsLib::load_parameters(Ini("min_slow_track_age=0\n").c_str(), 0, &tracker, log);
    EXPECT_NEAR(tracker.EstimateMaxDiameterToMinTypicalTrackLength(10.f), 0.2f, 1e-5f);
}

TEST_F(PointTrackerTest, TooManyPathsAreTruncatedWithAWarning)
{
    avector<KPoint> first{avector<KPoint>::allocator_type(manager)};
    avector<KPoint> second{avector<KPoint>::allocator_type(manager)};
    for (int i = 0; i < 1001; ++i) {
        first.push_back(KPoint{i % 160, (i / 160) * 2, 5.f, 1});
        second.push_back(KPoint{i % 160, 80 + (i / 160) * 2, 5.f, 2});
    }
    Frame(first);
    EXPECT_EQ(tracker.GetPaths().size(), 1000u) << "key points beyond the 1000th are ignored";
    EXPECT_TRUE(log->lines.empty());
    Frame(second);
    EXPECT_EQ(tracker.GetPaths().size(), 999u);
    ASSERT_EQ(log->lines.size(), 1u);
    EXPECT_EQ(log->lines[0].level, kKivLogWarning);
    EXPECT_EQ(log->lines[0].text, "m_paths.size() too big: 2000");
    // Paths with more than one life go first, in sector order: the 1001 of the columns of sectors
    // 0, 1 and 2 (280 + 280 + 240) and the first 201 of column 3.
    int old_paths = 0;
    for (const PointPath& p : tracker.GetPaths()) {
        EXPECT_GE(p.sector.first, 3);
        old_paths += p.lives == 4;
    }
    EXPECT_GT(old_paths, 0);
}

TEST_F(PointTrackerTest, GatesKeepCandidatesAwayFromUnlikelyPaths)
{
    // A distance map that records what it is asked.
    struct FixedRadius : IDistanceMap {
        int GetRadius(int x, int y, int width, int height) const override
        {
            asked.push_back({x, y, width, height});
            return radius;
        }
        int radius = 0;
        mutable std::vector<std::array<int, 4>> asked;
    };
    struct Case {
        const char* what;
        bool prediction_gate;
        int map_radius;  // -1: no map
        int still_frames;
        int step;  // pixels the blob moves in the last frame
        bool joined;
    };
    const Case cases[] = {
        {"no gate: a 7-pixel jump joins", false, -1, 7, 7, true},
        // Seven still samples: inverse covariance 1/9, so 49 / 9 > 4 leaves the ellipse.
        {"prediction ellipse: a 7-pixel jump does not join", true, -1, 7, 7, false},
        {"prediction ellipse: a 5-pixel step joins", true, -1, 7, 5, true},
        {"distance map radius 12: 3 pixels allowed", false, 12, 1, 3, true},
        {"distance map radius 8: 2 pixels allowed", false, 8, 1, 3, false},
        {"distance map radius 0: still 2 pixels allowed", false, 0, 1, 2, true},
    };
    for (const Case& c : cases) {
        FixedRadius map;
        map.radius = c.map_radius;
        TrackingParameters parameters = ControllerParameters();
        parameters.prediction_gate = c.prediction_gate;
        tracker.Init(kW, kH, parameters, c.map_radius >= 0 ? &map : nullptr);
        scene.Render(40, 60, image);
        for (int i = 0; i < c.still_frames; ++i) Frame(Keys({{40, 60, 5.f, 1}}));
        scene.Render(40 + c.step, 60, image);
        Frame(Keys({{40 + c.step, 60, 5.f, 1}}));
        const std::vector<IPoint>& points = tracker.GetPoints();
        ASSERT_EQ(points.size(), c.joined ? 1u : 2u) << c.what;
        EXPECT_EQ(tracker.GetPath(1)->back(), Point(c.joined ? 40 + c.step : 40, 60)) << c.what;
        if (c.map_radius >= 0) {
            ASSERT_FALSE(map.asked.empty()) << c.what;
            EXPECT_EQ(map.asked.back(), (std::array<int, 4>{40, kH - 1 - 60, kW, kH})) << c.what;
        }
    }
}

// A smooth picture with structure in both directions (periods of about 25 and 29 pixels).
template <typename Bytes>
void SmoothTexture(Bytes& out)
{
    out.assign(static_cast<std::size_t>(kW * kH), 0);
    for (int y = 0; y < kH; ++y)
        for (int x = 0; x < kW; ++x)
            out[static_cast<std::size_t>(y * kW + x)] =
                static_cast<unsigned char>(128 + 60 * std::sin(0.25 * x + 0.5) + 60 * std::sin(0.22 * y + 1.3));
}

// The greedy joining run in place of the assignment.
class FallbackTracker : public CPointTracker {
public:
    using CPointTracker::CPointTracker;
    void FallbackFrame(const avector<unsigned char>& image, int64_t time, const avector<KPoint>& points)
    {
        BeginFrame(image, time, points);
        DefaultCorrespondenceSolver();
        EndFrame();
    }
};

TEST_F(PointTrackerTest, FallbackJoinsMutualBestsAndVisitsEachPathOnce)
{
    AlgoLibrary::MemManager::MemoryManager other_manager;
    FallbackTracker fallback(other_manager);
    ParamsLib::load_parameters(Ini("").c_str(), 0, &fallback, log);
    fallback.Init(kW, kH, ControllerParameters(), nullptr);
    SmoothTexture(image);

    // Path 1 in sector (1, 4), path 2 in sector (2, 3); path 2 moves to sector (1, 3), before path 1.
    fallback.TrackingPoints(image, 1000, Keys({{30, 85, 5.f, 1}, {41, 70, 5.f, 1}}));
    ASSERT_EQ(fallback.GetPaths().size(), 2u);
    fallback.FallbackFrame(image, 2000, Keys({{30, 85, 5.f, 1}, {39, 70, 5.f, 1}}));
    const auto& by_id = fallback.GetPaths().get<points_by_id>();
    for (int64_t id : {1, 2}) {
        const PointPath& p = *by_id.find(id);
        EXPECT_TRUE(p.updated) << id;
        EXPECT_EQ(p.lives, 5) << id << ": visited once";
        EXPECT_EQ(p.points->size(), 2u) << id;
    }
    EXPECT_EQ(by_id.find(2)->position, Point(39, 70));

    // Paths 3 and 4, 5 pixels apart, one candidate on path 4: path 3's best candidate prefers
    // path 4, so path 3 is missed.
    fallback.Init(kW, kH, ControllerParameters(), nullptr);
    fallback.TrackingPoints(image, 1000, Keys({{48, 60, 5.f, 1}, {53, 60, 5.f, 1}}));
    fallback.FallbackFrame(image, 2000, Keys({{53, 60, 5.f, 1}}));
    const PointPath& left = *fallback.GetPaths().get<points_by_id>().find(1);
    const PointPath& right = *fallback.GetPaths().get<points_by_id>().find(2);
    EXPECT_FALSE(left.updated);
    EXPECT_EQ(left.lives, 4);
    EXPECT_TRUE(right.updated);
    EXPECT_EQ(right.lives, 5);
}

TEST(CorrelationTest, WindowDifferencesAndTheirLimits)
{
    AlgoLibrary::MemManager::MemoryManager manager;
    avector<unsigned char> a{avector<unsigned char>::allocator_type(manager)};
    TexturedBlobScene scene;
    scene.Render(60, 50, a);
    avector<unsigned char> brighter = a, black = a, moved = a, far_moved = a, outliers = a;
    for (auto& v : brighter) v = static_cast<unsigned char>(v / 2);
    std::fill(black.begin(), black.end(), 0);
    scene.Render(62, 49, moved);
    scene.Render(65, 50, far_moved);
    for (int i = 0; i < 45; ++i) outliers[static_cast<std::size_t>((43 + i / 15) * kW + 53 + i % 15)] += 60;

    const Point c(60, 50);
    struct Case {
        const char* what;
        const avector<unsigned char>& b;
        Point p, q;
        int mode;
        float scale;
        float low, high;
    };
    constexpr float kNone = Correlation::kNoMatch;
    const Case cases[] = {
        {"same place", a, c, c, 1, 0, 0, 0},
        {"one window a multiple of the other", brighter, c, c, 1, 0, 0, 0.02f},
        {"a black window", black, c, c, 1, 0, kNone, kNone},
        {"first point at the border", a, Point(6, 50), Point(8, 50), 1, 0, kNone, kNone},
        {"second point at the border, median", a, Point(10, 50), Point(10, 113), 0, 1, kNone, kNone},
        {"local search finds a shift of (2, -1)", moved, c, c, 1, 0, 0, 0},
        {"three steps at most", moved, c, Point(59, 50), 1, 0, 0, 0},
        {"a shift of 5 is out of reach", far_moved, c, c, 1, 0, 0.05f, 2},
        {"median ignores the 45 largest differences", outliers, c, c, 0, 2, 0, 0},
        {"median with a scale", brighter, c, c, 0, 4, 1, 1e9f},
    };
    for (const Case& t : cases) {
        const float score = Correlation::BestCorrelation(kW, a, t.b, t.scale, t.p, t.q, t.mode);
        EXPECT_GE(score, t.low) << t.what;
        EXPECT_LE(score, t.high) << t.what;
    }
    EXPECT_EQ(Correlation::CorrelatePoints(kW, a, a, 0, c, Point(81, 50)), kNone) << "21 pixels apart";
    EXPECT_EQ(Correlation::CorrelatePoints(kW, a, moved, 0, c, Point(62, 49)), 0.f);
    EXPECT_GT(Correlation::CorrelatePoints(kW, a, a, 0, c, Point(80, 50)), 0.f) << "20 pixels apart";
    EXPECT_THROW(Correlation::CorrelatePointsByMedian(kW, a, a, 0.f, c, c), exc::KIVException);
    EXPECT_THROW(Correlation::BestCorrelation(kW, a, a, -1.f, c, c, 0), exc::KIVException);
}

// Bytes that end right before a page the process may not read: reading past them faults.
class BytesBeforeAGuardPage {
public:
    explicit BytesBeforeAGuardPage(std::size_t size)
    {
        const std::size_t page = static_cast<std::size_t>(sysconf(_SC_PAGESIZE));
        m_length = (size + page - 1) / page * page + page;
        m_base = mmap(nullptr, m_length, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        if (m_base == MAP_FAILED)
            throw std::runtime_error("mmap failed");
        unsigned char* guard = static_cast<unsigned char*>(m_base) + m_length - page;
        if (mprotect(guard, page, PROT_NONE) != 0)
            throw std::runtime_error("mprotect failed");
        m_data = guard - size;
    }
    ~BytesBeforeAGuardPage() { munmap(m_base, m_length); }
    BytesBeforeAGuardPage(const BytesBeforeAGuardPage&) = delete;
    BytesBeforeAGuardPage& operator=(const BytesBeforeAGuardPage&) = delete;
    unsigned char* data() const { return m_data; }

private:
    void* m_base = nullptr;
    std::size_t m_length = 0;
    unsigned char* m_data = nullptr;
};

TEST(CorrelationTest, VectorWindowDifferenceEqualsScalarAndReadsOnlyTheImage)
{
    // Both 40 x 40 images end right before an unreadable page; windows reach the last pixel.
    constexpr int kSide = 40, kLast = kSide - 15;
    BytesBeforeAGuardPage a(kSide * kSide), b(kSide * kSide);
    std::mt19937 random(17);
    std::uniform_int_distribution<int> pixel(0, 255), coordinate(0, kLast);
    for (int trial = 0; trial < 300; ++trial) {
        for (int i = 0; i < kSide * kSide; ++i) {
            a.data()[i] = static_cast<unsigned char>(trial % 10 == 0 ? 255 : pixel(random));
            b.data()[i] = static_cast<unsigned char>(trial % 15 == 0 ? 0 : pixel(random));
        }
        const bool corner = trial % 3 == 0;  // both windows end at the last pixel
        const int ya = corner ? kLast : coordinate(random), xa = corner ? kLast : coordinate(random);
        const int yb = corner ? kLast : coordinate(random), xb = corner ? kLast : coordinate(random);
        const unsigned char* wa = a.data() + ya * kSide + xa;
        const unsigned char* wb = b.data() + yb * kSide + xb;
        int64_t scalar[3] = {-1, -1, -1}, vector[3] = {-2, -2, -2};
        const bool s = Correlation::detail::WindowDifference(wa, wb, kSide, AlgoLibrary::KernelPath::kScalar, scalar[0],
                                                             scalar[1], scalar[2]);
        const bool v = Correlation::detail::WindowDifference(wa, wb, kSide, AlgoLibrary::KernelPath::kVector, vector[0],
                                                             vector[1], vector[2]);
        ASSERT_EQ(s, v) << trial;
        EXPECT_EQ(scalar[0], vector[0]) << trial;
        EXPECT_EQ(scalar[1], vector[1]) << trial;
        if (s) {
            EXPECT_EQ(scalar[2], vector[2]) << trial;
        }
    }
}

}  // namespace
