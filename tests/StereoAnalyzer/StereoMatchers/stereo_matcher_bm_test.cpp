#include "StereoAnalyzer/StereoMatchers/stereo_matcher_bm.h"

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <memory>
#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>
#include <string>

#include "CommonUtilities/DebugInterfaces/recording_log.h"
#include "CommonUtilities/ParameterAccess/load_parameters.h"
#include "CommonUtilities/ParameterAccess/temp_ini_dir.h"
#include "CommonUtilities/algorithm_support/block_light.h"
#include "CommonUtilities/algorithm_support/kiv_exception.h"
#include "StereoAnalyzer/StereoMatchers/stereo_pair_images.h"

namespace {

using stereo::kLeftView;
using stereo::kRightView;
using stereo_test::MakeShiftedPair;
using stereo_test::MakeSteppedPair;

// The matcher under the stereo analyser's name, as the parameter file addresses it.
class Analyzer : public BlockHighlevel::LightBlock<BlockEntities::IAlgoEntityBase> {
public:
    Analyzer() { GetModifiableContext().SetName("StereoPeopleCounter"); }
    BlockHighlevel::ChildBlock<stereo::StereoMatcherBM> matcher{"StereoMatcher", GetChildrenRegistry()};
};

class StereoMatcherBMTest : public ::testing::Test {
protected:
    // A matcher with its parameters loaded from an INI file holding `section_body`.
    std::unique_ptr<Analyzer> Load(const std::string& section_body)
    {
        auto analyzer = std::make_unique<Analyzer>();
        BlockEntities::TraverseSetContexts(analyzer.get());
        const std::string ini = dir.Write("algo.ini", "[StereoPeopleCounter--StereoMatcher]\n" + section_body);
        ParamsLib::load_parameters(ini.c_str(), 0, analyzer.get(), log);
        analyzer->matcher.SetDebugInterfaces(BlockEntities::DebugInterfaces(log, nullptr, nullptr));
        return analyzer;
    }

    static stereo::StereoDisparities Run(stereo::StereoMatcherBM& matcher, const cv::Mat& left, const cv::Mat& right,
                                         int type = CV_16S)
    {
        stereo::StereoDisparities out = {cv::Mat(left.size(), type), cv::Mat(left.size(), type)};
        matcher.CalcDispTwoSides({left, right}, out, {nullptr, nullptr});
        return out;
    }

    TempIniDir dir;
    std::shared_ptr<RecordingLog> log = std::make_shared<RecordingLog>();
};

// What both views' records receive: window, cap, texture, uniqueness, left-right tolerance,
// speckle window and range, levels.
std::array<int, 8> SharedSettings(const stereo::CvStereoBMState& s)
{
    return {s.SADWindowSize, s.preFilterCap,      s.textureThreshold, s.uniquenessRatio,
            s.disp12MaxDiff, s.speckleWindowSize, s.speckleRange,     s.numberOfDisparities};
}

TEST_F(StereoMatcherBMTest, ParametersFromTheMatchersSectionReachBothViews)
{
    struct Case {
        const char* ini;
        std::array<int, 8> settings;
        int min_left, max_left;
    };
    const Case cases[] = {
        {"", {9, 31, 0, 0, -1, 0, 32, 112}, 0, 111},  // the defaults
        {"BM_SAD_window_size=15\nBM_min_disparity=4\nBM_disparity_levels=16\nBM_texture_threshold=7\n"
         "BM_prefilter_cap=40\nBM_un_ratio=12\nBM_disp12_max_diff=2\nBM_speckle_win_size=50\nBM_speckle_range=8\n",
         {15, 40, 7, 12, 2, 50, 8, 16},
         4,
         19},
    };
    for (const Case& c : cases) {
        auto analyzer = Load(c.ini);
        stereo::StereoMatcherBM& m = analyzer->matcher;
        m.InitFromParams();
        EXPECT_EQ(m.GetMinDispVal(kLeftView), c.min_left);
        EXPECT_EQ(m.GetMaxDispVal(kLeftView), c.max_left);
        EXPECT_EQ(m.GetMinDispVal(kRightView), -c.max_left);
        EXPECT_EQ(m.GetMaxDispVal(kRightView), -c.min_left);
        for (const auto view : {kLeftView, kRightView})
            EXPECT_EQ(SharedSettings(m.GetState(view)), c.settings) << c.ini << " view " << view;

        // Each view keeps its own work buffers.
        const auto pair = MakeShiftedPair({64, 48}, 6, 1);
        Run(m, pair.left, pair.right);
        EXPECT_NE(m.GetState(kLeftView).preFilteredImg0.data, m.GetState(kRightView).preFilteredImg0.data);
        EXPECT_NE(m.GetState(kLeftView).slidingSumBuf.data, m.GetState(kRightView).slidingSumBuf.data);
    }
}

TEST_F(StereoMatcherBMTest, RefusedParametersLeaveTheMatcherAsItWas)
{
    for (const char* bad : {"BM_disparity_levels=0\n", "BM_disparity_levels=-5\n", "BM_SAD_window_size=0\n",
                            "BM_SAD_window_size=-3\n", "BM_SAD_window_size=8\n"}) {
        SCOPED_TRACE(bad);
        auto fresh = Load(bad);
        EXPECT_THROW(fresh->matcher.InitFromParams(), exc::KIVException);
        EXPECT_FALSE(fresh->matcher.IsInitialized());
        EXPECT_THROW(fresh->matcher.GetMinDispVal(kLeftView), exc::KIVException);

        // A second initialisation with bad values keeps the first one's settings.
        auto analyzer = Load("BM_SAD_window_size=11\nBM_disparity_levels=32\n");
        analyzer->matcher.InitFromParams();
        dir.Write("algo.ini", "[StereoPeopleCounter--StereoMatcher]\n" + std::string(bad));
        ParamsLib::load_parameters(dir.PathOf("algo.ini").c_str(), 0, analyzer.get(), log);
        EXPECT_THROW(analyzer->matcher.InitFromParams(), exc::KIVException);
        EXPECT_EQ(analyzer->matcher.GetState(kLeftView).SADWindowSize, 11);
        EXPECT_EQ(analyzer->matcher.GetState(kRightView).SADWindowSize, 11);
        EXPECT_EQ(analyzer->matcher.GetMaxDispVal(kLeftView), 31);
        EXPECT_EQ(analyzer->matcher.GetMinDispVal(kRightView), -31);
    }
}

// The range setters reach the records the routine runs on, and only once initialised.
TEST_F(StereoMatcherBMTest, RangeSettersMoveBothViewsRecords)
{
    auto analyzer = Load("");
    stereo::StereoMatcherBM& m = analyzer->matcher;
    EXPECT_THROW(m.SetDispLevelsNum(64), exc::KIVException);
    EXPECT_THROW(m.SetMinDispValLeft(-8), exc::KIVException);
    m.InitFromParams();
    m.SetMinDispValLeft(-8);
    EXPECT_EQ(m.GetState(kLeftView).minDisparity, -8);
    EXPECT_EQ(m.GetState(kRightView).minDisparity, -103);
    m.SetDispLevelsNum(40);
    EXPECT_EQ(m.GetState(kLeftView).numberOfDisparities, 48);
    EXPECT_EQ(m.GetState(kRightView).minDisparity, -39);
    EXPECT_EQ(m.GetState(kRightView).numberOfDisparities, 48);
}

TEST_F(StereoMatcherBMTest, ViewsEqualTheRoutineWithTheImagesInTheirRoles)
{
    auto analyzer = Load("BM_disparity_levels=64\nBM_un_ratio=5\nBM_disp12_max_diff=1\n");
    stereo::StereoMatcherBM& m = analyzer->matcher;
    m.InitFromParams();
    const auto pair = MakeSteppedPair({160, 120}, 20, 33, 5);
    stereo::StereoDisparities raw = {cv::Mat(pair.left.size(), CV_16S), cv::Mat(pair.left.size(), CV_16S)};
    m.CalcDispTwoSidesIntegerScaled({pair.left, pair.right}, 16, raw, {nullptr, nullptr});

    for (const auto view : {kLeftView, kRightView}) {
        // The view's settings on a record of its own.
        stereo::StereoBMWithoutStripes routine;
        stereo::CvStereoBMState& s = *routine.state = m.GetState(view);
        for (cv::Mat* buffer : {&s.preFilteredImg0, &s.preFilteredImg1, &s.slidingSumBuf, &s.cost, &s.disp})
            *buffer = cv::Mat();
        cv::Mat expected;
        routine(view == kLeftView ? pair.left : pair.right, view == kLeftView ? pair.right : pair.left, expected);
        EXPECT_EQ(cv::countNonZero(raw[view] != expected), 0) << "view " << view;
    }
    // Scale 1: whole pixels.
    const stereo::StereoDisparities out = Run(m, pair.left, pair.right);
    EXPECT_EQ(out[kLeftView].at<short>(60, 100), 33);
    EXPECT_EQ(out[kRightView].at<short>(60, 60), -33);
}

TEST_F(StereoMatcherBMTest, FreshAndReusedMatchersGiveIdenticalMaps)
{
    const std::string settings =
        "BM_disparity_levels=48\nBM_texture_threshold=300\nBM_un_ratio=10\n"
        "BM_disp12_max_diff=0\nBM_speckle_win_size=40\nBM_speckle_range=16\n";
    const auto pair = MakeSteppedPair({160, 120}, 10, 30, 8);
    auto fresh = Load(settings);
    fresh->matcher.InitFromParams();
    const stereo::StereoDisparities expected = Run(fresh->matcher, pair.left, pair.right);

    auto reused = Load(settings);
    reused->matcher.InitFromParams();
    const auto first = MakeSteppedPair({160, 120}, 25, 3, 9);
    const auto smaller = MakeSteppedPair({100, 70}, 4, 12, 10);
    Run(reused->matcher, smaller.left, smaller.right);
    Run(reused->matcher, first.left, first.right);
    const stereo::StereoDisparities again = Run(reused->matcher, pair.left, pair.right);
    for (const auto view : {kLeftView, kRightView})
        EXPECT_EQ(cv::countNonZero(again[view] != expected[view]), 0) << "view " << view;
}

TEST_F(StereoMatcherBMTest, ColourInputIsMatchedOnItsGreyConversion)
{
    auto analyzer = Load("BM_disparity_levels=32\n");
    stereo::StereoMatcherBM& m = analyzer->matcher;
    m.InitFromParams();
    const auto grey = MakeSteppedPair({96, 72}, 5, 14, 12);
    // Colour images with different channels whose grey conversion is not the plain average.
    cv::Mat left3, right3;
    cv::merge(std::vector<cv::Mat>{grey.left, 255 - grey.left, grey.right}, left3);
    cv::merge(std::vector<cv::Mat>{grey.right, 255 - grey.right, grey.left}, right3);
    struct Case {
        int code;
        int channels;
    };
    for (const Case& c : {Case{-1, 3}, Case{cv::COLOR_BGR2BGRA, 4}}) {
        cv::Mat left = left3, right = right3;
        if (c.code >= 0) {
            cv::cvtColor(left3, left, c.code);
            cv::cvtColor(right3, right, c.code);
        }
        ASSERT_EQ(left.channels(), c.channels);
        cv::Mat left_grey, right_grey;
        cv::cvtColor(left, left_grey, c.channels == 3 ? cv::COLOR_BGR2GRAY : cv::COLOR_BGRA2GRAY);
        cv::cvtColor(right, right_grey, c.channels == 3 ? cv::COLOR_BGR2GRAY : cv::COLOR_BGRA2GRAY);
        const stereo::StereoDisparities colour = Run(m, left, right);
        const stereo::StereoDisparities expected = Run(m, left_grey, right_grey);
        for (const auto view : {kLeftView, kRightView})
            EXPECT_EQ(cv::countNonZero(colour[view] != expected[view]), 0) << c.channels << " channels, view " << view;
    }
}

TEST_F(StereoMatcherBMTest, UnsupportedImageFormatsAreRefused)
{
    auto analyzer = Load("BM_disparity_levels=16\n");
    stereo::StereoMatcherBM& m = analyzer->matcher;
    m.InitFromParams();
    struct Case {
        int type;
        const char* message;
    };
    const char* depth = "Only 8bit images are supported now. Write conversion to input format by yourself if you need";
    for (const Case& c : {Case{CV_16UC1, depth}, Case{CV_8SC1, depth}, Case{CV_8UC2, "format is not supported"}}) {
        const cv::Mat image(40, 50, c.type, cv::Scalar::all(3));
        try {
            Run(m, image, image);
            ADD_FAILURE() << "type " << c.type << " accepted";
        } catch (const exc::KIVException& e) {
            EXPECT_NE(std::string(e.GetAdditionalInfo()).find(c.message), std::string::npos) << e.what();
        }
    }
}

}  // namespace
