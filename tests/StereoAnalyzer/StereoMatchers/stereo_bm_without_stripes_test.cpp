#include "StereoAnalyzer/StereoMatchers/modified_opencv_stereo_matchers/stereo_bm_without_stripes.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cmath>
#include <functional>
#include <iterator>
#include <opencv2/calib3d.hpp>
#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>
#include <string>
#include <vector>

#include "CommonUtilities/algorithm_support/kernel_path.h"
#include "StereoAnalyzer/StereoMatchers/stereo_pair_images.h"

namespace {

using stereo::CvStereoBMState;
using stereo::StereoBMWithoutStripes;
using stereo_test::MakeShiftedPair;
using stereo_test::MakeSteppedPair;

struct Settings {
    int wsz = 9;
    int minD = 0;
    int ndisp = 64;
    int cap = 31;
    int texture = 0;
    int uniqueness = 0;
    int disp12 = -1;
    int speckleWindow = 0;
    int speckleRange = 32;
};

StereoBMWithoutStripes MakeMatcher(const Settings& s)
{
    StereoBMWithoutStripes bm;
    CvStereoBMState& st = *bm.state;
    st.SADWindowSize = s.wsz;
    st.minDisparity = s.minD;
    st.numberOfDisparities = s.ndisp;
    st.preFilterCap = s.cap;
    st.textureThreshold = s.texture;
    st.uniquenessRatio = s.uniqueness;
    st.disp12MaxDiff = s.disp12;
    st.speckleWindowSize = s.speckleWindow;
    st.speckleRange = s.speckleRange;
    return bm;
}

cv::Mat Match(StereoBMWithoutStripes& bm, const cv::Mat& left, const cv::Mat& right)
{
    cv::Mat disp;
    bm(left, right, disp, CV_16S);
    return disp;
}

short Filtered(int minD)
{
    return static_cast<short>((minD - 1) * 16);
}

TEST(StereoBMWithoutStripesTest, ShiftedPairGivesTheShiftWhereverTheMatchIsInsideTheImage)
{
    struct Case {
        cv::Size size;
        int wsz;
        int ndisp;
    };
    const int shift = 20;
    for (const Case& c : {Case{{160, 120}, 9, 64}, Case{{97, 61}, 11, 32}, Case{{320, 240}, 15, 112}}) {
        SCOPED_TRACE(testing::Message() << c.size << " window " << c.wsz << " levels " << c.ndisp);
        const auto pair = MakeShiftedPair(c.size, shift, 7);
        // Left view: the left image is the reference; right view: images swapped, range negated.
        for (const int view : {0, 1}) {
            const Settings s{c.wsz, view == 0 ? 0 : -(c.ndisp - 1), c.ndisp};
            auto bm = MakeMatcher(s);
            const cv::Mat disp = view == 0 ? Match(bm, pair.left, pair.right) : Match(bm, pair.right, pair.left);
            ASSERT_EQ(disp.size(), c.size);
            EXPECT_EQ(cv::countNonZero(disp == Filtered(s.minD)), 0) << "view " << view;
            // Rounded to the whole shift on 99.5% of the pixels whose match lies inside the image.
            EXPECT_GE(stereo_test::ShareNearTruth(disp, view == 0 ? shift : -shift, 8), 0.995) << "view " << view;
        }
    }
}

// OpenCV's matcher with the same settings, the filters off.
cv::Mat MatchWithOpenCV(const Settings& s, const cv::Mat& left, const cv::Mat& right)
{
    cv::Ptr<cv::StereoBM> bm = cv::StereoBM::create(s.ndisp, s.wsz);
    bm->setMinDisparity(s.minD);
    bm->setPreFilterType(cv::StereoBM::PREFILTER_XSOBEL);
    bm->setPreFilterCap(s.cap);
    bm->setTextureThreshold(0);
    bm->setUniquenessRatio(0);
    bm->setDisp12MaxDiff(-1);
    bm->setSpeckleWindowSize(0);
    cv::Mat disp;
    bm->compute(left, right, disp);
    return disp;
}

TEST(StereoBMWithoutStripesTest, EqualsOpenCVInsideItsValidRegion)
{
    // Exact 16-bit values; ties between equal sums may resolve differently on at most 0.1%.
    struct Case {
        cv::Size size;
        Settings s;  // window, minimum disparity, levels, prefilter cap
    };
    const Case cases[] = {
        {{160, 120}, {9, 0, 64, 31}}, {{160, 120}, {9, 0, 112, 31}}, {{320, 240}, {15, 0, 64, 63}},
        {{200, 90}, {21, 4, 48, 20}}, {{320, 240}, {41, 0, 32, 31}}, {{181, 77}, {5, -8, 32, 31}},
    };
    for (const Case& c : cases) {
        const Settings& s = c.s;
        SCOPED_TRACE(testing::Message() << c.size << " window " << s.wsz << " min " << s.minD << " levels " << s.ndisp);
        const auto pair = MakeSteppedPair(c.size, 12, 27, 11);
        auto bm = MakeMatcher(s);
        const cv::Mat ours = Match(bm, pair.left, pair.right);
        const cv::Mat theirs = MatchWithOpenCV(s, pair.left, pair.right);

        // OpenCV's valid region: its region of interest, and no further right than it computes
        // (a negative minimum disparity ends its columns early).
        const cv::Rect whole(cv::Point(), c.size);
        cv::Rect valid = cv::getValidDisparityROI(whole, whole, s.minD, s.ndisp, s.wsz);
        valid &= cv::boundingRect(theirs != Filtered(s.minD));
        const int shrink = s.wsz / 2 + 1;
        valid = cv::Rect(valid.x + shrink, valid.y + shrink, valid.width - 2 * shrink, valid.height - 2 * shrink);
        ASSERT_GT(valid.area(), 0);
        const int differing = cv::countNonZero(ours(valid) != theirs(valid));
        EXPECT_LE(differing, 0.001 * valid.area()) << differing << " of " << valid.area();
    }
}

TEST(StereoBMWithoutStripesTest, VectorAndScalarPathsGiveIdenticalMaps)
{
    struct Case {
        cv::Size size;
        Settings s;
    };
    // Windows up to 21 with cap 31 use 16-bit sums, larger ones 32-bit sums.
    const Case cases[] = {
        {{160, 120}, {9, 0, 64, 31, 0, 0, -1, 0, 32}},
        {{160, 120}, {9, 0, 112, 31, 40, 10, 1, 60, 16}},
        {{123, 67}, {15, -20, 48, 63, 20, 5, 0, 0, 32}},
        {{160, 120}, {41, 0, 32, 31, 0, 15, 2, 0, 32}},
        {{90, 64}, {33, -31, 32, 63, 100, 0, -1, 30, 32}},
        // The analyser's size and levels, 16 levels, and a left-right check (sums kept in registers).
        {{144, 108}, {9, 0, 32, 31, 0, 0, -1, 0, 32}},
        {{144, 108}, {9, 0, 32, 31, 30, 12, 0, 0, 32}},
        {{77, 50}, {7, 3, 16, 31, 10, 5, 1, 0, 32}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.size << " window " << c.s.wsz << " levels " << c.s.ndisp);
        const auto pair = MakeSteppedPair(c.size, 6, 19, 3);
        for (const bool swap : {false, true}) {
            Settings s = c.s;
            if (swap)
                s.minD = -(s.minD + s.ndisp - 1);
            const cv::Mat& left = swap ? pair.right : pair.left;
            const cv::Mat& right = swap ? pair.left : pair.right;
            auto vectorBm = MakeMatcher(s);
            auto scalarBm = MakeMatcher(s);
            cv::Mat vectorDisp(c.size, CV_16S), scalarDisp(c.size, CV_16S);
            stereo::findStereoCorrespondenceBM(left, right, vectorDisp, vectorBm.state.get());
            {
                const AlgoLibrary::ScopedKernelPath scalar(AlgoLibrary::KernelPath::kScalar);
                stereo::findStereoCorrespondenceBM(left, right, scalarDisp, scalarBm.state.get());
            }
            EXPECT_EQ(cv::countNonZero(vectorDisp != scalarDisp), 0) << "swapped " << swap;
        }
    }
}

// Every window sum evaluated directly (one box filter per disparity over images padded far
// enough), the best index and its sub-pixel position: the map without filters.
cv::Mat DirectSearch(const cv::Mat& left, const cv::Mat& right, const Settings& s)
{
    const int width = left.cols, height = left.rows, w2 = s.wsz / 2, T = w2 + 1;
    const int maxD = s.minD + s.ndisp - 1;
    const int L = std::max({maxD, T, 0});
    const int paddedCols = L + width + T + std::abs(s.minD) + s.ndisp;
    cv::Mat lp(height + 2 * T, paddedCols, CV_8UC1), rp(height + 2 * T, paddedCols, CV_8UC1);
    stereo::prefilterXSobel(left, lp, L, T, s.cap);
    stereo::prefilterXSobel(right, rp, L, T, s.cap);

    // sums[d](y, c): the window around image pixel (y, c) at index d (disparity maxD - d).
    std::vector<cv::Mat> sums(s.ndisp);
    for (int d = 0; d < s.ndisp; ++d) {
        cv::Mat diff(lp.rows, width + 2 * w2, CV_8U);
        for (int row = 0; row < lp.rows; ++row)
            for (int i = 0; i < diff.cols; ++i) {
                const int x = i - w2;  // image column
                // The right sample's base column is clamped into the padded row, as in the search.
                const int base = std::min(std::max(L + x - maxD, 0), paddedCols - 1);
                diff.at<uchar>(row, i) =
                    static_cast<uchar>(std::abs(lp.at<uchar>(row, L + x) - rp.at<uchar>(row, base + d)));
            }
        cv::Mat integral;
        cv::integral(diff, integral, CV_32S);
        sums[d].create(height, width, CV_32S);
        for (int y = 0; y < height; ++y)
            for (int c = 0; c < width; ++c) {
                const int top = T + y - w2, bottom = T + y + w2 + 1, l = c, r = c + s.wsz;
                sums[d].at<int>(y, c) = integral.at<int>(bottom, r) - integral.at<int>(top, r) -
                                        integral.at<int>(bottom, l) + integral.at<int>(top, l);
            }
    }
    cv::Mat disp(height, width, CV_16S);
    for (int y = 0; y < height; ++y)
        for (int c = 0; c < width; ++c) {
            auto sad = [&](int d) { return static_cast<long long>(sums[d].at<int>(y, c)); };
            int mind = 0;
            for (int d = 1; d < s.ndisp; ++d)
                if (sad(d) < sad(mind))
                    mind = d;
            const long long p = sad(mind + 1 < s.ndisp ? mind + 1 : s.ndisp - 2);
            const long long n = sad(mind > 0 ? mind - 1 : 1);
            const long long k = p + n - 2 * sad(mind) + std::llabs(p - n);
            const long long value = (s.ndisp - mind - 1 + s.minD) * 256LL + (k != 0 ? (p - n) * 256 / k : 0) + 15;
            disp.at<short>(y, c) = static_cast<short>(value >> 4);
        }
    return disp;
}

TEST(StereoBMWithoutStripesTest, EveryPixelEqualsTheDirectWindowSearch)
{
    struct Case {
        cv::Size size;
        Settings s;  // window, minimum disparity, levels
    };
    const Case cases[] = {
        // Right views (negative ranges). Window 41 and 32 levels: the last windows reach 20 columns
        // past the image, and past the buffer unless the right margin holds them (run under ASan).
        {{72, 48}, {41, -31, 32}},
        {{66, 50}, {11, -40, 32}},
        // Left views; the last one's range is wider than the image: computed, not refused.
        {{80, 60}, {9, 0, 64}},
        {{70, 45}, {7, 5, 16}},
        {{48, 40}, {9, 0, 64}},
        // Tall enough for two stripes, each with its own context rows, when threads are free.
        {{60, 150}, {9, 0, 32}},
    };
    for (const Case& c : cases) {
        const Settings& s = c.s;
        SCOPED_TRACE(testing::Message() << c.size << " window " << s.wsz << " min " << s.minD << " levels " << s.ndisp);
        const auto pair = MakeSteppedPair(c.size, 9, 17, 13);
        const bool swap = s.minD < 0;
        const cv::Mat& left = swap ? pair.right : pair.left;
        const cv::Mat& right = swap ? pair.left : pair.right;
        auto bm = MakeMatcher(s);
        const cv::Mat expected = DirectSearch(left, right, s);
        EXPECT_EQ(cv::countNonZero(Match(bm, left, right) != expected), 0);
    }
}

TEST(StereoBMWithoutStripesTest, ReusedStateFollowsASizeChangeThatKeepsThePaddedSize)
{
    // 100 columns with 32 levels and 116 columns with 16 levels pad to the same 136 columns; the
    // cost matrix of the left-right check must follow the image all the same.
    Settings s{9, 0, 32};
    s.disp12 = 0;
    auto reused = MakeMatcher(s);
    const auto first = MakeShiftedPair({100, 60}, 8, 3);
    Match(reused, first.left, first.right);
    const auto second = MakeShiftedPair({116, 60}, 8, 4);
    reused.state->numberOfDisparities = 16;
    s.ndisp = 16;
    auto fresh = MakeMatcher(s);
    EXPECT_EQ(cv::countNonZero(Match(reused, second.left, second.right) != Match(fresh, second.left, second.right)), 0);
}

TEST(StereoBMWithoutStripesTest, FiltersMarkWeakAndAmbiguousPixelsInFixedAndFloatOutput)
{
    auto pair = MakeShiftedPair({100, 80}, 10, 31);
    pair.left(cv::Rect(30, 20, 40, 40)).setTo(100);
    pair.right(cv::Rect(20, 20, 40, 40)).setTo(100);
    struct Case {
        int minD, texture, uniqueness;
        bool centreFiltered;
    };
    for (const Case& c : {Case{0, 0, 0, false}, Case{-4, 50, 0, true}, Case{0, 0, 5, true}}) {
        SCOPED_TRACE(testing::Message() << c.texture << " " << c.uniqueness);
        Settings s{9, c.minD, 32};
        s.texture = c.texture;
        s.uniqueness = c.uniqueness;
        auto bm = MakeMatcher(s);
        const cv::Mat disp = Match(bm, pair.left, pair.right);
        EXPECT_EQ(disp.at<short>(40, 50) == Filtered(c.minD), c.centreFiltered);
        EXPECT_EQ(std::lround(disp.at<short>(70, 85) / 16.0), 10);
        // Float output: the same map in pixels, the invalid value minDisparity - 1.
        cv::Mat pixels;
        bm(pair.left, pair.right, pixels, CV_32F);
        ASSERT_EQ(pixels.type(), CV_32FC1);
        cv::Mat expected;
        disp.convertTo(expected, CV_32F, 1.0 / 16);
        EXPECT_EQ(cv::countNonZero(pixels != expected), 0);
        EXPECT_EQ(pixels.at<float>(40, 50) == c.minD - 1, c.centreFiltered);
    }
}

TEST(StereoBMWithoutStripesTest, SpeckleFilterEqualsOpenCVsOnTheUnfilteredMap)
{
    const auto pair = MakeSteppedPair({160, 120}, 12, 18, 41);
    Settings s;
    s.texture = 200;
    auto plain = MakeMatcher(s);
    cv::Mat expected = Match(plain, pair.left, pair.right);
    cv::filterSpeckles(expected, Filtered(0), 200, 16);
    s.speckleWindow = 200;
    s.speckleRange = 16;
    auto filtered = MakeMatcher(s);
    EXPECT_EQ(cv::countNonZero(Match(filtered, pair.left, pair.right) != expected), 0);
}

TEST(StereoBMWithoutStripesTest, XSobelPrefilterIsTheClippedDerivativeWithFilledMargins)
{
    const cv::Mat src = stereo_test::Texture({37, 23}, 5);
    const int cap = 20, colOffset = 6, rowOffset = 3;
    cv::Mat dst(src.rows + 2 * rowOffset + 1, src.cols + colOffset + 5, CV_8UC1, cv::Scalar(0));
    stereo::prefilterXSobel(src, dst, colOffset, rowOffset, cap);
    cv::Mat scalar(dst.size(), CV_8UC1, cv::Scalar(0));
    {
        const AlgoLibrary::ScopedKernelPath path(AlgoLibrary::KernelPath::kScalar);
        stereo::prefilterXSobel(src, scalar, colOffset, rowOffset, cap);
    }
    EXPECT_EQ(cv::countNonZero(scalar != dst), 0) << "the scalar path's response";

    cv::Mat sobel;
    cv::Sobel(src, sobel, CV_16S, 1, 0, 3, 1, 0, cv::BORDER_REFLECT_101);
    auto expected = [&](int y, int x) { return std::min(std::max<int>(sobel.at<short>(y, x), -cap), cap) + cap; };
    auto at = [&](int y, int x) { return static_cast<int>(dst.at<uchar>(y, x)); };
    // The last image row of an odd height repeats the one above it.
    const int lastComputed = src.rows % 2 ? src.rows - 2 : src.rows - 1;
    for (int y = 0; y < dst.rows; ++y) {
        const int iy = std::min(std::max(y - rowOffset, 0), lastComputed);
        for (int x = 0; x < dst.cols; ++x) {
            const int ix = std::min(std::max(x - colOffset, 1), src.cols - 2);
            ASSERT_EQ(at(y, x), expected(iy, ix)) << "padded " << x << "," << y;
        }
    }
}

TEST(StereoBMWithoutStripesTest, NormalisedResponsePrefilterIsAccepted)
{
    const auto pair = MakeShiftedPair({120, 90}, 10, 8);
    Settings s;
    s.ndisp = 32;
    auto bm = MakeMatcher(s);
    bm.state->preFilterType = stereo::kStereoBMNormalizedResponse;
    bm.state->preFilterSize = 9;
    const cv::Mat disp = Match(bm, pair.left, pair.right);
    EXPECT_EQ(std::lround(disp.at<short>(45, 60) / 16.0), 10);
}

// Runs `call`, expecting OpenCV's error with the given code, text and function.
void ExpectCvError(const std::function<void()>& call, int code, const std::string& err, const std::string& func)
{
    try {
        call();
        ADD_FAILURE() << "no error: " << err;
    } catch (const cv::Exception& e) {
        EXPECT_EQ(e.code, code);
        EXPECT_EQ(e.err, err);
        EXPECT_EQ(e.func, func);
    }
}

// The inputs of one call, spoilt by a test case.
struct Call {
    CvStereoBMState* state;
    cv::Mat left, right, disp;
};

TEST(StereoBMWithoutStripesTest, RefusesSettingsOutsideItsLimits)
{
    const std::string window =
        "SADWindowSize must be odd, be within 5..255 and be not larger than image width or height";
    const std::string sizes = "All the images must have the same size",
                      filter = "preFilterSize must be odd and be within 5..255",
                      cap = "preFilterCap must be within 1..63",
                      levels = "numberOfDisparities must be positive and divisble by 16";
    struct Case {
        std::function<void(Call&)> spoil;
        int code;
        std::string message;
    };
    const Case cases[] = {
        {[](Call& c) { c.left = c.left.colRange(0, c.left.cols - 1).clone(); }, cv::Error::StsUnmatchedSizes, sizes},
        {[](Call& c) { c.disp.create(10, 10, CV_16S); }, cv::Error::StsUnmatchedSizes, sizes},
        {[](Call& c) { c.right.convertTo(c.right, CV_16U); }, cv::Error::StsUnsupportedFormat,
         "Both input images must have CV_8UC1"},
        {[](Call& c) { c.disp.create(c.disp.size(), CV_32S); }, cv::Error::StsUnsupportedFormat,
         "Disparity image must have CV_16SC1 or CV_32FC1 format"},
        {[](Call& c) { c.state->preFilterType = 2; }, cv::Error::StsOutOfRange,
         "preFilterType must be = CV_STEREO_BM_NORMALIZED_RESPONSE"},
        {[](Call& c) { c.state->preFilterSize = 3; }, cv::Error::StsOutOfRange, filter},
        {[](Call& c) { c.state->preFilterSize = 10; }, cv::Error::StsOutOfRange, filter},
        {[](Call& c) { c.state->preFilterSize = 257; }, cv::Error::StsOutOfRange, filter},
        {[](Call& c) { c.state->preFilterCap = 0; }, cv::Error::StsOutOfRange, cap},
        {[](Call& c) { c.state->preFilterCap = 64; }, cv::Error::StsOutOfRange, cap},
        {[](Call& c) { c.state->SADWindowSize = 10; }, cv::Error::StsOutOfRange, window},
        {[](Call& c) { c.state->SADWindowSize = 3; }, cv::Error::StsOutOfRange, window},
        {[](Call& c) { c.state->SADWindowSize = 41; }, cv::Error::StsOutOfRange, window},  // the image height
        {[](Call& c) { c.state->numberOfDisparities = 24; }, cv::Error::StsOutOfRange, levels},
        {[](Call& c) { c.state->numberOfDisparities = 0; }, cv::Error::StsOutOfRange, levels},
        {[](Call& c) { c.state->textureThreshold = -1; }, cv::Error::StsOutOfRange,
         "texture threshold must be non-negative"},
        {[](Call& c) { c.state->uniquenessRatio = -1; }, cv::Error::StsOutOfRange,
         "uniqueness ratio must be non-negative"},
        {[](Call& c) { c.state = nullptr; }, cv::Error::StsNullPtr, "Stereo BM state is NULL."},
        // A range whose buffers cannot be addressed is refused instead of overflowing.
        {[](Call& c) { c.state->minDisparity = 1 << 30; }, cv::Error::StsOutOfRange,
         "disparity range is too large for the image buffers"},
    };
    const auto pair = MakeShiftedPair({60, 41}, 4, 2);
    for (size_t i = 0; i < std::size(cases); ++i) {
        SCOPED_TRACE(testing::Message() << "case " << i);
        auto bm = MakeMatcher(Settings{});
        Call call{bm.state.get(), pair.left.clone(), pair.right.clone(), cv::Mat(pair.left.size(), CV_16S)};
        cases[i].spoil(call);
        ExpectCvError([&] { stereo::findStereoCorrespondenceBM(call.left, call.right, call.disp, call.state); },
                      cases[i].code, cases[i].message, "findStereoCorrespondenceBM");
    }
    auto bm = MakeMatcher(Settings{});
    cv::Mat disp(pair.left.size(), CV_16S);
    ExpectCvError([&] { bm(pair.left, pair.right, disp, CV_32S); }, cv::Error::StsAssert,
                  "disptype == CV_16S || disptype == CV_32F", "operator()");
}

TEST(StereoBMWithoutStripesTest, LeftRightCheckKeepsConsistentPixelsOnly)
{
    // Row of 8 pixels, minDisparity 0, 16 levels; the invalid value is -16.
    struct Case {
        std::vector<short> disp;
        std::vector<int> cost;
        int maxDiff;
        std::vector<short> expected;
    };
    const Case cases[] = {
        // Columns 2, 4 and 5 all point at column 2; the cheapest (5, disparity 3) wins it, so 2
        // and 4 are contradicted at both of their rounded match columns and go.
        {{0, 0, 0, 0, 32, 48, 0, 0}, {50, 50, 50, 50, 9, 2, 50, 50}, 0, {0, 0, -16, 0, -16, 48, 0, 0}},
        // With a tolerance of one pixel column 4 stays.
        {{0, 0, 0, 0, 32, 48, 0, 0}, {50, 50, 50, 50, 9, 2, 50, 50}, 1, {0, 0, -16, 0, 32, 48, 0, 0}},
        // A fractional disparity survives when one of its two match columns agrees.
        {{0, 0, 0, 0, 24, 0, 0, 0}, {50, 50, 50, 50, 1, 50, 50, 50}, 0, {0, 0, -16, 0, 24, 0, 0, 0}},
        // An invalid pixel takes no part, whatever its stale cost: column 5 wins column 3.
        {{0, 0, -16, 0, 0, 32, 0, 0}, {50, 50, -100, 50, 50, 2, 50, 50}, 0, {0, 0, -16, -16, 0, 32, 0, 0}},
        // A match column outside the row never invalidates.
        {{0, 48, 0, 0, 0, 0, 0, 0}, {1, 1, 1, 1, 1, 1, 1, 1}, 0, {0, 48, 0, 0, 0, 0, 0, 0}},
    };
    for (const Case& c : cases) {
        cv::Mat disp = cv::Mat(c.disp, true).reshape(1, 1);
        for (const int costType : {CV_32S, CV_16S}) {
            cv::Mat cost;
            cv::Mat(c.cost, true).reshape(1, 1).convertTo(cost, costType);
            cv::Mat work = disp.clone();
            stereo::ValidateDisparityAllRow(work, cost, 0, 16, c.maxDiff);
            EXPECT_EQ(cv::countNonZero(work != cv::Mat(c.expected, true).reshape(1, 1)), 0)
                << cv::format("%d", c.maxDiff) << " " << work;
        }
    }
    cv::Mat disp(1, 8, CV_16S), wrongCost(1, 8, CV_32F);
    ExpectCvError([&] { stereo::ValidateDisparityAllRow(disp, wrongCost, 0, 16, 0); }, cv::Error::StsAssert,
                  "numberOfDisparities > 0 && disp.type() == CV_16S && (costType == CV_16S || costType == CV_32S) && "
                  "disp.size() == cost.size()",
                  "ValidateDisparityAllRow");
}

TEST(StereoBMWithoutStripesTest, ModuloIsTheNonNegativeRepresentative)
{
    struct Case {
        int a, n, expected;
    };
    for (const Case& c : {Case{7, 3, 1}, Case{-7, 3, 2}, Case{-7, -3, 2}, Case{6, 3, 0}, Case{5, 0, 0},
                          Case{INT_MIN, 10, 2}, Case{3, INT_MIN, 3}, Case{INT_MIN, INT_MIN, 0}, Case{-1, 17, 16}})
        EXPECT_EQ(stereo::FindEquivalentInIntegersModN(c.a, c.n), c.expected) << c.a << " mod " << c.n;
}

}  // namespace
