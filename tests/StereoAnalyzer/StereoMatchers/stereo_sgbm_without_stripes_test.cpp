#include "StereoAnalyzer/StereoMatchers/modified_opencv_stereo_matchers/stereo_sgbm_without_stripes.h"

#include <gtest/gtest.h>

#include <opencv2/calib3d.hpp>
#include <opencv2/core.hpp>
#include <string>
#include <vector>

#include "CommonUtilities/algorithm_support/kernel_path.h"
#include "CommonUtilities/algorithm_support/kiv_exception.h"
#include "StereoAnalyzer/StereoMatchers/stereo_pair_images.h"

namespace {

using AlgoLibrary::KernelPath;
using stereo::StereoSGBMWithoutStripes;
using stereo_test::CountDifferent;
using stereo_test::MakeBoxPair;
using stereo_test::MakeShiftedPair;
using stereo_test::ShiftedPair;

constexpr int kWidth = 160;
constexpr int kHeight = 120;

StereoSGBMWithoutStripes MakeMatcher(int min_d, int num_d, int window, int channels, bool full_dp)
{
    const int area = channels * window * window;
    return StereoSGBMWithoutStripes(min_d, num_d, window, 8 * area, 32 * area, 1, 12, 10, 0, 32, full_dp);
}

struct AccuracyCase {
    const char* name;
    bool right_view;
    bool full_dp;
    int channels;
    int window;
};

class StereoSGBMWithoutStripesTest : public ::testing::TestWithParam<AccuracyCase> {};

// Both views of a shifted textured pair, with 5 and 8 directions, grey and colour: at least 98% of
// the pixels whose match lies in the other image come within one pixel of the true disparity, the
// columns next to the image ends included.
TEST_P(StereoSGBMWithoutStripesTest, RecoversTheShiftOfATexturedPairInEveryMatchableColumn)
{
    const AccuracyCase c = GetParam();
    const int num_d = 32;
    const int shift = 9;
    const ShiftedPair pair = MakeShiftedPair({kWidth, kHeight}, shift, 7, c.channels);
    StereoSGBMWithoutStripes matcher =
        MakeMatcher(c.right_view ? -(num_d - 1) : 0, num_d, c.window, c.channels, c.full_dp);
    cv::Mat disp;
    if (c.right_view)
        matcher(pair.right, pair.left, disp);
    else
        matcher(pair.left, pair.right, disp);
    ASSERT_EQ(disp.type(), CV_16SC1);
    ASSERT_EQ(disp.size(), pair.left.size());
    const int truth = c.right_view ? -shift : shift;
    EXPECT_GE(stereo_test::ShareNearTruth(disp, truth), 0.98);

    // The band OpenCV leaves invalid at the image end: columns whose range only partly reaches
    // into the other image are matched too (all but the two whose match is an edge column of the
    // other image, which holds replicated values).
    const cv::Rect band = c.right_view ? cv::Rect(kWidth - num_d, 0, num_d - shift - 2, kHeight)
                                       : cv::Rect(shift + 2, 0, num_d - shift - 2, kHeight);
    const cv::Mat near = cv::abs(disp(band) - truth * 16) <= 16;
    EXPECT_GE(cv::countNonZero(near), 0.95 * band.area());
}

INSTANTIATE_TEST_SUITE_P(Views, StereoSGBMWithoutStripesTest,
                         ::testing::Values(AccuracyCase{"LeftGrey", false, false, 1, 1},
                                           AccuracyCase{"RightGrey", true, false, 1, 1},
                                           AccuracyCase{"LeftFullDP", false, true, 1, 3},
                                           AccuracyCase{"RightFullDP", true, true, 1, 3},
                                           AccuracyCase{"LeftColour", false, false, 3, 3},
                                           AccuracyCase{"RightColourFullDP", true, true, 3, 1},
                                           AccuracyCase{"LeftWindow5", false, false, 1, 5}),
                         [](const ::testing::TestParamInfo<AccuracyCase>& p) { return std::string(p.param.name); });

// OpenCV's StereoSGBM (the 5-direction mode and the full 8-direction one) on a scene of two depths,
// over the columns OpenCV matches (from the disparity count on): on the pixels both call valid, at
// least 95% of the disparities agree within one pixel, and the same uniqueness test keeps as many
// pixels valid: within 1% at uniqueness 10, within 3% with a strong smoothness penalty and
// uniqueness 50, where the paths through the columns OpenCV leaves out weigh more. The left-right
// tolerance is wide, since OpenCV's table of the other image has no entries from those columns.
TEST(StereoSGBMWithoutStripesOracleTest, AgreesWithOpenCVOnDisparitiesAndCoverage)
{
    const ShiftedPair pair = MakeBoxPair({kWidth, kHeight}, 6, 21, 11);
    const int num_d = 48;
    const cv::Rect compared(num_d, 0, kWidth - num_d, kHeight);
    struct Case {
        int window;
        int p2_per_area;
        int uniqueness;
        double coverage_tolerance;
    };
    for (const bool full_dp : {false, true}) {
        for (const Case c : {Case{1, 32, 10, 0.01}, Case{3, 32, 10, 0.01}, Case{5, 32, 10, 0.01},
                             Case{3, 450, 50, 0.03}, Case{15, 32, 0, 0.01}}) {
            SCOPED_TRACE(testing::Message() << "fullDP " << full_dp << " window " << c.window << " P2/area "
                                            << c.p2_per_area << " uniqueness " << c.uniqueness);
            const int p1 = 8 * c.window * c.window;
            const int p2 = c.p2_per_area * c.window * c.window;
            StereoSGBMWithoutStripes ours(0, num_d, c.window, p1, p2, 1000, 12, c.uniqueness, 0, 32, full_dp);
            cv::Mat disp;
            ours(pair.left, pair.right, disp);
            cv::Ptr<cv::StereoSGBM> reference =
                cv::StereoSGBM::create(0, num_d, c.window, p1, p2, 1000, 12, c.uniqueness, 0, 32,
                                       full_dp ? cv::StereoSGBM::MODE_HH : cv::StereoSGBM::MODE_SGBM);
            cv::Mat expected;
            reference->compute(pair.left, pair.right, expected);
            const cv::Mat ours_valid = disp(compared) != -16;
            const cv::Mat reference_valid = expected(compared) != -16;
            const cv::Mat both = ours_valid & reference_valid;
            const cv::Mat agree = both & (cv::abs(disp(compared) - expected(compared)) <= 16);
            const int both_valid = cv::countNonZero(both);
            const int reference_count = cv::countNonZero(reference_valid);
            EXPECT_GE(both_valid, compared.area() / 2);
            EXPECT_GE(cv::countNonZero(agree), 0.95 * both_valid);
            EXPECT_NEAR(cv::countNonZero(ours_valid), reference_count, c.coverage_tolerance * reference_count);
        }
    }
}

// Where the views do not match, every path sum of a window of 15 reaches the 16-bit ceiling at
// every disparity; with uniqueness 0 nothing else makes such a pixel invalid. No disparity is
// better there, and OpenCV's StereoSGBM leaves the pixel invalid: so do we, in both modes (at most
// 5% of the compared pixels are valid in ours where OpenCV's are invalid).
TEST(StereoSGBMWithoutStripesOracleTest, PixelsWhoseSumsAllSitAtTheCeilingAreInvalid)
{
    const ShiftedPair left_scene = MakeBoxPair({kWidth, kHeight}, 6, 21, 11);
    const ShiftedPair right_scene = MakeBoxPair({kWidth, kHeight}, 6, 21, 12);
    const int num_d = 48, window = 15, p1 = 8 * window * window, p2 = 32 * window * window;
    const cv::Rect compared(num_d, 0, kWidth - num_d, kHeight);
    for (const bool full_dp : {false, true}) {
        SCOPED_TRACE(testing::Message() << "fullDP " << full_dp);
        StereoSGBMWithoutStripes ours(0, num_d, window, p1, p2, 1000, 12, 0, 0, 32, full_dp);
        cv::Mat disp;
        ours(left_scene.left, right_scene.right, disp);
        cv::Ptr<cv::StereoSGBM> reference =
            cv::StereoSGBM::create(0, num_d, window, p1, p2, 1000, 12, 0, 0, 32,
                                   full_dp ? cv::StereoSGBM::MODE_HH : cv::StereoSGBM::MODE_SGBM);
        cv::Mat expected;
        reference->compute(left_scene.left, right_scene.right, expected);
        const cv::Mat only_ours_valid = (disp(compared) != -16) & (expected(compared) == -16);
        EXPECT_LE(cv::countNonZero(only_ours_valid), 0.05 * compared.area());
    }
}

struct KernelCase {
    const char* name;
    int min_d;
    int num_d;
    int window;
    int channels;
    int p1;
    int p2;
    int uniqueness;
    int speckle_window;
    bool full_dp;
};

class StereoSGBMKernelsTest : public ::testing::TestWithParam<KernelCase> {};

// The vectorised kernels give exactly the scalar ones' disparities, saturated path sums included.
TEST_P(StereoSGBMKernelsTest, VectorAndScalarPathsGiveIdenticalDisparities)
{
    const KernelCase c = GetParam();
    const ShiftedPair pair =
        c.channels == 3 ? MakeShiftedPair({96, 64}, 5, 7, 3) : MakeBoxPair({96, 64}, 5, 14, 11);
    const cv::Mat& left = pair.left;
    const cv::Mat& right = pair.right;
    StereoSGBMWithoutStripes matcher(c.min_d, c.num_d, c.window, c.p1, c.p2, 1, 15, c.uniqueness, c.speckle_window, 2,
                                     c.full_dp);
    const auto match = [&](KernelPath path) {
        const AlgoLibrary::ScopedKernelPath scoped(path);
        cv::Mat disp;
        matcher(left, right, disp);
        return disp;
    };
    const cv::Mat scalar = match(KernelPath::kScalar);
    const cv::Mat vector = match(KernelPath::kVector);
    EXPECT_EQ(CountDifferent(scalar, vector), 0);
    EXPECT_GT(cv::countNonZero(scalar != (c.min_d - 1) * 16), 0);
}

INSTANTIATE_TEST_SUITE_P(Settings, StereoSGBMKernelsTest,
                         ::testing::Values(KernelCase{"Defaults", 0, 16, 1, 1, 8, 32, 1, 0, false},
                                           KernelCase{"Window5FullDP", 0, 32, 5, 1, 200, 800, 10, 0, true},
                                           KernelCase{"RightViewRange", -31, 32, 3, 1, 72, 288, 5, 0, false},
                                           KernelCase{"OffsetRange", -5, 48, 1, 1, 8, 32, 0, 20, true},
                                           KernelCase{"SaturatedSums", 0, 32, 5, 1, 100, 3500, 0, 0, true},
                                           KernelCase{"SaturatedSumsFiveDirections", 0, 16, 5, 1, 3000, 6000, 0, 0,
                                                      false},
                                           KernelCase{"StrictUniqueness", 0, 32, 3, 1, 72, 288, 30, 0, false},
                                           KernelCase{"NoUniquenessLimit", 0, 32, 3, 1, 72, 288, 0, 0, false},
                                           KernelCase{"Colour", 0, 32, 3, 3, 216, 864, 10, 0, true}),
                         [](const ::testing::TestParamInfo<KernelCase>& p) { return std::string(p.param.name); });

// Nothing left in the work area from an earlier call reaches the result: a reused object whose
// buffer was filled with noise, or sized for another image, gives a fresh object's disparities.
TEST(StereoSGBMWithoutStripesStateTest, ReusedWorkAreaGivesAFreshObjectsResult)
{
    const ShiftedPair pair = MakeBoxPair({kWidth, kHeight}, 4, 17, 11);
    const ShiftedPair other = MakeShiftedPair({64, 48}, 3, 7);
    for (const bool full_dp : {false, true}) {
        for (const int min_d : {0, -47}) {
            SCOPED_TRACE(testing::Message() << "fullDP " << full_dp << " minDisparity " << min_d);
            cv::Mat expected;
            MakeMatcher(min_d, 48, 3, 1, full_dp)(pair.left, pair.right, expected);

            StereoSGBMWithoutStripes reused = MakeMatcher(min_d, 48, 3, 1, full_dp);
            cv::Mat disp;
            reused(other.left, other.right, disp);
            reused(pair.left, pair.right, disp);
            EXPECT_EQ(CountDifferent(disp, expected), 0);
            cv::randu(reused.buffer, 0, 256);
            reused(pair.left, pair.right, disp);
            EXPECT_EQ(CountDifferent(disp, expected), 0);
        }
    }
}

// A range wholly outside the image (on either side) gives the invalid value everywhere.
TEST(StereoSGBMWithoutStripesRangeTest, RangeOutsideTheImageGivesAllInvalid)
{
    const ShiftedPair pair = MakeShiftedPair({kWidth, kHeight}, 5, 7);
    for (const int min_d : {kWidth, kWidth + 30, -kWidth - 16, -kWidth - 100}) {
        SCOPED_TRACE(min_d);
        StereoSGBMWithoutStripes matcher = MakeMatcher(min_d, 16, 1, 1, false);
        matcher.speckleWindowSize = 50;
        cv::Mat disp;
        matcher(pair.left, pair.right, disp);
        EXPECT_EQ(cv::countNonZero(disp != (min_d - 1) * 16), 0);
    }
}

// Settings below their limits fall back as documented: P1 and P2 of 0 act as 2 and 5, a
// left-right tolerance of 0 as 1 and a negative uniqueness ratio as 10.
TEST(StereoSGBMWithoutStripesRangeTest, SettingsBelowTheirLimitsUseTheirFallbacks)
{
    const ShiftedPair pair = MakeBoxPair({kWidth, kHeight}, 3, 12, 11);
    struct Case {
        StereoSGBMWithoutStripes given;
        StereoSGBMWithoutStripes meant;
    };
    std::vector<Case> cases;
    cases.push_back({{0, 32, 1, 0, 0, 1, 12, 10, 0, 32, false}, {0, 32, 1, 2, 5, 1, 12, 10, 0, 32, false}});
    cases.push_back({{0, 32, 1, 8, 32, 0, 12, 10, 0, 32, false}, {0, 32, 1, 8, 32, 1, 12, 10, 0, 32, false}});
    cases.push_back({{0, 32, 1, 8, 32, 1, 12, -1, 0, 32, false}, {0, 32, 1, 8, 32, 1, 12, 10, 0, 32, false}});
    cases.push_back({{0, 32, 1, 8, 4, 1, 12, 10, 0, 32, false}, {0, 32, 1, 8, 9, 1, 12, 10, 0, 32, false}});
    cases.push_back({{0, 32, 0, 8, 32, 1, 12, 10, 0, 32, false}, {0, 32, 5, 8, 32, 1, 12, 10, 0, 32, false}});
    cases.push_back({{0, 32, 1, 8, 32, 1, 3, 10, 0, 32, false}, {0, 32, 1, 8, 32, 1, 15, 10, 0, 32, false}});
    for (size_t i = 0; i < cases.size(); ++i) {
        SCOPED_TRACE(i);
        cv::Mat given, meant;
        cases[i].given(pair.left, pair.right, given);
        cases[i].meant(pair.left, pair.right, meant);
        EXPECT_EQ(CountDifferent(given, meant), 0);
    }
}

// Counts that are no positive multiple of 16, a prefilter cap beyond the clip table and settings
// whose 16-bit path costs (largest block cost + P2) could overflow are refused; the defaults of the
// matcher block are not, nor its P1 and P2 with grey window 15 and colour window 9.
TEST(StereoSGBMWithoutStripesRangeTest, RefusesSettingsThe16BitCostsCannotHold)
{
    const ShiftedPair grey = MakeShiftedPair({48, 32}, 2, 7);
    const ShiftedPair colour = MakeShiftedPair({48, 32}, 2, 7, 3);
    struct Case {
        int num_d;
        int window;
        int cap;
        int p2;
        bool colour;
        bool refused;
    };
    const Case cases[] = {
        {0, 1, 12, 32, false, true},      {24, 1, 12, 32, false, true},     {-16, 1, 12, 32, false, true},
        {8, 1, 12, 32, false, true},      {320, 1, 12, 96, true, false},    {16, 1, 127, 32, false, false},
        {16, 1, 128, 32, false, true},    {16, 11, 63, 11616, true, true},  {16, 9, 15, 2592, false, false},
        {16, 7, 15, 4704, true, false},   {16, 1, 15, 32674, false, false}, {16, 1, 15, 32675, false, true},
        {16, 15, 12, 7200, false, false}, {16, 9, 12, 7776, true, false},   {16, 17, 12, 9248, false, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "D " << c.num_d << " window " << c.window << " cap " << c.cap << " P2 "
                                        << c.p2 << " colour " << c.colour);
        StereoSGBMWithoutStripes matcher(0, c.num_d, c.window, 8, c.p2, 1, c.cap, 10, 0, 32, false);
        const ShiftedPair& pair = c.colour ? colour : grey;
        cv::Mat disp;
        if (c.refused)
            EXPECT_THROW(matcher(pair.left, pair.right, disp), exc::KIVException);
        else
            EXPECT_NO_THROW(matcher(pair.left, pair.right, disp));
    }
}

// Inputs of different size or type, or not 8-bit, raise OpenCV's assertion.
TEST(StereoSGBMWithoutStripesRangeTest, MismatchedInputsRaiseAssertions)
{
    StereoSGBMWithoutStripes matcher = MakeMatcher(0, 16, 1, 1, false);
    const cv::Mat grey(20, 30, CV_8UC1, cv::Scalar(1));
    const struct {
        cv::Mat left, right;
        const char* condition;
    } cases[] = {{grey, cv::Mat(21, 30, CV_8UC1), "left.size() == right.size()"},
                 {grey, cv::Mat(20, 30, CV_8UC3), "left.type() == right.type()"},
                 {cv::Mat(20, 30, CV_16UC1), cv::Mat(20, 30, CV_16UC1),
                  "left.depth() == cv::DataType<PixType>::depth"}};
    for (const auto& c : cases) {
        cv::Mat disp;
        try {
            matcher(c.left, c.right, disp);
            ADD_FAILURE() << "no assertion: " << c.condition;
        } catch (const cv::Exception& e) {
            EXPECT_EQ(e.code, cv::Error::StsAssert);
            EXPECT_EQ(e.func, "operator()");
            EXPECT_EQ(e.err, c.condition);
        }
    }
}

}  // namespace
