#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cmath>
#include <deque>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "CommonUtilities/ParameterAccess/load_parameters.h"
#include "CommonUtilities/ParameterAccess/temp_ini_dir.h"
#include "CommonUtilities/algorithm_support/block_traverse.h"
#include "CommonUtilities/algorithm_support/kiv_exception.h"
#include "StereoAnalyzer/StereoPeopleCounter/convex_shell.h"
#include "StereoAnalyzer/StereoPeopleCounter/objects_filter_by_motion.h"
#include "StereoAnalyzer/StereoPeopleCounter/polygons_around_objects.h"

namespace {

using AlgoLibrary::convex_shell_helpers::GetConvexShellImpl;

// A camera 260 cm above the floor looking straight down, focal length 100 px, 160x120 pixels.
class DownwardCamera : public BlockHighlevel::LightBlock<stereo::IScene3DReconstructor> {
public:
    static constexpr float kMount = 260.f, kFocal = 100.f, kCx = 80.f, kCy = 60.f;
    void Init(int, int, double) override {}
    void Init(int, int) override {}
    void GetValidPixelsMask(stereo::eLeftOrRightView, cv::Mat&) const override {}
    void RectifyView(const cv::Mat&, stereo::eLeftOrRightView, int, cv::Mat&) const override {}
    void RectifyPointCoord(int, int, stereo::eLeftOrRightView, std::deque<cv::Point>&) const override {}
    void UnrectifyPointCoord(int, int, stereo::eLeftOrRightView, int&, int&) const override {}
    void FindWorld3DCoordinateOfImagePoint(const cv::Point& p, int height, stereo::eLeftOrRightView,
                                           cv::Point3f& world) const override
    {
        const float depth = kMount - height;
        world = cv::Point3f((p.x - kCx) * depth / kFocal, (p.y - kCy) * depth / kFocal, float(height));
    }
    void ProjectPointToImage(const cv::Point3f& w, stereo::eLeftOrRightView, cv::Point& p) const override
    {
        const float depth = kMount - w.z;
        p = cv::Point(cvRound(kFocal * w.x / depth + kCx), cvRound(kFocal * w.y / depth + kCy));
    }
    void CalculateDepthFromDisparity(const cv::Mat&, stereo::eLeftOrRightView, cv::Mat&) const override {}
    void CalculateDepthFromDisparityUsingReprojection(const cv::Mat&, stereo::eLeftOrRightView, cv::Mat&) override {}
    void CalculateHeightFromDisparity(const cv::Mat&, stereo::eLeftOrRightView, cv::Mat&) const override {}
    void GetSceneParams(stereo::SceneParams&) const override {}
    cv::Size GetFrameSize() const override { return {160, 120}; }
};

template <typename B>
std::unique_ptr<B> Loaded(const std::string& values = "")
{
    TempIniDir dir;
    const std::string ini = dir.Write("algo.ini", "[Block]\n" + values);
    auto block = std::make_unique<B>();
    block->GetModifiableContext().SetName("Block");
    BlockEntities::TraverseSetContexts(block.get());
    ParamsLib::load_parameters(ini.c_str(), 0, block.get(), nullptr);
    return block;
}

TEST(ConvexShellTest, WrapsFromTheLowestPointTowardsTheRightKeepingEdgePoints)
{
    std::vector<cv::Point> shell;
    const std::vector<cv::Point> three{{5, 5}, {0, 0}, {9, 1}};
    EXPECT_FALSE(GetConvexShellImpl(three, shell));
    EXPECT_EQ(shell, three);

    // A square with a point inside and one in the middle of its right edge.
    const std::vector<cv::Point> square{{0, 0}, {10, 0}, {10, 10}, {0, 10}, {5, 5}, {10, 5}, {0, 10}};
    ASSERT_TRUE(GetConvexShellImpl(square, shell));
    EXPECT_EQ(shell, (std::vector<cv::Point>{{0, 10}, {10, 10}, {10, 5}, {10, 0}, {0, 0}}));
}

TEST(PolygonWithMonotonicAlongXEdgesTest, RowSpansCoverEveryRowWithoutGaps)
{
    stereo::Outline polygon;
    EXPECT_THROW(polygon.Init({{0, 0}, {4, 4}}), exc::KIVException);

    polygon.Init({{2, 3}, {6, 3}, {6, 5}, {2, 5}});
    EXPECT_EQ(polygon.SmallestY(), 3);
    EXPECT_EQ(polygon.PixelCount(), 15);
    cv::Point pixel;
    int visited = 0;
    for (polygon.StartWalk(); polygon.NextPixel(pixel); ++visited)
        ASSERT_TRUE(pixel.x >= 2 && pixel.x <= 6 && pixel.y >= 3 && pixel.y <= 5);
    EXPECT_EQ(visited, 15);

    // A steep thin triangle: every row between its extremes has a span.
    polygon.Init({{10, 0}, {12, 40}, {11, 41}});
    for (const auto& span : polygon.RowSpans()) EXPECT_LE(span.first, span.second);
    EXPECT_EQ(polygon.RowSpans().size(), 42u);
}

TEST(PolygonsAroundObjectsTest, OutlinesSurroundTheHeadsAndStayInsideThePicture)
{
    auto polygons = Loaded<stereo::PolygonsAroundObjects>();
    DownwardCamera camera;
    std::deque<int> heights{180, 170};
    std::deque<cv::Point> points{{80, 60}, {2, 118}};
    polygons->CalcPolygonsAroundObjects(heights, camera, points);
    ASSERT_EQ(polygons->ValidOutlines(), 2u);
    const auto& centre = polygons->Outlines()[0];
    const auto& span = centre.RowSpans()[60 - centre.SmallestY()];
    EXPECT_LT(span.first, 80);
    EXPECT_GT(span.second, 80);
    for (const auto& v : polygons->Outlines()[1].Vertices())
        EXPECT_TRUE(v.x >= 0 && v.x < 160 && v.y >= 0 && v.y < 120) << v;

    heights.pop_back();
    EXPECT_THROW(polygons->CalcPolygonsAroundObjects(heights, camera, points), exc::KIVException);
    polygons->CalcPolygonsAroundObjects({}, camera, {});
    EXPECT_EQ(polygons->ValidOutlines(), 0u);
    cv::Mat wrong(10, 10, CV_8UC3);
    EXPECT_THROW(polygons->DrawPolygons(wrong), exc::KIVException);
}

TEST(ObjectsFilterByMotionTest, DeletesStillObjectsFromPointsAndHeightsTogether)
{
    DownwardCamera camera;
    cv::Mat_<unsigned char> difference(120, 160, uchar(0));
    // The person on the left moves: a ramp of differences 0..99 over its area.
    for (int r = 0; r < 120; ++r)
        for (int c = 0; c < 60; ++c) difference(r, c) = static_cast<uchar>((r * 60 + c) % 100);
    auto filter = Loaded<stereo::ObjectsFilterByMotion>();
    std::deque<int> heights{180, 175};
    std::deque<cv::Point> points{{30, 60}, {120, 60}};
    filter->DeleteObjectsWithNoMotion(difference, heights, camera, points);
    EXPECT_EQ(points, (std::deque<cv::Point>{{30, 60}}));
    EXPECT_EQ(heights, (std::deque<int>{180}));
    EXPECT_EQ(filter->Values()[1], 0);
    EXPECT_GE(filter->Values()[0], 60);  // between the 70% and 90% quantiles of 0..99
    EXPECT_LE(filter->Values()[0], 90);

    // The quantile rates, on the ramp whose values spread over 0..99: the mean of the sorted outline
    // values at ranks round(q1 (n - 1)) .. round(q2 (n - 1)), rounded. The outline is the one the
    // outline block builds with the same (default) settings.
    auto polygons = Loaded<stereo::PolygonsAroundObjects>();
    polygons->CalcPolygonsAroundObjects({180}, camera, {{30, 60}});
    std::vector<int> sorted;
    cv::Point pixel;
    stereo::Outline outline = polygons->Outlines()[0];
    for (outline.StartWalk(); outline.NextPixel(pixel);) sorted.push_back(difference(pixel));
    std::sort(sorted.begin(), sorted.end());
    const long long n = static_cast<long long>(sorted.size());
    const auto trimmed_mean = [&](double q1, double q2) {
        const long long first = std::llround(q1 * (n - 1)), last = std::llround(q2 * (n - 1));
        long long sum = 0;
        for (long long r = first; r <= last; ++r) sum += sorted[static_cast<std::size_t>(r)];
        const long long count = last - first + 1;
        return static_cast<int>((2 * sum + count) / (2 * count));
    };
    // One rank next to a change of value: q (n - 1) = k + 0.6 is rank k + 1, k + 0.4 is rank k.
    std::size_t k = sorted.size() / 5;
    while (sorted[k] == sorted[k + 1]) ++k;
    const auto single = [n](double rank) {
        std::ostringstream q;
        q.precision(9);
        q << rank / static_cast<double>(n - 1);
        return "Stereo_m_med_low_rate=" + q.str() + "\nStereo_m_med_high_rate=" + q.str() + "\n";
    };
    const struct {
        std::string rates;
        int expected;
    } cases[] = {{"", trimmed_mean(0.7f, 0.9f)},
                 {"Stereo_m_med_low_rate=0.9\nStereo_m_med_high_rate=0.7\n", trimmed_mean(0.7f, 0.9f)},
                 {"Stereo_m_med_low_rate=0\nStereo_m_med_high_rate=1\n", trimmed_mean(0, 1)},
                 {"Stereo_m_med_low_rate=0\nStereo_m_med_high_rate=0.3\n", trimmed_mean(0, 0.3f)},
                 {"Stereo_m_med_low_rate=0.5\nStereo_m_med_high_rate=0.5\n", sorted[sorted.size() / 2]},
                 {"Stereo_m_med_low_rate=1\nStereo_m_med_high_rate=1\n", sorted.back()},
                 {single(k + 0.6), sorted[k + 1]},
                 {single(k + 0.4), sorted[k]}};
    ASSERT_NE(trimmed_mean(0.7f, 0.9f), trimmed_mean(0.6f, 0.8f));
    for (const auto& c : cases) {
        auto other = Loaded<stereo::ObjectsFilterByMotion>(c.rates);
        std::deque<int> h{180};
        std::deque<cv::Point> p{{30, 60}};
        other->DeleteObjectsWithNoMotion(difference, h, camera, p);
        EXPECT_EQ(other->Values()[0], c.expected) << c.rates;
    }
    for (const char* rates : {"Stereo_m_med_low_rate=-0.1\n", "Stereo_m_med_high_rate=1.5\n"}) {
        auto bad = Loaded<stereo::ObjectsFilterByMotion>(rates);
        std::deque<int> h{180};
        std::deque<cv::Point> p{{30, 60}};
        EXPECT_THROW(bad->DeleteObjectsWithNoMotion(difference, h, camera, p), exc::KIVException) << rates;
    }
}

}  // namespace
