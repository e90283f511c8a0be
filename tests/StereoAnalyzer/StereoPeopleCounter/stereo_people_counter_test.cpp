#include "StereoAnalyzer/StereoPeopleCounter/stereo_people_counter.h"

#include <gtest/gtest.h>

#include <array>
#include <filesystem>
#include <iterator>
#include <opencv2/core/utility.hpp>
#include <opencv2/imgproc.hpp>
#include <ostream>
#include <set>
#include <stdexcept>
#include <string>
#include <vector>

#include "CommonUtilities/algorithm_support/kiv_exception.h"
#include "StereoAnalyzer/StereoPeopleCounter/rendered_stereo_counter.h"

namespace {

template <typename Call>
std::string ErrorOf(Call call)
{
    try {
        call();
    } catch (const std::exception& error) {
        return error.what();
    }
    return "";
}

TEST(StereoPeopleCounterTest, SettingsThatCannotWorkAreRefusedWithTheirReason)
{
    // Refused when the parameters are read.
    const struct {
        const char* lines;
        const char* reason;
    } at_init[] = {
        {"Stereo_med_rad=-1\n", "StereoPeopleCounter_Stereo_med_rad = -1 cannot work: it must lie in [0, inf)"},
        {"Stereo_double_median_rad=-1\n", "StereoPeopleCounter_Stereo_double_median_rad = -1"},
    };
    for (const auto& c : at_init)
        EXPECT_NE(ErrorOf([&] { RenderedStereoCounter counter(c.lines); }).find(c.reason), std::string::npos)
            << c.lines;

    // Refused when the first pair initialises the analyser.
    const struct {
        const char* lines;
        const char* reason;
    } at_first_pair[] = {
        {"Stereo_matching_algorithm_name=Census\n", "SelectStereoMatcher : wrong algorithm_name census"},
    };
    for (const auto& c : at_first_pair) {
        RenderedStereoCounter counter(c.lines);
        const std::string error = ErrorOf([&] { counter.Process(0); });
        EXPECT_NE(error.find(c.reason), std::string::npos) << c.lines << ": " << error;
    }

    // The analyser cannot run without heights.
    {
        RenderedStereoCounter counter("");
        std::string text = scene::AlgoIni(counter.scene);
        text.insert(text.find("h_camera_mount_param"), "calculate_height=false\n");
        ParamsLib::load_parameters(counter.dir.Write("no_heights.ini", text).c_str(), 0, &counter.counter, nullptr);
        counter.counter.InitFromParams();
        EXPECT_NE(ErrorOf([&] { counter.Process(0); }).find("calculate_height=false"), std::string::npos);
    }

    // Radii of 0 that still work: a 1x1 opening and closing element, medians of the pixel alone.
    for (const char* filling : {"true", "false"}) {
        RenderedStereoCounter counter(std::string("Stereo_med_rad=0\nStereo_open_rad=0\nStereo_close_rad=0\n"
                                                  "Stereo_median_fill_rad=0\nStereo_double_median_rad=0\n"
                                                  "Stereo_use_morphological_filtering=true\n"
                                                  "Stereo_use_double_med_filling=") +
                                      filling + "\n");
        EXPECT_NO_THROW(counter.Process(0));
        EXPECT_NO_THROW(counter.Process(1));
        EXPECT_EQ(counter.LoggedLines(kKivLogInfo, "m_morph_params.med_rad 0"), 1);
        EXPECT_EQ(counter.LoggedLines(kKivLogInfo, "m_morph_params.double_median_rad 0"), 1);
    }

    RenderedStereoCounter counter("");
    const cv::Mat left = counter.renderer.RenderView(0, 0);
    EXPECT_THROW(counter.counter.ProcessStereoPair(left, left.colRange(0, left.cols - 1), false, 0), exc::KIVException);
    EXPECT_THROW(counter.counter.ProcessStereoPair(left, cv::Mat(left.size(), CV_16UC1), false, 0), exc::KIVException);
    stereo::StereoPeopleCounter uninitialised;
    EXPECT_THROW(uninitialised.ProcessStereoPair(left, left, false, 0), exc::KIVException);
}

// A rendered scene where one person walks in and a second one out, rendered once, with the passes
// of its ground truth.
struct InAndOutScene {
    std::vector<std::array<cv::Mat, 2>> pairs;
    int truth_in = 0;
    int truth_out = 0;
};

const InAndOutScene& RenderedInAndOut()
{
    static const InAndOutScene rendered = [] {
        InAndOutScene result;
        RenderedStereoCounter counter("", "0,-130,0,130,10,180,0");
        counter.scene.people.push_back(scene::ParsePerson("0,130,0,-130,10,175,30"));
        counter.scene.frames = 58;
        for (const scene::Crossing& crossing : scene::GroundTruth(counter.scene))
            ++(crossing.incoming ? result.truth_in : result.truth_out);
        for (int frame = 0; frame < counter.scene.frames; ++frame)
            result.pairs.push_back({counter.renderer.RenderView(frame, 0), counter.renderer.RenderView(frame, 1)});
        return result;
    }();
    return rendered;
}

struct SwitchCase {
    const char* name;
    const char* lines;
    bool counts;  // false: the switch stops the analysis or the output of objects
};

void PrintTo(const SwitchCase& c, std::ostream* out)
{
    *out << c.name;
}

class StereoPeopleCounterSwitchTest : public ::testing::TestWithParam<SwitchCase> {};

// Every on/off switch of the analyser flipped from its default: every pair is analysed, and
// wherever the switch leaves the counting stages on, the objects whose in and out flags were set
// are the passes of the ground truth.
TEST_P(StereoPeopleCounterSwitchTest, FlippedSwitchAnalysesEveryPairAndCountsTheScene)
{
    const SwitchCase c = GetParam();
    const InAndOutScene& scene = RenderedInAndOut();
    ASSERT_EQ(scene.truth_in, 1);
    ASSERT_EQ(scene.truth_out, 1);
    TempIniDir folder;
    const ScopedWorkingDirectory in_folder(folder.PathOf(""));  // marking videos are written here
    RenderedStereoCounter rendered(std::string(c.lines) + "debug_video_folder=" + folder.PathOf("") +
                                   "\ninput_video_folder=" + folder.PathOf("") +
                                   "\ndebug_video_frames_num=4\nmarking_frames_num=4\n");
    std::set<int64_t> in, out;
    std::vector<stereo::StereoCountingObjData> objects;
    for (size_t i = 0; i < scene.pairs.size(); ++i) {
        ASSERT_NO_THROW(rendered.counter.ProcessStereoPair(scene.pairs[i][0], scene.pairs[i][1], false, 400000LL * i))
            << "pair " << i + 1;
        rendered.counter.GetObjects(objects);
        for (const auto& object : objects) {
            if (object.in_flag)
                in.insert(object.object_id);
            if (object.out_flag)
                out.insert(object.object_id);
        }
    }
    EXPECT_EQ(rendered.counter.FrameCounter(), static_cast<long long>(scene.pairs.size()));
    EXPECT_EQ(static_cast<int>(in.size()), c.counts ? scene.truth_in : 0);
    EXPECT_EQ(static_cast<int>(out.size()), c.counts ? scene.truth_out : 0);
}

INSTANTIATE_TEST_SUITE_P(
    Switches, StereoPeopleCounterSwitchTest,
    ::testing::Values(SwitchCase{"NoLeftRightCheck", "Stereo_use_left_right_check=false\n", true},
                      SwitchCase{"NoHeightMapScale", "Stereo_use_height_map_processing_scale=false\n", true},
                      SwitchCase{"HeightFromProcessedMap", "Stereo_obtain_height_directly_from_height_map=false\n",
                                 true},
                      SwitchCase{"DoubleMedianFilling", "Stereo_use_double_med_filling=true\n", true},
                      SwitchCase{"Morphology", "Stereo_use_morphological_filtering=true\n", true},
                      SwitchCase{"MedianO1", "Stereo_use_median_0m_filtering=false\n", true},
                      SwitchCase{"NoForegroundWeighting", "use_backg_subtr_for_height_map_filter=false\n", true},
                      SwitchCase{"ForegroundFromGradientOnly", "use_backgr_subtr_only_grad=true\n", true},
                      SwitchCase{"DebugVideo", "write_debug_video=true\n", true},
                      SwitchCase{"InputVideo", "write_input_video=true\n", true},
                      SwitchCase{"FallenObjects", "output_fallen_objects=true\n", true},
                      SwitchCase{"MarkingMode", "marking_mode=true\n", false},
                      SwitchCase{"NoNonFallenObjects", "output_non_fallen_objects=false\n", false}),
    [](const ::testing::TestParamInfo<SwitchCase>& p) { return std::string(p.param.name); });

// The depth maps handed out are the reconstructor's depths of the last pair's disparities: the floor
// 260 cm below the camera, a person's head 80 cm, in both views (the right one in its own columns).
TEST(StereoPeopleCounterTest, DepthMapsAreTheLastPairsDepths)
{
    RenderedStereoCounter rendered("", "0,0,0,10,1,180,0");
    rendered.Process(0);
    const cv::Size size = rendered.counter.ProcessingSize();
    cv::Mat depth[2] = {cv::Mat(size, CV_16SC1), cv::Mat(size, CV_16SC1)};
    rendered.counter.GetDepthMapLeft(depth[0]);
    rendered.counter.GetDepthMapRight(depth[1]);
    for (int v = 0; v < 2; ++v) {
        SCOPED_TRACE(v);
        cv::Mat floor_pixels;
        cv::compare(cv::abs(depth[v] - 260), 10, floor_pixels, cv::CMP_LE);
        EXPECT_GE(cv::countNonZero(floor_pixels), size.area() / 2);
        cv::Mat head_pixels;
        cv::compare(cv::abs(depth[v] - 80), 6, head_pixels, cv::CMP_LE);
        EXPECT_GE(cv::countNonZero(head_pixels), 10);
    }
}

TEST(StereoPeopleCounterTest, ANewInputSizeRescalesFromTheValuesReadNotFromTheScaledOnes)
{
    RenderedStereoCounter counter("");
    const auto med_rad_lines = [&] {
        std::vector<std::string> lines;
        for (const RecordingLog::Line& line : counter.log->lines)
            if (line.text.rfind("m_morph_params.med_rad ", 0) == 0)
                lines.push_back(line.text);
        return lines;
    };
    counter.Process(0);
    cv::Mat left, right;
    cv::resize(counter.renderer.RenderView(1, 0), left, cv::Size(160, 120));
    cv::resize(counter.renderer.RenderView(1, 1), right, cv::Size(160, 120));
    counter.counter.ProcessStereoPair(left, right, false, 400000);
    counter.Process(2);
    const std::vector<std::string> lines = med_rad_lines();
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[2], lines[0]);
}

// The threads of this process (TBB starts its workers on demand and keeps them).
long ThreadsOfProcess()
{
    const std::filesystem::directory_iterator tasks("/proc/self/task");
    return std::distance(std::filesystem::begin(tasks), std::filesystem::end(tasks));
}

TEST(StereoPeopleCounterTest, BothMatchersProcessAPairWithOneWorkerBesidesTheCaller)
{
    cv::setNumThreads(1);  // as the algorithm thread runs
    for (const char* matcher : {"BM", "SGBM"}) {
        SCOPED_TRACE(matcher);
        RenderedStereoCounter counter(std::string("Stereo_matching_algorithm_name=") + matcher + "\n",
                                      "0,-190,0,190,5,180,0");
        const long before = ThreadsOfProcess();
        for (int frame = 0; frame < 4; ++frame) counter.Process(frame);
        EXPECT_LE(ThreadsOfProcess(), before + 1);
    }
}

}  // namespace
