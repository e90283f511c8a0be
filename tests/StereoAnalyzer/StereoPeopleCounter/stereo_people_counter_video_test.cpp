// The stereo analyser's debug and input videos, read back with OpenCV.
#include <gtest/gtest.h>

#include <filesystem>
#include <opencv2/core/utility.hpp>
#include <opencv2/imgproc.hpp>
#include <opencv2/videoio.hpp>
#include <string>
#include <vector>

#include "StereoAnalyzer/StereoPeopleCounter/rendered_stereo_counter.h"

namespace {

// The files of a folder whose names end as given, in name order.
std::vector<cv::String> Files(const std::string& folder, const std::string& end)
{
    std::vector<cv::String> found;
    cv::glob(folder + "/*" + end, found);
    return found;
}

int FramesOf(const std::string& file, cv::Size& size)
{
    cv::VideoCapture video(file);
    int frames = 0;
    for (cv::Mat frame; video.read(frame); ++frames) size = frame.size();
    return frames;
}

// Pairs 1 to 4 are written and pair 5 closes the videos; a bitmap never filled gets no file. The
// folder is given without a trailing separator.
TEST(StereoPeopleCounterTest, DebugVideosHoldEveryFilledBitmapUntilTheFrameLimit)
{
    TempIniDir folder;
    RenderedStereoCounter rendered(
        "write_debug_video=true\ndebug_video_frames_num=5\ndebug_video_folder=" + folder.PathOf("videos") + "\n");
    std::filesystem::create_directory(folder.PathOf("videos"));
    for (int frame = 0; frame < 8; ++frame) rendered.Process(frame);
    for (const std::string& name : rendered.counter.GetDebugBitmapList()) {
        const auto files = Files(folder.PathOf("videos"), "_" + name + ".avi");
        ASSERT_EQ(files.size(), name == "HeightMapPreFilteredLeft" ? 0u : 1u) << name;
        cv::Size size;
        if (!files.empty()) {
            EXPECT_EQ(files[0].rfind(folder.PathOf("videos/14000_"), 0), 0u) << files[0];
            EXPECT_EQ(FramesOf(files[0], size), 4) << name;
            EXPECT_EQ(size, rendered.counter.GetDebugBitmap(name)->size()) << name;
        }
    }
    EXPECT_EQ(rendered.LoggedLines(kKivLogInfo, "Creating debug video " + folder.PathOf("videos/14000_")), 14);
    EXPECT_EQ(rendered.LoggedLines(kKivLogInfo, "Finishing writing 14 debug videos"), 1);
}

// A pair whose number is a multiple of the frames number restarts the videos and is not written;
// 0 never restarts.
TEST(StereoPeopleCounterTest, InputVideosRestartEverySoManyPairs)
{
    const std::pair<int, std::vector<int>> cases[] = {{0, {7}}, {3, {2, 2, 1}}};
    for (const auto& [frames_num, frames] : cases) {
        TempIniDir folder;
        {
            RenderedStereoCounter rendered("write_input_video=true\ninput_video_folder=" + folder.PathOf("") +
                                           "\ninput_video_frames_num=" + std::to_string(frames_num) + "\n");
            for (int frame = 0; frame < 7; ++frame) rendered.Process(frame);
        }
        for (const char* side : {"14000__31_orig_L.avi", "14000__31_orig_R.avi"}) {
            const auto files = Files(folder.PathOf(""), side);
            ASSERT_EQ(files.size(), frames.size()) << frames_num;
            for (size_t i = 0; i < files.size(); ++i) {
                cv::Size size;
                EXPECT_EQ(FramesOf(files[i], size), frames[i]) << files[i];
                EXPECT_EQ(size, cv::Size(144, 108)) << files[i];
            }
        }
    }
}

// Marking mode writes the rectified views alone: pairs 1 to 3 go to "_L.avi" and "_R.avi" in the
// working directory at the processing size, pair 4 closes them, no input video is written and no
// object is produced.
TEST(StereoPeopleCounterTest, MarkingModeWritesTheRectifiedViewsAlone)
{
    TempIniDir folder;
    const ScopedWorkingDirectory in_folder(folder.PathOf(""));
    RenderedStereoCounter rendered(
        "marking_mode=true\nmarking_frames_num=4\nwrite_input_video=true\n"
        "input_video_folder=" +
            folder.PathOf("") + "\n",
        "0,-20,0,130,8,180,0");
    cv::Mat third_pair;
    std::vector<stereo::StereoCountingObjData> objects;
    for (int frame = 0; frame < 4; ++frame) {
        rendered.Process(frame);
        rendered.counter.GetObjects(objects);
        EXPECT_TRUE(objects.empty());
        if (frame == 2)
            rendered.counter.GetDebugBitmap("RectifiedPair")->copyTo(third_pair);
    }
    const cv::Size size = rendered.counter.ProcessingSize();
    ASSERT_EQ(third_pair.size(), cv::Size(2 * size.width, size.height));
    for (int view = 0; view < 2; ++view) {
        const std::string file = folder.PathOf(view == 0 ? "_L.avi" : "_R.avi");
        cv::VideoCapture video(file);
        std::vector<cv::Mat> frames;
        for (cv::Mat frame; video.read(frame);) frames.push_back(frame.clone());
        ASSERT_EQ(frames.size(), 3u) << file;
        ASSERT_EQ(frames[2].size(), size) << file;
        cv::Mat grey;
        cv::cvtColor(frames[2], grey, cv::COLOR_BGR2GRAY);
        // Within the colour conversions' rounding of the third pair's view, and far from the other view.
        const cv::Mat expected = third_pair.colRange(view * size.width, (view + 1) * size.width);
        const cv::Mat other = third_pair.colRange((1 - view) * size.width, (2 - view) * size.width);
        EXPECT_LE(cv::norm(grey, expected, cv::NORM_L1) / size.area(), 3.0) << file;
        EXPECT_GE(cv::norm(grey, other, cv::NORM_L1) / size.area(), 10.0) << file;
    }
    EXPECT_TRUE(Files(folder.PathOf(""), "_orig_L.avi").empty());
}

TEST(StereoPeopleCounterTest, UnwritableVideoFolderWarnsOnceAndCountingGoesOn)
{
    for (const char* lines :
         {"write_debug_video=true\ndebug_video_folder=/nonexistent-flowtally/\n",
          "write_input_video=true\ninput_video_frames_num=20\ninput_video_folder=/nonexistent-x\n"}) {
        RenderedStereoCounter rendered(lines, "0,-150,0,150,5,180,0");
        bool counted = false;
        std::vector<stereo::StereoCountingObjData> objects;
        for (int frame = 0; frame < 70; ++frame) {
            rendered.Process(frame);
            rendered.counter.GetObjects(objects);
            for (const auto& object : objects) counted |= object.in_flag;
        }
        EXPECT_TRUE(counted) << lines;
        EXPECT_EQ(rendered.LoggedLines(kKivLogWarning, "Can not open "), 1) << lines;
    }
}

}  // namespace
