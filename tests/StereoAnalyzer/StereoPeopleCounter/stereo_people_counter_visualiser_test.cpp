#include "StereoAnalyzer/StereoPeopleCounter/stereo_people_counter_visualiser.h"

#include <gtest/gtest.h>

#include <opencv2/imgproc.hpp>
#include <string>
#include <vector>

#include "StereoAnalyzer/StereoPeopleCounter/rendered_stereo_counter.h"

namespace {

TEST(StereoPeopleCounterVisualiserTest, ListsItsBitmapsInOrderAndDrawsThemOnlyAfterAPair)
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
    EXPECT_TRUE(stereo::CreateStereoPeopleCounterVisualiser(&rendered.counter)->PicturesList().empty());
    for (const char* unknown : {"", "tracksandobjects", "Disparity"})
        EXPECT_EQ(rendered.counter.GetDebugBitmap(unknown), nullptr) << unknown;
    EXPECT_EQ(rendered.counter.GetDebugBitmap("TracksAndObjects"), nullptr);
    EXPECT_TRUE(rendered.counter.GetDebugBitmap("DisparityLeft")->empty());

    rendered.Process(0, true);
    const cv::Size size = rendered.counter.ProcessingSize();
    EXPECT_EQ(rendered.counter.GetDebugBitmap("TracksAndObjects")->size(), size);
    EXPECT_EQ(rendered.counter.GetDebugBitmap("TracksAndObjects")->type(), CV_8UC3);
    EXPECT_EQ(rendered.counter.GetDebugBitmap("DisparityRight")->size(), size);
    EXPECT_EQ(rendered.counter.GetDebugBitmap("RectifiedPair")->size(), cv::Size(2 * size.width, size.height));
}

// The tracks picture of a person walking through the counting line: every object's square around
// its point is cyan (blue-green-red 255, 255, 0) until its alarm and green (0, 255, 0) from then on,
// and the head's height is written in green with its text's bottom-left corner at the point plus
// (head radius, 10).
TEST(StereoPeopleCounterVisualiserTest, FramesObjectsInTheirAlarmColourAndWritesHeightsBesideTheirHeads)
{
    RenderedStereoCounter rendered("", "0,-130,0,130,8,180,0");
    const cv::Vec3b green(0, 255, 0), cyan(255, 255, 0);
    int radius = -1;             // logged when the first pair initialises the analyser
    int checked[3] = {0, 0, 0};  // squares not alarmed, squares alarmed, heights
    std::vector<stereo::StereoCountingObjData> objects;
    for (int frame = 0; frame < 34; ++frame) {
        rendered.Process(frame, true);
        for (const RecordingLog::Line& line : rendered.log->lines)
            if (radius < 0 && line.text.rfind("m_circle_around_head_rad ", 0) == 0)
                radius = std::stoi(line.text.substr(25));
        ASSERT_GT(radius, 0);
        const cv::Mat picture = *rendered.counter.GetDebugBitmap("TracksAndObjects");
        cv::Mat is_green;
        cv::inRange(picture, green, green, is_green);
        rendered.counter.GetObjects(objects);
        for (const auto& object : objects) {
            const cv::Point p(object.point_x, object.point_y - radius);  // the top edge's middle
            if (p.y >= 0 && p.y < picture.rows) {
                EXPECT_EQ(picture.at<cv::Vec3b>(p), object.alarmed ? green : cyan) << "frame " << frame << " " << p;
                ++checked[object.alarmed];
            }
            if (object.height > 0) {
                cv::Mat text(picture.size(), CV_8UC1, cv::Scalar(0));
                cv::putText(text, std::to_string(object.height),
                            cv::Point(object.point_x + radius, object.point_y + 10), cv::FONT_HERSHEY_SIMPLEX, 0.25,
                            cv::Scalar(255), 1, cv::LINE_8);
                EXPECT_GE(cv::countNonZero(is_green & text), 0.8 * cv::countNonZero(text)) << "frame " << frame;
                ++checked[2];
            }
        }
    }
    for (const int count : checked) EXPECT_GT(count, 0);
}

}  // namespace
