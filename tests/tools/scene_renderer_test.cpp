#include <gtest/gtest.h>

#include <stdexcept>

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
    const auto truth = scene::GroundTruth(s);
    ASSERT_EQ(truth.size(), 2u);
    EXPECT_EQ(truth[0].person, 0);
    EXPECT_TRUE(truth[0].incoming);
    EXPECT_EQ(truth[0].frame, 31);  // the head passes row 54 just after y = 0 (frame 30)
    EXPECT_EQ(truth[1].person, 1);
    EXPECT_FALSE(truth[1].incoming);
    EXPECT_DOUBLE_EQ(truth[1].height, 170.0);
    EXPECT_NE(scene::TruthText(s, truth).find("incoming 1\noutgoing 1\n"), std::string::npos);
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
    // The head (90 cm below the camera) is darker than the floor and lies f·B/90 further left in
    // the right view.
    const int head_shift = static_cast<int>(std::lround(s.rig.focal * s.rig.baseline / 90.0));
    const int cx = s.rig.width / 2, cy = s.rig.height / 2;
    EXPECT_LT(left.at<unsigned char>(cy, cx), 110);
    EXPECT_LT(right.at<unsigned char>(cy, cx - head_shift + 1), 110);
    EXPECT_EQ(renderer.RenderFrame(0).size(), cv::Size(2 * s.rig.width, s.rig.height));
}

TEST(SceneRendererTest, RefusesMalformedPeople)
{
    for (const char* text : {"", "1,2,3", "1,2,3,4,5,180,x", "1,2,3,4,0,180,0", "1,2,3,4,5,20,0", "1,2,3,4,5,180,-1",
                             "1,2,3,4,5,180,0,1,9"})
        EXPECT_THROW(scene::ParsePerson(text), std::invalid_argument) << text;
    EXPECT_TRUE(scene::ParsePerson("1,2,3,4,5,180,0,1").dark);
}

TEST(SceneRendererTest, AlgoIniDescribesTheRigAndTheLine)
{
    const std::string ini = scene::AlgoIni(SmallScene());
    for (const char* expected :
         {"[StereoPeopleCounter--3DReconstructor]", "camera_matrix_l=[ [90, 0., 71.5], [0., 90, 53.5]",
          "base_vect=[ [-15], [0.], [0.] ]", "initial_width=144", "initial_height=108", "h_camera_mount_param=260",
          "[StereoPeopleCounter--CrossingsCounter]",
          "CountingLines=[ [ 1, \"TwoDirections\", [ [0.0,0.5],[1.0,0.5] ] ] ]"})
        EXPECT_NE(ini.find(expected), std::string::npos) << expected;
    EXPECT_EQ(ini.find("[MonoPeopleCounter]"), std::string::npos);

    // One camera: the shoulders of a 175 cm person, 20 cm wide at 113 cm below the camera, are
    // 20 x 90 / 113 = 15.93 pixels, 0.1475 of the 108 rows; the line is the first polyline.
    scene::Scene mono = SmallScene();
    mono.rig.stereo = false;
    mono.line.row = 0.4;
    const std::string mono_ini = scene::AlgoIni(mono);
    EXPECT_EQ(mono_ini.find("[StereoPeopleCounter"), std::string::npos);
    for (const char* expected :
         {"[MonoPeopleCounter]", "target_circle=[[0.5,0.5],[0.5,0.35250", "lines=[[[0.0,0.4],[1.0,0.4]]]"})
        EXPECT_NE(mono_ini.find(expected), std::string::npos) << expected << "\n" << mono_ini;
}

}  // namespace
