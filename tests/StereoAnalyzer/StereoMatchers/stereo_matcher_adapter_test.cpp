#include "StereoAnalyzer/StereoMatchers/stereo_matcher_adapter.h"

#include <gtest/gtest.h>

#include <atomic>
#include <climits>
#include <cmath>
#include <functional>
#include <limits>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "CommonUtilities/DebugInterfaces/recording_log.h"
#include "CommonUtilities/algorithm_support/kiv_exception.h"
#include "StereoAnalyzer/StereoMatchers/one_side_parallel_stereo_matcher.h"

namespace {

using stereo::kLeftView;
using stereo::kRightView;

// The internal fixed-point value the fake routine writes at (x, y) for a view with the range
// [min, max] whose reference pixel is `pixel`: every seventh pixel is invalid, the others lie in
// the range with all sixteen fractions.
short PatternValue(int x, int y, int pixel, int min, int max)
{
    if ((x + 2 * y) % 7 == 0)
        return static_cast<short>((min - 1) * 16);
    return static_cast<short>(min * 16 + (x * 37 + y * 11 + pixel) % ((max - min + 1) * 16));
}

// A matcher whose routine writes the pattern above; everything else is the shared adapter code.
class FakeMatcher : public stereo::OneSideParallelStereoMatcher {
public:
    struct Settings {
        int min_disparity = 0;
        int levels_num = 16;
    };

    void SetDispLevelsNum(short levels_num) override
    {
        SetDispLevelsNumCommon(levels_num, Fields(kLeftView), Fields(kRightView));
    }
    void SetMinDispValLeft(short min_disp) override
    {
        SetMinDispValLeftCommon(min_disp, Fields(kLeftView), Fields(kRightView));
    }

    int RequestedLevels() const { return m_disp_levels_num; }
    const cv::Mat& InternalMap(stereo::eLeftOrRightView view) const { return m_disp[view]; }
    const cv::Mat& Buffer(stereo::eLeftOrRightView view) const { return m_disp_buffer[view]; }
    const cv::Mat& Input(stereo::eLeftOrRightView view) const { return m_input[view]; }

    int params_min = 0;
    int params_levels = 100;
    bool fail_init = false;
    int fail_view = -1;
    int resize_calls = 0;
    std::array<Settings, 2> settings;
    std::array<std::atomic<int>, 2> runs{};

protected:
    void CalcDispOneSideAlgoRun(stereo::eLeftOrRightView view) override
    {
        ++runs[view];
        if (view == fail_view)
            throw std::runtime_error("routine failed");
        const cv::Mat& reference = m_input[view];
        cv::Mat& disp = m_disp[view];
        const int min = settings[view].min_disparity;
        const int max = min + settings[view].levels_num - 1;
        for (int y = 0; y < disp.rows; ++y)
            for (int x = 0; x < disp.cols; ++x)
                disp.at<short>(y, x) = PatternValue(x, y, reference.at<uchar>(y, x), min, max);
    }
    void InitFromParamsImpl() override
    {
        if (fail_init)
            throw exc::KIVException("FakeInit_091226_090000", "bad parameters");
        SetRangesCommon(params_min, params_levels, Fields(kLeftView), Fields(kRightView));
    }
    void ResizeBuffers(const cv::Size_<int>& size) override
    {
        ++resize_calls;
        ResizeDispBuffers(size);
    }
    void RescaleParametersImpl(double factor) override
    {
        RescaleParametersCommon(factor, Fields(kLeftView), Fields(kRightView));
    }
    short GetMaxDispValLeft() const override
    {
        return static_cast<short>(settings[0].min_disparity + settings[0].levels_num - 1);
    }
    short GetMinDispValLeft() const override { return static_cast<short>(settings[0].min_disparity); }
    void TransformDispToInput(const cv::Mat& output, stereo::eLeftOrRightView view) override
    {
        TransformDispToInputCommon(output, view);
    }
    void TransformOutputToDispInt(stereo::eLeftOrRightView view, unsigned int scale, cv::Mat& output) override
    {
        TransformOutputToDispIntCommon(view, scale, output);
    }
    void TransformOutputToDispFloat(stereo::eLeftOrRightView view, cv::Mat& output) override
    {
        TransformOutputToDispFloatCommon(view, output);
    }
    void TransformImagesToInput(const cv::Mat& left, const cv::Mat& right) override
    {
        KIV_CHECK(left.type() == CV_8UC1, "FakeInput_091226_090001") << "Only 8bit images are supported now.";
        m_input[kLeftView] = left;
        m_input[kRightView] = right;
    }
    void ResetInput() override
    {
        ResetDispToBuffers();
        m_input[kLeftView].release();
        m_input[kRightView].release();
    }
    void GetInvalidPixelsMask(stereo::eLeftOrRightView view, cv::Mat_<unsigned char>& mask) override
    {
        GetInvalidPixelsMaskCommon(view, mask);
    }

private:
    ViewRangeFields Fields(stereo::eLeftOrRightView view)
    {
        return {&settings[view].min_disparity, &settings[view].levels_num};
    }
};

struct Fixture {
    Fixture()
    {
        matcher.SetDebugInterfaces(BlockEntities::DebugInterfaces(log, nullptr, nullptr));
        images[kLeftView] = cv::Mat(12, 20, CV_8UC1);
        images[kRightView] = cv::Mat(12, 20, CV_8UC1);
        cv::randu(images[kLeftView], 0, 256);
        cv::randu(images[kRightView], 0, 256);
    }

    std::shared_ptr<RecordingLog> log = std::make_shared<RecordingLog>();
    FakeMatcher matcher;
    stereo::StereoImages images;
};

// The expected output of the internal value at `scale` units per pixel (half away from zero).
long long Scaled(int internal, long long scale)
{
    const long long magnitude = (std::llabs(internal) * scale + 8) / 16;
    return internal < 0 ? -magnitude : magnitude;
}

// Checks one view's output and mask against the pattern; returns the number of invalid pixels.
int ExpectViewOutput(const FakeMatcher& matcher, const cv::Mat& image, stereo::eLeftOrRightView view,
                     const cv::Mat& output, long long scale, const cv::Mat_<unsigned char>* mask)
{
    const int min = matcher.GetMinDispVal(view);
    const int max = matcher.GetMaxDispVal(view);
    const bool floating = output.depth() == CV_32F || output.depth() == CV_64F;
    cv::Mat values;
    output.convertTo(values, CV_64F);
    int invalid = 0;
    for (int y = 0; y < image.rows; ++y) {
        for (int x = 0; x < image.cols; ++x) {
            const short internal = PatternValue(x, y, image.at<uchar>(y, x), min, max);
            const double expected = floating ? internal / 16.0 : static_cast<double>(Scaled(internal, scale));
            EXPECT_EQ(values.at<double>(y, x), expected) << "view " << view << " at " << x << "," << y;
            const bool is_invalid = internal == (min - 1) * 16;
            invalid += is_invalid;
            if (mask) {
                EXPECT_EQ((*mask)(y, x), is_invalid ? 255 : 0) << "mask of view " << view << " at " << x << "," << y;
            }
        }
    }
    return invalid;
}

TEST(StereoMatcherAdapterTest, NothingWorksBeforeInitialisation)
{
    Fixture f;
    stereo::StereoDisparities out = {cv::Mat(12, 20, CV_16SC1), cv::Mat(12, 20, CV_16SC1)};
    cv::Mat one(12, 20, CV_16SC1);
    const std::vector<std::pair<const char*, std::function<void()>>> calls = {
        {"GetMinDispVal", [&] { f.matcher.GetMinDispVal(kLeftView); }},
        {"GetMaxDispVal", [&] { f.matcher.GetMaxDispVal(kRightView); }},
        {"SetDispLevelsNum", [&] { f.matcher.SetDispLevelsNum(32); }},
        {"SetMinDispValLeft", [&] { f.matcher.SetMinDispValLeft(0); }},
        {"RescaleParameters", [&] { f.matcher.RescaleParameters(2.0); }},
        {"CalcDispTwoSides",
         [&] {
             f.matcher.CalcDispTwoSides(f.images, out, {nullptr, nullptr});
         }},
        {"CalcDispOneSide", [&] { f.matcher.CalcDispOneSide(f.images[0], f.images[1], kLeftView, one, nullptr); }},
    };
    for (const auto& [name, call] : calls) {
        SCOPED_TRACE(name);
        EXPECT_THROW(call(), exc::KIVException);
    }
    EXPECT_EQ(f.matcher.runs[0] + f.matcher.runs[1], 0);

    f.matcher.fail_init = true;
    EXPECT_THROW(f.matcher.InitFromParams(), exc::KIVException);
    EXPECT_FALSE(f.matcher.IsInitialized());
    f.matcher.fail_init = false;
    f.matcher.InitFromParams();
    EXPECT_TRUE(f.matcher.IsInitialized());
}

TEST(StereoMatcherAdapterTest, RangeSettersRoundTheLevelCountAndFollowTheLeftMinimum)
{
    struct Case {
        const char* what;
        std::function<void(FakeMatcher&)> change;
        int left_min, left_max, right_min, right_max;
    };
    const std::vector<Case> cases = {
        {"the parameters' 100 levels become 112", [](FakeMatcher&) {}, 0, 111, -111, 0},
        {"16 levels stay 16", [](FakeMatcher& m) { m.SetDispLevelsNum(16); }, 0, 15, -15, 0},
        {"17 levels become 32", [](FakeMatcher& m) { m.SetDispLevelsNum(17); }, 0, 31, -31, 0},
        {"minimum -8 with 112 levels", [](FakeMatcher& m) { m.SetMinDispValLeft(-8); }, -8, 103, -103, 8},
        {"rescaled by 0.5",
         [](FakeMatcher& m) {
             m.SetMinDispValLeft(-8);
             m.RescaleParameters(0.5);
         },
         -4, 59, -59, 4},
        {"the largest range that fits",
         [](FakeMatcher& m) {
             m.SetMinDispValLeft(15);
             m.SetDispLevelsNum(2032);
         },
         15, 2046, -2046, -15},
        {"the lowest range that fits", [](FakeMatcher& m) { m.SetMinDispValLeft(-2046); }, -2046, -1935, 1935, 2046},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        FakeMatcher matcher;
        matcher.InitFromParams();
        c.change(matcher);
        EXPECT_EQ(matcher.GetMinDispVal(kLeftView), c.left_min);
        EXPECT_EQ(matcher.GetMaxDispVal(kLeftView), c.left_max);
        EXPECT_EQ(matcher.GetMinDispVal(kRightView), c.right_min);
        EXPECT_EQ(matcher.GetMaxDispVal(kRightView), c.right_max);
    }
}

TEST(StereoMatcherAdapterTest, RefusedRangesLeaveTheStateUnchanged)
{
    const std::vector<std::pair<const char*, std::function<void(FakeMatcher&)>>> cases = {
        {"no levels", [](FakeMatcher& m) { m.SetDispLevelsNum(0); }},
        {"negative levels", [](FakeMatcher& m) { m.SetDispLevelsNum(-5); }},
        {"maximum beyond 2046", [](FakeMatcher& m) { m.SetDispLevelsNum(2047); }},
        {"minimum below -2046", [](FakeMatcher& m) { m.SetMinDispValLeft(-2047); }},
        {"maximum beyond 2046 by the minimum", [](FakeMatcher& m) { m.SetMinDispValLeft(1936); }},
        {"rescaled to no levels", [](FakeMatcher& m) { m.RescaleParameters(0.001); }},
        {"rescaled beyond 2046", [](FakeMatcher& m) { m.RescaleParameters(100.0); }},
        {"factor 0", [](FakeMatcher& m) { m.RescaleParameters(0.0); }},
        {"negative factor", [](FakeMatcher& m) { m.RescaleParameters(-1.0); }},
        {"NaN factor", [](FakeMatcher& m) { m.RescaleParameters(std::numeric_limits<double>::quiet_NaN()); }},
        {"infinite factor", [](FakeMatcher& m) { m.RescaleParameters(std::numeric_limits<double>::infinity()); }},
    };
    for (const auto& [what, change] : cases) {
        SCOPED_TRACE(what);
        FakeMatcher matcher;
        matcher.InitFromParams();
        EXPECT_THROW(change(matcher), exc::KIVException);
        EXPECT_EQ(matcher.GetMinDispVal(kLeftView), 0);
        EXPECT_EQ(matcher.GetMaxDispVal(kLeftView), 111);
        EXPECT_EQ(matcher.GetMinDispVal(kRightView), -111);
        EXPECT_EQ(matcher.settings[1].levels_num, 112);
        EXPECT_EQ(matcher.RequestedLevels(), 100);
    }
    FakeMatcher matcher;
    matcher.params_levels = 0;
    EXPECT_THROW(matcher.InitFromParams(), exc::KIVException);
    EXPECT_FALSE(matcher.IsInitialized());
}

TEST(StereoMatcherAdapterTest, BadInputsAndOutputsAreRefusedBeforeAnythingIsWritten)
{
    const cv::Mat gray(12, 20, CV_8UC1, cv::Scalar(1));
    const cv::Mat shared(12, 20, CV_16SC1, cv::Scalar(5));
    const cv::Mat wide(12, 40, CV_16SC1, cv::Scalar(5));
    const auto outs = [](int type) {
        return stereo::StereoDisparities{cv::Mat(12, 20, type, cv::Scalar::all(5)),
                                         cv::Mat(12, 20, type, cv::Scalar::all(5))};
    };
    const unsigned int beyond_int = static_cast<unsigned int>(INT_MAX) + 1u;
    struct Case {
        const char* what;
        stereo::StereoImages images;
        stereo::StereoDisparities out;
        unsigned int scale;
        bool integer_scaled;
        const char* text;
    };
    const std::vector<Case> cases = {
        {"output without a type", {gray, gray}, {cv::Mat(), cv::Mat()}, 1, false, "8 bits are not enough"},
        {"8-bit output", {gray, gray}, outs(CV_8SC1), 1, false, "8 bits are not enough to store disparity values"},
        {"unsigned 16-bit output", {gray, gray}, outs(CV_16UC1), 1, false, "disparity must be stored in signed type"},
        {"two-channel output", {gray, gray}, outs(CV_16SC2), 1, false, "must be stored in single channel matrix"},
        {"outputs of two types", {gray, gray}, {outs(CV_16SC1)[0], cv::Mat(12, 20, CV_32FC1)}, 1, false, ""},
        {"outputs sharing memory", {gray, gray}, {shared, shared(cv::Rect(2, 2, 10, 5))}, 1, false, "share memory"},
        {"overlapping columns", {gray, gray}, {wide.colRange(0, 20), wide.colRange(10, 30)}, 1, false, "share"},
        {"scale 0", {gray, gray}, outs(CV_16SC1), 0, false, ""},
        {"scale too large for short", {gray, gray}, outs(CV_16SC1), 293, false, ""},
        {"scale beyond INT_MAX", {gray, gray}, outs(CV_32SC1), beyond_int, false, ""},
        {"scale too large for int", {gray, gray}, outs(CV_32SC1), static_cast<unsigned int>(INT_MAX / 100), false, ""},
        {"scaled float output", {gray, gray}, outs(CV_32FC1), 16, true, "scaled disparity must be short or int"},
        {"images of two sizes", {gray, cv::Mat(12, 21, CV_8UC1)}, outs(CV_16SC1), 1, false, ""},
        {"empty images", {cv::Mat(0, 20, CV_8UC1), cv::Mat(0, 20, CV_8UC1)}, outs(CV_16SC1), 1, false, ""},
        {"images of two types", {gray, cv::Mat(12, 20, CV_8UC3)}, outs(CV_16SC1), 1, false, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Fixture f;
        f.matcher.InitFromParams();
        stereo::StereoDisparities out = c.out;
        const stereo::StereoDisparities before = {c.out[0].clone(), c.out[1].clone()};
        try {
            if (c.integer_scaled)
                f.matcher.CalcDispTwoSidesIntegerScaled(c.images, c.scale, out, {nullptr, nullptr});
            else
                f.matcher.CalcDispTwoSidesGeneral(c.images, c.scale, out, {nullptr, nullptr});
            ADD_FAILURE() << "no exception";
        } catch (const exc::KIVException& error) {
            EXPECT_NE(std::string(error.what()).find(c.text), std::string::npos) << error.what();
        }
        for (int view = 0; view < 2; ++view) {
            EXPECT_EQ(out[view].data, c.out[view].data);
            if (!out[view].empty()) {
                EXPECT_EQ(cv::norm(out[view], before[view], cv::NORM_INF), 0.0);
            }
        }
        EXPECT_EQ(f.matcher.runs[0] + f.matcher.runs[1], 0);
    }
}

// Values and masks at every output type and scale, for the parameters' range (invalid markers -1
// and -112 at scale 1) and for a left minimum of -3.
TEST(StereoMatcherAdapterTest, OutputsAndMasksAreExactAtEveryTypeAndScale)
{
    struct Case {
        int type;
        unsigned int scale;
        enum { kPlain, kScaled, kGeneral } call;
        short min_left;
    };
    const std::vector<Case> cases = {
        {CV_16SC1, 1, Case::kPlain, 0},    {CV_16SC1, 16, Case::kScaled, 0},   {CV_16SC1, 1, Case::kPlain, -3},
        {CV_16SC1, 3, Case::kScaled, -3},  {CV_16SC1, 292, Case::kScaled, -3}, {CV_32SC1, 1, Case::kPlain, -3},
        {CV_32SC1, 16, Case::kScaled, -3}, {CV_32SC1, 5, Case::kScaled, -3},   {CV_32FC1, 1, Case::kPlain, -3},
        {CV_64FC1, 7, Case::kGeneral, -3},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(cv::typeToString(c.type) + " scale " + std::to_string(c.scale) + " min " +
                     std::to_string(c.min_left));
        Fixture f;
        f.matcher.InitFromParams();
        if (c.min_left != 0)
            f.matcher.SetMinDispValLeft(c.min_left);
        stereo::StereoDisparities out = {cv::Mat(12, 20, c.type), cv::Mat(12, 20, c.type)};
        cv::Mat_<unsigned char> masks[2] = {cv::Mat_<unsigned char>(12, 20, 7), cv::Mat_<unsigned char>(12, 20, 7)};
        if (c.call == Case::kPlain)
            f.matcher.CalcDispTwoSides(f.images, out, {&masks[0], &masks[1]});
        else if (c.call == Case::kScaled)
            f.matcher.CalcDispTwoSidesIntegerScaled(f.images, c.scale, out, {&masks[0], &masks[1]});
        else
            f.matcher.CalcDispTwoSidesGeneral(f.images, c.scale, out, {&masks[0], &masks[1]});
        const long long scale = c.call == Case::kPlain ? 1 : c.scale;
        for (int view = 0; view < 2; ++view) {
            const auto v = static_cast<stereo::eLeftOrRightView>(view);
            EXPECT_GT(ExpectViewOutput(f.matcher, f.images[view], v, out[view], scale, &masks[view]), 0);
            EXPECT_EQ(f.matcher.runs[view], 1);
            // Nothing of the caller's survives the call.
            EXPECT_EQ(f.matcher.InternalMap(v).data, f.matcher.Buffer(v).data);
            EXPECT_TRUE(f.matcher.Input(v).empty());
        }
        EXPECT_TRUE(f.log->lines.empty());
    }
}

TEST(StereoMatcherAdapterTest, OneViewAloneMatchesItsTwoSidedResult)
{
    Fixture f;
    f.matcher.InitFromParams();
    for (int view = 0; view < 2; ++view) {
        const auto v = static_cast<stereo::eLeftOrRightView>(view);
        SCOPED_TRACE(view);
        // A region of a larger matrix as the 16-bit output: written in place, nothing around it.
        cv::Mat big(20, 30, CV_16SC1, cv::Scalar(1234));
        cv::Mat region = big(cv::Rect(4, 3, 20, 12));
        cv::Mat_<unsigned char> mask;
        f.matcher.CalcDispOneSide(f.images[0], f.images[1], v, region, &mask);
        EXPECT_EQ(region.data, big.ptr(3) + 4 * sizeof(short));
        ExpectViewOutput(f.matcher, f.images[view], v, region, 1, &mask);
        EXPECT_EQ(cv::countNonZero(big == 1234), 20 * 30 - 20 * 12);

        cv::Mat scaled(12, 20, CV_32SC1);
        f.matcher.CalcDispOneSideIntegerScaled(f.images[0], f.images[1], v, 16, scaled, nullptr);
        ExpectViewOutput(f.matcher, f.images[view], v, scaled, 16, nullptr);
        cv::Mat floating(12, 20, CV_32FC1);
        EXPECT_THROW(f.matcher.CalcDispOneSideIntegerScaled(f.images[0], f.images[1], v, 16, floating, nullptr),
                     exc::KIVException);
    }
}

// Two halves of one matrix, side by side or one above the other, share no element: each is written
// in place with its own view's map.
TEST(StereoMatcherAdapterTest, HalvesOfOneMatrixAreSeparateOutputs)
{
    Fixture f;
    f.matcher.InitFromParams();
    cv::Mat side_by_side(12, 40, CV_16SC1), stacked(24, 20, CV_16SC1);
    const stereo::StereoDisparities cases[] = {{side_by_side.colRange(0, 20), side_by_side.colRange(20, 40)},
                                               {stacked.rowRange(12, 24), stacked.rowRange(0, 12)}};
    for (const stereo::StereoDisparities& halves : cases) {
        stereo::StereoDisparities out = halves;
        ASSERT_NO_THROW(f.matcher.CalcDispTwoSides(f.images, out, {nullptr, nullptr}));
        for (const auto view : {kLeftView, kRightView}) {
            EXPECT_EQ(out[view].data, halves[view].data);
            ExpectViewOutput(f.matcher, f.images[view], view, out[view], 1, nullptr);
        }
    }
}

TEST(StereoMatcherAdapterTest, BuffersOutputsAndMasksAreSizedWithAWarningOnlyWhenNeeded)
{
    Fixture f;
    f.matcher.InitFromParams();
    const auto warnings = [&](const std::string& text) {
        int count = 0;
        for (const auto& line : f.log->lines) count += line.level == kKivLogWarning && line.text == text;
        return count;
    };
    const std::string resize = "CheckInputAndResizeIfNeed: buffers are resized. May be time consuming.";
    const std::string output = "CheckInputAndResizeIfNeed: memory for disparity output is allocated inside function.";
    const std::string mask = "CheckInputAndResizeIfNeed: memory for invalid_disp_mask is allocated inside function.";

    // First pair: empty outputs of the right type and empty masks are created, the buffers sized silently.
    stereo::StereoDisparities out = {cv::Mat(0, 0, CV_16SC1), cv::Mat(0, 0, CV_16SC1)};
    cv::Mat_<unsigned char> masks[2];
    f.matcher.CalcDispTwoSides(f.images, out, {&masks[0], &masks[1]});
    EXPECT_EQ(out[0].size(), cv::Size(20, 12));
    EXPECT_EQ(out[1].type(), CV_16SC1);
    EXPECT_EQ(masks[1].size(), cv::Size(20, 12));
    EXPECT_EQ(warnings(output), 2);
    EXPECT_EQ(warnings(mask), 2);
    EXPECT_EQ(warnings(resize), 0);
    EXPECT_EQ(f.matcher.resize_calls, 1);

    // Second pair of the same size: nothing logged, nothing re-created.
    const std::size_t lines = f.log->lines.size();
    const uchar* data = out[0].data;
    f.matcher.CalcDispTwoSides(f.images, out, {&masks[0], &masks[1]});
    EXPECT_EQ(f.log->lines.size(), lines);
    EXPECT_EQ(out[0].data, data);
    EXPECT_EQ(f.matcher.resize_calls, 1);

    // A pair of another size: the buffers once, with the warning once.
    stereo::StereoImages larger = {cv::Mat(16, 24, CV_8UC1, cv::Scalar(3)), cv::Mat(16, 24, CV_8UC1, cv::Scalar(4))};
    f.matcher.CalcDispTwoSides(larger, out, {&masks[0], &masks[1]});
    EXPECT_EQ(warnings(resize), 1);
    EXPECT_EQ(f.matcher.resize_calls, 2);
    EXPECT_EQ(out[1].size(), cv::Size(24, 16));
    ExpectViewOutput(f.matcher, larger[1], kRightView, out[1], 1, &masks[1]);
}

TEST(StereoMatcherAdapterTest, AFailingViewReachesTheCaller)
{
    Fixture f;
    f.matcher.InitFromParams();
    f.matcher.fail_view = kRightView;
    stereo::StereoDisparities out = {cv::Mat(12, 20, CV_16SC1), cv::Mat(12, 20, CV_16SC1)};
    EXPECT_THROW(f.matcher.CalcDispTwoSides(f.images, out, {nullptr, nullptr}), std::runtime_error);
    EXPECT_EQ(f.matcher.runs[kRightView], 1);
}

TEST(StereoMatcherAdapterTest, LevelCountRoundsUpToMultiplesOfSixteen)
{
    const std::vector<std::pair<int, int>> cases = {{100, 112}, {320, 320}, {17, 32}, {16, 16}, {1, 16}, {-17, 0}};
    for (const auto& [levels, rounded] : cases)
        EXPECT_EQ(stereo::StereoMatcherAdapter::RoundUpToMultipleOf16(levels), rounded) << levels;
}

}  // namespace
