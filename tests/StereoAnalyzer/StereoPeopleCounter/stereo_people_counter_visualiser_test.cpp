#include "StereoAnalyzer/StereoPeopleCounter/stereo_people_counter_visualiser.h"

#include <gtest/gtest.h>

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

}  // namespace
