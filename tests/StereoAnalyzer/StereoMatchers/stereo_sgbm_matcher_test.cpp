#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <opencv2/core.hpp>
#include <string>
#include <vector>

#include "CommonUtilities/DebugInterfaces/recording_log.h"
#include "CommonUtilities/ParameterAccess/load_parameters.h"
#include "CommonUtilities/ParameterAccess/temp_ini_dir.h"
#include "CommonUtilities/algorithm_support/block_light.h"
#include "CommonUtilities/algorithm_support/kiv_exception.h"
#include "StereoAnalyzer/StereoMatchers/stereo_matcher_sgbm.h"
#include "StereoAnalyzer/StereoMatchers/stereo_pair_images.h"

namespace {

using stereo::kLeftView;
using stereo::kRightView;
using stereo::StereoSGBMWithoutStripes;
using stereo_test::CountDifferent;
using stereo_test::MakeBoxPair;
using stereo_test::MakeShiftedPair;
using stereo_test::ShiftedPair;

class AnalyserBlock : public BlockHighlevel::LightBlock<BlockEntities::IAlgoEntityBase> {
public:
    AnalyserBlock() : matcher("StereoMatcher", GetChildrenRegistry()) {}
    BlockHighlevel::ChildBlock<stereo::StereoMatcherSGBM> matcher;
};

class RootBlock : public BlockHighlevel::LightBlock<BlockEntities::IAlgoEntityBase> {
public:
    RootBlock() : analyser("StereoPeopleCounter", GetChildrenRegistry()) {}
    BlockHighlevel::ChildBlock<AnalyserBlock> analyser;
};

// The matcher inside the analyser's block tree, its parameters loaded from an INI file.
class StereoMatcherSGBMTest : public ::testing::Test {
protected:
    StereoMatcherSGBMTest() { Rebuild(); }

    void Rebuild()
    {
        m_root = std::make_unique<RootBlock>();
        BlockEntities::TraverseSetContexts(m_root.get());
        Matcher().SetDebugInterfaces(BlockEntities::DebugInterfaces(m_log, nullptr, nullptr));
    }

    stereo::StereoMatcherSGBM& Matcher() { return m_root->analyser.matcher; }

    // Loads the given keys of the matcher's section and initialises it.
    void Load(const std::string& keys)
    {
        const std::string ini = m_dir.Write("algo.ini", "[StereoPeopleCounter--StereoMatcher]\n" + keys);
        ParamsLib::load_parameters(ini.c_str(), 0, m_root.get(), m_log);
        Matcher().InitFromParams();
    }

    // Both views' raw fixed-point maps.
    stereo::StereoDisparities Run(const cv::Mat& left, const cv::Mat& right)
    {
        stereo::StereoDisparities disp = {cv::Mat(left.size(), CV_16SC1), cv::Mat(left.size(), CV_16SC1)};
        Matcher().CalcDispTwoSidesIntegerScaled({left, right}, 16, disp, {nullptr, nullptr});
        return disp;
    }

    TempIniDir m_dir;
    std::shared_ptr<RecordingLog> m_log = std::make_shared<RecordingLog>();
    std::unique_ptr<RootBlock> m_root;
};

// The block's maps are the routine's, run with P1 = 8 * channels * window^2 and P2 = 32 * channels
// * window^2 for the view's own reference image and the range of that view.
TEST_F(StereoMatcherSGBMTest, PenaltiesFollowTheWindowAndTheChannels)
{
    struct Case {
        int window;
        int channels;
        int p1;
        int p2;
    };
    for (const Case c : {Case{1, 1, 8, 32}, Case{3, 3, 216, 864}, Case{5, 1, 200, 800}, Case{1, 3, 24, 96}}) {
        SCOPED_TRACE(testing::Message() << "window " << c.window << " channels " << c.channels);
        Rebuild();
        Load("SGBM_SAD_window_size=" + std::to_string(c.window) + "\nSGBM_disparity_levels=40\nSGBM_un_ratio=5\n");
        const ShiftedPair pair = MakeShiftedPair({96, 72}, 6, 7, c.channels);
        const stereo::StereoDisparities disp = Run(pair.left, pair.right);

        StereoSGBMWithoutStripes left(0, 48, c.window, c.p1, c.p2, 0, 12, 5, 0, 32, false);
        StereoSGBMWithoutStripes right(-47, 48, c.window, c.p1, c.p2, 0, 12, 5, 0, 32, false);
        cv::Mat expected_left, expected_right;
        left(pair.left, pair.right, expected_left);
        right(pair.right, pair.left, expected_right);
        EXPECT_EQ(CountDifferent(disp[kLeftView], expected_left), 0);
        EXPECT_EQ(CountDifferent(disp[kRightView], expected_right), 0);
    }
}

// Both views through the block with full dynamic programming: at least 98% of the matchable
// pixels within one pixel of the truth, at the analyser's whole-pixel scale.
TEST_F(StereoMatcherSGBMTest, MatchesBothViewsOfAShiftedPairWithFullDP)
{
    Load("SGBM_SAD_window_size=3\nSGBM_disparity_levels=32\nSGBM_full_DP=true\nSGBM_un_ratio=10\n");
    const ShiftedPair pair = MakeShiftedPair({160, 120}, 11, 7);
    stereo::StereoDisparities disp;
    cv::Mat_<unsigned char> left_mask, right_mask;
    disp[kLeftView] = cv::Mat(120, 160, CV_32SC1);
    disp[kRightView] = cv::Mat(120, 160, CV_32SC1);
    Matcher().CalcDispTwoSides({pair.left, pair.right}, disp, {&left_mask, &right_mask});
    cv::Mat left16, right16;
    disp[kLeftView].convertTo(left16, CV_16S, 16);
    disp[kRightView].convertTo(right16, CV_16S, 16);
    EXPECT_GE(stereo_test::ShareNearTruth(left16, 11), 0.98);
    EXPECT_GE(stereo_test::ShareNearTruth(right16, -11), 0.98);
    EXPECT_EQ(CountDifferent(left_mask, disp[kLeftView] == -1), 0);
    EXPECT_EQ(CountDifferent(right_mask, disp[kRightView] == -32), 0);
}

TEST_F(StereoMatcherSGBMTest, FourChannelInputMatchesLikeItsFirstThreeChannels)
{
    Load("SGBM_SAD_window_size=3\nSGBM_disparity_levels=32\n");
    const ShiftedPair pair = MakeShiftedPair({96, 72}, 5, 7, 3);
    cv::Mat left4, right4;
    const cv::Mat alpha_left = stereo_test::Texture({96, 72}, 91), alpha_right = stereo_test::Texture({96, 72}, 92);
    cv::merge(std::vector<cv::Mat>{pair.left, alpha_left}, left4);
    cv::merge(std::vector<cv::Mat>{pair.right, alpha_right}, right4);
    const stereo::StereoDisparities three = Run(pair.left, pair.right);
    const stereo::StereoDisparities four = Run(left4, right4);
    for (const auto view : {kLeftView, kRightView}) {
        EXPECT_EQ(CountDifferent(three[view], four[view]), 0);
        EXPECT_GT(cv::countNonZero(three[view] == 5 * 16 * (view == kLeftView ? 1 : -1)), 96 * 72 / 2);
    }
}

// A matcher that matched other pairs before (another size, colour, then grey again) gives what a
// fresh one gives: buffers and penalties are set for every run.
TEST_F(StereoMatcherSGBMTest, ReusedMatcherGivesAFreshMatchersOutput)
{
    const std::string keys = "SGBM_SAD_window_size=3\nSGBM_disparity_levels=32\nSGBM_speckle_win_size=20\n";
    const ShiftedPair grey = MakeBoxPair({120, 80}, 4, 13, 11);
    const ShiftedPair colour = MakeShiftedPair({64, 48}, 7, 7, 3);
    Load(keys);
    const stereo::StereoDisparities fresh = Run(grey.left, grey.right);

    Rebuild();
    Load(keys);
    Run(colour.left, colour.right);
    Run(grey.left, grey.right);
    Run(colour.left, colour.right);
    const stereo::StereoDisparities reused = Run(grey.left, grey.right);
    for (const auto view : {kLeftView, kRightView}) EXPECT_EQ(CountDifferent(fresh[view], reused[view]), 0);
}

// Parameters that cannot work are refused by InitFromParams and leave the matcher uninitialised;
// workable ones set both views' ranges (the defaults: 320 levels).
TEST_F(StereoMatcherSGBMTest, InitFromParamsRefusesUnworkableParametersAndSetsTheRanges)
{
    const char* cases[] = {
        "SGBM_SAD_window_size=0\n",  "SGBM_SAD_window_size=2\n", "SGBM_SAD_window_size=-3\n",
        "SGBM_disparity_levels=0\n", "SGBM_prefilter_cap=128\n", "SGBM_SAD_window_size=13\nSGBM_prefilter_cap=63\n",
    };
    for (const char* keys : cases) {
        SCOPED_TRACE(keys);
        Rebuild();
        EXPECT_THROW(Load(keys), exc::KIVException);
        EXPECT_FALSE(Matcher().IsInitialized());
    }
    Rebuild();
    EXPECT_NO_THROW(Load("SGBM_SAD_window_size=11\nSGBM_prefilter_cap=63\nSGBM_disparity_levels=17\n"));
    EXPECT_EQ(Matcher().GetMaxDispVal(kLeftView), 31);
    // The largest windows whose path costs fit 16 bits: 15 in grey, 9 in colour.
    const ShiftedPair grey = MakeShiftedPair({64, 48}, 3, 7);
    const ShiftedPair colour = MakeShiftedPair({64, 48}, 3, 7, 3);
    for (const auto& [window, pair] : {std::pair{15, &grey}, std::pair{9, &colour}}) {
        SCOPED_TRACE(window);
        Rebuild();
        EXPECT_NO_THROW(Load("SGBM_SAD_window_size=" + std::to_string(window) + "\nSGBM_disparity_levels=16\n"));
        EXPECT_NO_THROW(Run(pair->left, pair->right));
    }
    Rebuild();
    Load("");
    EXPECT_EQ(Matcher().GetMinDispVal(kLeftView), 0);
    EXPECT_EQ(Matcher().GetMaxDispVal(kLeftView), 319);
    EXPECT_EQ(Matcher().GetMinDispVal(kRightView), -319);
    EXPECT_EQ(Matcher().GetMaxDispVal(kRightView), 0);
}

// A re-initialisation that fails keeps the previous settings: same ranges, same maps.
TEST_F(StereoMatcherSGBMTest, FailedReinitialisationKeepsThePreviousSettings)
{
    Load("SGBM_SAD_window_size=3\nSGBM_disparity_levels=48\nSGBM_min_disparity=-4\nSGBM_full_DP=true\n");
    const ShiftedPair pair = MakeBoxPair({96, 64}, 3, 12, 11);
    const stereo::StereoDisparities before = Run(pair.left, pair.right);
    for (const char* keys : {"SGBM_SAD_window_size=4\nSGBM_disparity_levels=16\n",
                             "SGBM_disparity_levels=0\nSGBM_full_DP=false\nSGBM_SAD_window_size=1\n",
                             "SGBM_prefilter_cap=200\nSGBM_min_disparity=0\nSGBM_un_ratio=50\n"}) {
        SCOPED_TRACE(keys);
        EXPECT_THROW(Load(keys), exc::KIVException);
        EXPECT_EQ(Matcher().GetMinDispVal(kLeftView), -4);
        EXPECT_EQ(Matcher().GetMaxDispVal(kLeftView), 43);
        const stereo::StereoDisparities after = Run(pair.left, pair.right);
        for (const auto view : {kLeftView, kRightView}) EXPECT_EQ(CountDifferent(before[view], after[view]), 0);
    }
}

TEST_F(StereoMatcherSGBMTest, RefusesInputsThatAreNotOneThreeOrFourChannel8Bit)
{
    Load("SGBM_disparity_levels=16\n");
    struct Case {
        int type;
        const char* text;
    };
    for (const Case c : {Case{CV_8UC2, "format is not supported"},
                         Case{CV_16UC1,
                              "Only 8bit images are supported now. Write conversion to input format by "
                              "yourself if you need"}}) {
        const cv::Mat image(24, 32, c.type, cv::Scalar::all(3));
        stereo::StereoDisparities disp = {cv::Mat(24, 32, CV_16SC1), cv::Mat(24, 32, CV_16SC1)};
        try {
            Matcher().CalcDispTwoSides({image, image}, disp, {nullptr, nullptr});
            ADD_FAILURE() << "accepted type " << c.type;
        } catch (const exc::KIVException& e) {
            EXPECT_NE(std::strstr(e.GetAdditionalInfo(), c.text), nullptr) << e.what();
        }
    }
}

}  // namespace
