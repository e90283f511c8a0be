#include "StereoAnalyzer/StereoPeopleCounter/stereo_people_counter_visualiser.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "StereoAnalyzer/StereoPeopleCounter/rendered_stereo_counter.h"

namespace {

TEST(StereoPeopleCounterVisualiserTest, ListsItsBitmapsInOrderAndNoPictures)
{
    RenderedStereoCounter rendered("");
    const std::vector<std::string> expected = {"TracksAndObjects",
                                               "DisparityLeft",
                                               "RectifiedPair",
                                               "DisparityRight",
                                               "Gradient",
                                               "BlurredGradient",
                                               "HeightLeft",
                                               "HeightRight",
                                               "Binarized",
                                               "Blurred",
                                               "HeightMapPreFilteredLeft",
                                               "HeightMapPreFilteredRight",
                                               "HeightMapFiltered",
                                               "DisparityNonFilledLeft",
                                               "DisparityNonFilledRight"};
    EXPECT_EQ(rendered.counter.GetDebugBitmapList(), expected);
    const auto visualiser = stereo::CreateStereoPeopleCounterVisualiser(&rendered.counter);
    EXPECT_EQ(visualiser->BitmapsList(), expected);
    EXPECT_TRUE(visualiser->PicturesList().empty());
    EXPECT_FALSE(visualiser->IsPictureFullScreen("TracksAndObjects"));

    // Before the first pair there is nothing to draw on.
    EXPECT_EQ(rendered.counter.GetDebugBitmap("TracksAndObjects"), nullptr);
    ASSERT_NE(rendered.counter.GetDebugBitmap("DisparityLeft"), nullptr);
    EXPECT_TRUE(rendered.counter.GetDebugBitmap("DisparityLeft")->empty());
    for (const char* unknown : {"", "tracksandobjects", "Disparity"})
        EXPECT_EQ(rendered.counter.GetDebugBitmap(unknown), nullptr) << unknown;

    rendered.Process(0, true);
    const cv::Size size = rendered.counter.ProcessingSize();
    const struct {
        const char* name;
        cv::Size size;
        int type;
    } drawn[] = {{"TracksAndObjects", size, CV_8UC3},
                 {"DisparityLeft", size, CV_8UC1},
                 {"DisparityRight", size, CV_8UC1},
                 {"RectifiedPair", {2 * size.width, size.height}, CV_8UC1},
                 {"HeightLeft", rendered.counter.HeightsSize(), CV_8UC1}};
    for (const auto& d : drawn) {
        const cv::Mat* bitmap = rendered.counter.GetDebugBitmap(d.name);
        ASSERT_NE(bitmap, nullptr) << d.name;
        EXPECT_EQ(bitmap->size(), d.size) << d.name;
        EXPECT_EQ(bitmap->type(), d.type) << d.name;
    }
}

// The square around each object is cyan until the object has raised its alarm, then green.
TEST(StereoPeopleCounterVisualiserTest, FramesObjectsCyanAndAlarmedObjectsGreen)
{
    RenderedStereoCounter rendered("", "0,-150,0,150,5,180,0");
    const std::string radius_line = "m_circle_around_head_rad ";
    int r = 0;
    std::vector<stereo::StereoCountingObjData> objects;
    int framed[2] = {0, 0};  // cyan, green
    for (int frame = 0; frame < 60; ++frame) {
        rendered.Process(frame);
        for (const auto& line : rendered.log->lines)
            if (line.text.rfind(radius_line, 0) == 0)
                r = std::stoi(line.text.substr(radius_line.size()));
        ASSERT_GT(r, 0);
        rendered.counter.GetObjects(objects);
        const cv::Mat_<cv::Vec3b> picture = *rendered.counter.GetDebugBitmap("TracksAndObjects");
        const cv::Rect inside(r, r, picture.cols - 2 * r, picture.rows - 2 * r);
        for (const auto& object : objects) {
            if (!inside.contains({object.point_x, object.point_y}))
                continue;
            const cv::Vec3b expected = object.alarmed ? cv::Vec3b(0, 255, 0) : cv::Vec3b(255, 255, 0);
            EXPECT_EQ(picture(object.point_y - r, object.point_x - r), expected) << frame;
            EXPECT_EQ(picture(object.point_y + r - 1, object.point_x + r - 1), expected) << frame;
            ++framed[object.alarmed];
        }
    }
    EXPECT_GT(framed[0], 0);
    EXPECT_GT(framed[1], 0);
}

}  // namespace
