#include "StereoAnalyzer/StereoPeopleCounter/stereo_people_counter.h"

#include <gtest/gtest.h>

#include <opencv2/imgproc.hpp>
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
        {"Stereo_med_rad=-1\n", "med_rad"},
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

    RenderedStereoCounter counter("");
    const cv::Mat left = counter.renderer.RenderView(0, 0);
    EXPECT_THROW(counter.counter.ProcessStereoPair(left, left.colRange(0, left.cols - 1), false, 0), exc::KIVException);
    EXPECT_THROW(counter.counter.ProcessStereoPair(left, cv::Mat(left.size(), CV_16UC1), false, 0), exc::KIVException);
    stereo::StereoPeopleCounter uninitialised;
    EXPECT_THROW(uninitialised.ProcessStereoPair(left, left, false, 0), exc::KIVException);
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

}  // namespace
