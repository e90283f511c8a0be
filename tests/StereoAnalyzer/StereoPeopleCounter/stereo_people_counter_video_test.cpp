// The stereo analyser's debug and input videos, read back with OpenCV.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <opencv2/videoio.hpp>
#include <string>
#include <vector>

#include "StereoAnalyzer/StereoPeopleCounter/rendered_stereo_counter.h"

namespace {

namespace fs = std::filesystem;

// The files of a folder whose names start and end as given, in name order.
std::vector<std::string> Files(const std::string& folder, const std::string& start, const std::string& end)
{
    std::vector<std::string> found;
    for (const auto& entry : fs::directory_iterator(folder)) {
        const std::string name = entry.path().filename().string();
        if (name.rfind(start, 0) == 0 && name.size() >= end.size() &&
            name.compare(name.size() - end.size(), end.size(), end) == 0)
            found.push_back(entry.path().string());
    }
    std::sort(found.begin(), found.end());
    return found;
}

// Frames of a video and the size of its last frame.
int FramesOf(const std::string& file, cv::Size& size)
{
    cv::VideoCapture video(file);
    int frames = 0;
    for (cv::Mat frame; video.read(frame); ++frames) size = frame.size();
    return frames;
}

// Pairs 1 to 4 are written, pair 5 closes the videos; a bitmap that is never filled gets no file.
// The folder is given without a trailing separator.
TEST(StereoPeopleCounterTest, DebugVideosHoldEveryFilledBitmapUntilTheFrameLimit)
{
    TempIniDir dir;
    const std::string folder = dir.PathOf("videos");
    fs::create_directories(folder);
    RenderedStereoCounter in_folder("write_debug_video=true\ndebug_video_frames_num=5\ndebug_video_folder=" + folder +
                                    "\n");
    for (int frame = 0; frame < 8; ++frame) in_folder.Process(frame);

    int videos = 0;
    for (const std::string& name : in_folder.counter.GetDebugBitmapList()) {
        const auto files = Files(folder, "14000_", "_" + name + ".avi");
        if (name == "HeightMapPreFilteredLeft") {
            EXPECT_TRUE(files.empty());
            continue;
        }
        ASSERT_EQ(files.size(), 1u) << name;
        cv::Size size;
        EXPECT_EQ(FramesOf(files[0], size), 4) << name;
        EXPECT_EQ(size, in_folder.counter.GetDebugBitmap(name)->size()) << name;
        ++videos;
    }
    EXPECT_EQ(videos, 14);
    EXPECT_EQ(in_folder.LoggedLines(kKivLogInfo, "Creating debug video " + folder + "/14000_"), 14);
    EXPECT_EQ(in_folder.LoggedLines(kKivLogInfo, "Finishing writing 14 debug videos"), 1);
}

// Pair n restarts the input videos when n is a multiple of the frames number and is not written;
// 0 never restarts.
TEST(StereoPeopleCounterTest, InputVideosRestartEverySoManyPairs)
{
    const struct {
        int frames_num;
        std::vector<int> frames;
    } cases[] = {{0, {7}}, {3, {2, 2, 1}}, {100, {7}}};
    for (const auto& c : cases) {
        TempIniDir folder;
        {
            RenderedStereoCounter rendered("write_input_video=true\ninput_video_folder=" + folder.PathOf("") +
                                           "\ninput_video_frames_num=" + std::to_string(c.frames_num) + "\n");
            for (int frame = 0; frame < 7; ++frame) rendered.Process(frame);
        }
        for (const char* side : {"_orig_L.avi", "_orig_R.avi"}) {
            const auto files = Files(folder.PathOf(""), "1_", side);
            ASSERT_EQ(files.size(), c.frames.size()) << c.frames_num;
            for (size_t i = 0; i < files.size(); ++i) {
                cv::Size size;
                EXPECT_EQ(FramesOf(files[i], size), c.frames[i]) << files[i];
                EXPECT_EQ(size, cv::Size(144, 108)) << files[i];
                EXPECT_NE(files[i].find("14000__"), std::string::npos) << files[i];
            }
        }
    }
}

// The pass is counted although no video can be written: one warning per kind of video.
TEST(StereoPeopleCounterTest, UnwritableVideoFolderWarnsOnceAndCountingGoesOn)
{
    for (const char* lines : {"write_debug_video=true\ndebug_video_folder=/nonexistent-flowtally/videos/\n",
                              "write_input_video=true\ninput_video_frames_num=20\n"
                              "input_video_folder=/nonexistent-flowtally/videos\n"}) {
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
