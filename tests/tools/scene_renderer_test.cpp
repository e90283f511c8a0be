#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <stdexcept>
#include <string>

#include "tools/scene_renderer/renderer.h"
#include "tools/scene_renderer/scene_files.h"

namespace {

scene::Scene SmallScene()
{
    scene::Scene s;
    s.rig.width = 144;
    s.rig.height = 108;
    s.rig.focal = 90.0;
    s.frames = 80;
    return s;
}

TEST(SceneRendererTest, GroundTruthCountsEachPassOfTheLineWithItsDirection)
{
    scene::Scene s = SmallScene();
    s.people.push_back(scene::ParsePerson("0,-150,0,150,5,180,0"));     // down: in
    s.people.push_back(scene::ParsePerson("40,150,40,-150,5,170,10"));  // up: out
    s.people.push_back(scene::ParsePerson("-150,20,150,20,5,175,0"));   // along the line: nothing
    // Down 45 cm past the line, 10 frames standing, back up: in, then out.
    s.people.push_back(scene::ParsePerson("-40,-100,-40,45,5,160,0,0,10"));
    const auto truth = scene::GroundTruth(s);
    ASSERT_EQ(truth.size(), 4u);
    EXPECT_EQ(truth[0].person, 3);
    EXPECT_TRUE(truth[0].incoming);
    EXPECT_EQ(truth[0].frame, 21);
    EXPECT_EQ(truth[1].person, 0);
    EXPECT_TRUE(truth[1].incoming);
    EXPECT_EQ(truth[1].frame, 31);  // the head passes row 54 just after y = 0 (frame 30)
    EXPECT_EQ(truth[2].person, 1);
    EXPECT_FALSE(truth[2].incoming);
    EXPECT_DOUBLE_EQ(truth[2].height, 170.0);
    // 29 frames walking, 10 standing, then back: at frame 48 the head is at y = 0 again, above
    // the line.
    EXPECT_EQ(truth[3].person, 3);
    EXPECT_FALSE(truth[3].incoming);
    EXPECT_EQ(truth[3].frame, 48);
    EXPECT_EQ(s.people[3].LastFrame(), 68);
    double x = 0.0, y = 0.0;
    ASSERT_TRUE(s.people[3].PositionAt(68, x, y));
    EXPECT_DOUBLE_EQ(y, -100.0);
    EXPECT_FALSE(s.people[3].PositionAt(69, x, y));
    EXPECT_NE(scene::TruthText(s, truth).find("incoming 2\noutgoing 2\n"), std::string::npos);
}

// The body's top surface, looked at straight down across the shoulders (x) and along the walk (y).
struct Profile {
    double top = 0.0;                                  // highest point
    int top_part = scene::Renderer::kFloor;            // and what is there
    double shoulders_high = 0.0, shoulders_low = 1e9;  // of the visible shoulders
    double head_from = 1e9, head_to = -1e9, body_from = 1e9, body_to = -1e9;
    int outermost = scene::Renderer::kFloor;  // part at the far end
};

Profile ProfileOf(const std::string& person, bool across)
{
    scene::Scene s = SmallScene();
    s.people.push_back(scene::ParsePerson(person));
    const scene::Renderer renderer(s);
    Profile p;
    for (double at = -50.0; at <= 50.0; at += 0.05) {
        const auto hit = across ? renderer.RayAt(0, at, 0.0) : renderer.RayAt(0, 0.0, at);
        if (hit.part == scene::Renderer::kFloor)
            continue;
        const double z = s.rig.mount_height - hit.t;
        if (z > p.top) {
            p.top = z;
            p.top_part = hit.part;
        }
        if (hit.part == scene::Renderer::kShoulders) {
            p.shoulders_high = std::max(p.shoulders_high, z);
            p.shoulders_low = std::min(p.shoulders_low, z);
        }
        if (hit.part == scene::Renderer::kHead) {
            p.head_from = std::min(p.head_from, at);
            p.head_to = std::max(p.head_to, at);
        }
        p.body_from = std::min(p.body_from, at);
        p.body_to = std::max(p.body_to, at);
        p.outermost = hit.part;
    }
    return p;
}

TEST(SceneRendererTest, PeopleHaveAdultProportions)
{
    for (const double height : {150.0, 175.0, 200.0}) {
        const std::string person = "0,0,0,1,1," + std::to_string(height) + ",0";  // walks along y
        const Profile across = ProfileOf(person, true), along = ProfileOf(person, false);
        EXPECT_NEAR(across.top, height, 0.01) << height;
        // 0.26 of the height across the arms, which hang at the sides; 24 cm deep along the walk.
        EXPECT_NEAR(across.body_to - across.body_from, 0.26 * height, 0.2) << height;
        EXPECT_EQ(across.outermost, scene::Renderer::kArm) << height;
        EXPECT_NEAR(along.body_to - along.body_from, 24.0, 0.2) << height;
        // The head: 0.11 of the height long, longer than wide.
        const double head_width = across.head_to - across.head_from, head_length = along.head_to - along.head_from;
        EXPECT_NEAR(head_length, 0.11 * height, 0.2) << height;
        EXPECT_GT(head_length, 1.2 * head_width) << height;
        // Rounded shoulders: beside the head just below 0.83 of the height, falling off outwards.
        EXPECT_GT(across.shoulders_high, 0.815 * height) << height;
        EXPECT_LE(across.shoulders_high, 0.83 * height) << height;
        EXPECT_LT(across.shoulders_low, across.shoulders_high - 0.03 * height) << height;
    }
}

// A build changes the 175 cm body where it says and nowhere else; NaN: not looked at.
TEST(SceneRendererTest, BuildsChangeTheBodyWhereTheySay)
{
    const double kAny = std::numeric_limits<double>::quiet_NaN();
    const struct {
        const char* build;
        double width;  // across the body
        double top;    // highest point along the walk, and what is there
        int top_part;
        double back;        // rearmost point along the walk
        double head_at;     // middle of the head along the walk
        double head_width;  // across
    } cases[] = {
        {"", 45.5, 175.0, scene::Renderer::kHead, -12.0, 0.0, 15.4},
        {",shoulders=1.2", 54.6, 175.0, scene::Renderer::kHead, -12.0, 0.0, 15.4},
        {",hair=3", 45.5, 176.5, scene::Renderer::kHead, kAny, 0.0, 21.4},
        {",hood=1", 45.5, 177.4, scene::Renderer::kHood, kAny, kAny, kAny},
        {",bag=1", 45.5, 175.0, scene::Renderer::kHead, -27.0, 0.0, 15.4},
        {",bag=2", 57.5, 175.0, scene::Renderer::kHead, -12.0, 0.0, 15.4},
        // Leaning 10 degrees forward moves the head's middle (163.6 cm up) 28.85 cm forward, out
        // of the line across the feet.
        {",lean=10", kAny, 175.0, scene::Renderer::kHead, kAny, 28.85, kAny},
    };
    auto near = [](double actual, double expected) {
        return std::isnan(expected) || std::abs(actual - expected) < 0.2;
    };
    for (const auto& c : cases) {
        const std::string person = std::string("0,0,0,1,1,175,0,0,0") + c.build;
        const Profile across = ProfileOf(person, true), along = ProfileOf(person, false);
        EXPECT_PRED2(near, across.body_to - across.body_from, c.width) << c.build;
        EXPECT_PRED2(near, along.top, c.top) << c.build;
        EXPECT_EQ(along.top_part, c.top_part) << c.build;
        EXPECT_PRED2(near, along.body_from, c.back) << c.build;
        EXPECT_PRED2(near, (along.head_from + along.head_to) / 2.0, c.head_at) << c.build;
        EXPECT_PRED2(near, across.head_to - across.head_from, c.head_width) << c.build;
    }
}

TEST(SceneRendererTest, ViewsAreRectifiedWithTheDisparityOfTheirDepth)
{
    scene::Scene s = SmallScene();
    s.rig.mount_height = 270.0;
    s.people.push_back(scene::ParsePerson("0,0,0,1,1,180,0"));
    const scene::Renderer renderer(s);
    const cv::Mat left = renderer.RenderView(0, 0), right = renderer.RenderView(0, 1);
    // Floor rows far from the person: the right view is the left shifted by f·B/H pixels.
    const double floor_shift = s.rig.focal * s.rig.baseline / s.rig.mount_height;
    const int shift = static_cast<int>(std::lround(floor_shift));
    ASSERT_DOUBLE_EQ(floor_shift, shift);  // 90 * 15 / 270 = 5
    const cv::Rect band(20, 2, 100, 12);
    cv::Mat diff;
    cv::absdiff(left(band), right(band - cv::Point(shift, 0)), diff);
    EXPECT_LT(cv::mean(diff)[0], 12.0);
    // The head (90 cm below the camera) lies f·B/90 further left in the right view: its texture
    // matches there, not at the floor's shift.
    const int head_shift = static_cast<int>(std::lround(s.rig.focal * s.rig.baseline / 90.0));
    const cv::Rect head(s.rig.width / 2 - 3, s.rig.height / 2 - 3, 6, 6);
    cv::Mat head_diff, floor_diff;
    cv::absdiff(left(head), right(head - cv::Point(head_shift, 0)), head_diff);
    cv::absdiff(left(head), right(head - cv::Point(shift, 0)), floor_diff);
    EXPECT_LT(cv::mean(head_diff)[0], 6.0);
    EXPECT_GT(cv::mean(floor_diff)[0], 2.0 * cv::mean(head_diff)[0]);
    EXPECT_EQ(renderer.RenderFrame(0).size(), cv::Size(2 * s.rig.width, s.rig.height));

    // Tilted 0.4 rad towards the picture's top, the floor seen at a row b = (row - 53.5) / 90 lies
    // 270 / (cos 0.4 + b sin 0.4) cm along the optical axis, so its disparity is 5 (cos 0.4 + b sin 0.4):
    // 4 pixels around row 25.5 and 5 around row 71.7 (upright, or tilted the other way, 5 at both).
    scene::Scene tilted = SmallScene();
    tilted.rig.mount_height = 270.0;
    tilted.rig.tilt = 0.4;
    const scene::Renderer tilted_renderer(tilted);
    const cv::Mat tilted_left = tilted_renderer.RenderView(0, 0), tilted_right = tilted_renderer.RenderView(0, 1);
    for (const auto& [rows, disparity] :
         {std::pair{cv::Rect(20, 23, 100, 6), 4}, std::pair{cv::Rect(20, 69, 100, 6), 5}}) {
        double best = 1e9;
        int best_shift = 0;
        for (int candidate = 3; candidate <= 6; ++candidate) {
            cv::Mat d;
            cv::absdiff(tilted_left(rows), tilted_right(rows - cv::Point(candidate, 0)), d);
            if (cv::mean(d)[0] < best) {
                best = cv::mean(d)[0];
                best_shift = candidate;
            }
        }
        EXPECT_EQ(best_shift, disparity) << rows;
        EXPECT_LT(best, 12.0) << rows;
    }
}

TEST(SceneRendererTest, RefusesMalformedPeople)
{
    for (const char* text : {"", "1,2,3", "1,2,3,4,5,180,x", "1,2,3,4,0,180,0", "1,2,3,4,5,20,0", "1,2,3,4,5,400,0",
                             "1,2,3,4,5,180,-1", "1,2,3,4,5,180,1e12", "0,0,0,100,1e-300,180,0", "1,2,3,4,5,180,0,1,-1",
                             "1,2,3,4,5,180,0,1,1e12", "1,2,3,4,5,180,0,1,9,9"})
        EXPECT_THROW(scene::ParsePerson(text), std::runtime_error) << text;
    for (const char* text : {"1,2,3,4,5,180,0,shoulders=2", "1,2,3,4,5,180,0,bag=1.5", "1,2,3,4,5,180,0,size=3",
                             "1,2,3,4,5,180,0,hair=2,1", "1,2,3,4,5,180,0,lean=x"})
        EXPECT_THROW(scene::ParsePerson(text), std::runtime_error) << text;
    const scene::Person varied = scene::ParsePerson("1,2,3,4,5,180,0,0,15,hood=1,lean=5,bag=2");
    EXPECT_EQ(varied.return_after, 15);
    EXPECT_TRUE(varied.build.hood);
    EXPECT_DOUBLE_EQ(varied.build.lean, 5.0);
    EXPECT_EQ(varied.build.bag, 2);
    EXPECT_TRUE(scene::ParsePerson("1,2,3,4,5,180,0,1").dark);
    EXPECT_EQ(scene::ParsePerson("1,2,3,4,5,180,0,0,15").return_after, 15);
    EXPECT_EQ(scene::ParsePerson("1,2,3,4,5,180,0").return_after, -1);
}

TEST(SceneRendererTest, AlgoIniDescribesTheRigAndTheLine)
{
    const std::string ini = scene::AlgoIni(SmallScene());
    for (const char* expected :
         {"[StereoPeopleCounter--3DReconstructor]", "camera_matrix_l=[ [90, 0., 71.5], [0., 90, 53.5]",
          "base_vect=[ [-15], [0.], [0.] ]", "cam_tilt_angle=0\n", "initial_width=144", "initial_height=108",
          "h_camera_mount_param=260", "[StereoPeopleCounter--CrossingsCounter]",
          "CountingLines=[ [ 1, \"TwoDirections\", [ [0.0,0.5],[1.0,0.5] ] ] ]"})
        EXPECT_NE(ini.find(expected), std::string::npos) << expected;
    EXPECT_EQ(ini.find("[MonoPeopleCounter]"), std::string::npos);

    // One camera: the shoulders of a 175 cm person, 22.75 cm to each side at 114.75 cm below the
    // camera, are 22.75 x 90 / 114.75 = 17.84 pixels, 0.1652 of the 108 rows; the line is the first
    // polyline.
    scene::Scene mono = SmallScene();
    mono.rig.stereo = false;
    mono.line.row = 0.4;
    const std::string mono_ini = scene::AlgoIni(mono);
    EXPECT_EQ(mono_ini.find("[StereoPeopleCounter"), std::string::npos);
    for (const char* expected :
         {"[MonoPeopleCounter]", "target_circle=[[0.5,0.5],[0.5,0.33478", "lines=[[[0.0,0.4],[1.0,0.4]]]"})
        EXPECT_NE(mono_ini.find(expected), std::string::npos) << expected << "\n" << mono_ini;
}

}  // namespace
