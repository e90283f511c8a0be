#include "CommonUtilities/DebugInterfaces/visualizer_base.h"

#include <gtest/gtest.h>

#include <array>

namespace {

struct Shown {
    cv::Mat heights = cv::Mat(2, 3, CV_8UC1, cv::Scalar(7));
    std::array<cv::Mat, 2> views{cv::Mat(1, 1, CV_8UC1), cv::Mat(4, 4, CV_8UC1)};
};

class ShownVisualizer : public BlockEntities::DebugDraw::VisualizerBase<ShownVisualizer, Shown> {
public:
    explicit ShownVisualizer(Shown* shown) : VisualizerBase(shown)
    {
        AddGetBitmapFunction("Heights", &ShownVisualizer::Heights);
        AddGetBitmapFunction("Right view", &ShownVisualizer::RightView);
        AddDrawFunction(
            "Tracks", [this](BlockEntities::DebugDraw::IDraw*) { ++drawn; }, true);
        AddDrawFunction("Lines", [this](BlockEntities::DebugDraw::IDraw*) { drawn += 10; });
    }
    cv::Mat* Heights() { return GetBitmapFromDebugee(&Shown::heights); }
    cv::Mat* RightView() { return GetBitmapFromDebugeeArray(&Shown::views, 1); }
    int drawn = 0;
};

TEST(VisualizerBaseTest, ListsNamesInRegistrationOrderAndHandsOutTheDebuggeesPictures)
{
    Shown shown;
    ShownVisualizer visualizer(&shown);
    EXPECT_EQ(visualizer.BitmapsList(), (std::vector<std::string>{"Heights", "Right view"}));
    EXPECT_EQ(visualizer.PicturesList(), (std::vector<std::string>{"Tracks", "Lines"}));
    EXPECT_EQ(visualizer.GetDebugBitmap("Heights"), &shown.heights);
    EXPECT_EQ(visualizer.GetDebugBitmap("Right view"), &shown.views[1]);
    EXPECT_EQ(visualizer.GetDebugBitmap("Unknown"), nullptr);
    EXPECT_TRUE(visualizer.IsPictureFullScreen("Tracks"));
    EXPECT_FALSE(visualizer.IsPictureFullScreen("Lines"));
    EXPECT_FALSE(visualizer.IsPictureFullScreen("Unknown"));
    visualizer.DrawOn(nullptr, "Lines");
    visualizer.DrawOn(nullptr, "Unknown");
    visualizer.DrawOn(nullptr, "Tracks");
    EXPECT_EQ(visualizer.drawn, 11);
}

}  // namespace
