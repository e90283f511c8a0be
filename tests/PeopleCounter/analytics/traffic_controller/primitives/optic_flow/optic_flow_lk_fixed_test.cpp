#include "PeopleCounter/analytics/traffic_controller/src/primitives/optic_flow/optic_flow_lk_fixed.h"

#include <gtest/gtest.h>

#include <cmath>
#include <opencv2/imgproc.hpp>
#include <opencv2/video/tracking.hpp>
#include <random>
#include <string>
#include <vector>

#include "CommonUtilities/algorithm_support/kernel_path.h"

namespace {

using LKFunction = void (*)(const cv::Mat&, const cv::Mat&, cv::Mat*, cv::Mat*, const cv::Point2f*, cv::Point2f*, int,
                            cv::Size, int, char*, float*, cv::TermCriteria, int);

struct Variant {
    const char* name;
    LKFunction run;
};
const Variant kVariants[] = {{"cvCalcOpticalFlowPyrLK_Float", &cvCalcOpticalFlowPyrLK_Float},
                             {"cvCalcOpticalFlowPyrLK_N", &cvCalcOpticalFlowPyrLK_N}};

// A smooth texture with gradients in every direction, sampled at (x - dx, y - dy): a point at p in
// the unshifted picture is at p + (dx, dy) in the shifted one.
cv::Mat Texture(cv::Size size, float dx, float dy)
{
    cv::Mat image(size, CV_8UC1);
    for (int y = 0; y < size.height; ++y) {
        for (int x = 0; x < size.width; ++x) {
            const double u = x - dx;
            const double v = y - dy;
            const double value = 128 + 60 * std::sin(0.25 * u + 0.5) + 60 * std::sin(0.22 * v + 1.3);
            image.at<unsigned char>(y, x) = cv::saturate_cast<unsigned char>(value);
        }
    }
    return image;
}

std::vector<cv::Point2f> InteriorGrid(cv::Size size, int margin, int step)
{
    std::vector<cv::Point2f> points;
    for (int y = margin; y < size.height - margin; y += step)
        for (int x = margin; x < size.width - margin; x += step)
            points.emplace_back(static_cast<float>(x), static_cast<float>(y));
    return points;
}

const cv::TermCriteria kCriteria(cv::TermCriteria::COUNT + cv::TermCriteria::EPS, 20, 0.02);
const cv::Size kFrame(160, 120);

struct Tracked {
    std::vector<cv::Point2f> points;
    std::vector<char> status;
};

Tracked Track(LKFunction run, const cv::Mat& a, const cv::Mat& b, const std::vector<cv::Point2f>& from, cv::Size win,
              int level, cv::TermCriteria criteria = kCriteria)
{
    Tracked out;
    out.points.resize(from.size());
    out.status.assign(from.size(), 0);
    run(a, b, nullptr, nullptr, from.data(), out.points.data(), static_cast<int>(from.size()), win, level,
        out.status.data(), nullptr, criteria, 0);
    return out;
}

TEST(OpticFlowLKTest, BothVariantsFindAKnownSubPixelShift)
{
    struct Case {
        float dx, dy;
        int level;
    };
    const Case cases[] = {{0.4f, -0.3f, 0}, {1.3f, 0.7f, 3}, {-2.6f, 1.8f, 3}, {3.0f, 0.0f, 2}};
    const std::vector<cv::Point2f> from = InteriorGrid(kFrame, 16, 7);
    for (const Variant& variant : kVariants) {
        for (const Case& c : cases) {
            const Tracked t = Track(variant.run, Texture(kFrame, 0, 0), Texture(kFrame, c.dx, c.dy), from,
                                    cv::Size(5, 5), c.level, kCriteria);
            for (std::size_t i = 0; i < from.size(); ++i) {
                EXPECT_TRUE(t.status[i]) << variant.name << " point " << i;
                EXPECT_NEAR(t.points[i].x, from[i].x + c.dx, 0.05) << variant.name << " point " << i;
                EXPECT_NEAR(t.points[i].y, from[i].y + c.dy, 0.05) << variant.name << " point " << i;
            }
        }
    }
}

// Share of the points followed by both runs whose positions differ by at most `tolerance`.
double ShareWithin(const Tracked& a, const Tracked& b, double tolerance)
{
    int close = 0;
    for (std::size_t i = 0; i < a.points.size(); ++i)
        if (a.status[i] && b.status[i] && cv::norm(a.points[i] - b.points[i]) <= tolerance)
            ++close;
    return static_cast<double>(close) / static_cast<double>(a.points.size());
}

// A noisy, blurred random picture and the same picture moved by a sub-pixel shift and a little
// noise: a harder input than the smooth texture, with points everywhere (borders included).
std::pair<cv::Mat, cv::Mat> RandomPair(unsigned seed, float dx, float dy)
{
    std::mt19937 random(seed);
    cv::Mat noise(kFrame, CV_32FC1);
    std::uniform_real_distribution<float> grey(0.f, 255.f);
    for (int y = 0; y < kFrame.height; ++y)
        for (int x = 0; x < kFrame.width; ++x) noise.at<float>(y, x) = grey(random);
    cv::GaussianBlur(noise, noise, cv::Size(0, 0), 2.0);
    cv::normalize(noise, noise, 10, 245, cv::NORM_MINMAX);
    const cv::Mat shift = (cv::Mat_<double>(2, 3) << 1, 0, dx, 0, 1, dy);
    cv::Mat moved;
    cv::warpAffine(noise, moved, shift, kFrame, cv::INTER_CUBIC, cv::BORDER_REFLECT);
    cv::Mat a, b;
    noise.convertTo(a, CV_8U);
    moved.convertTo(b, CV_8U);
    return {a, b};
}

TEST(OpticFlowLKTest, FixedPointFollowsFloatAndOpenCV)
{
    // OpenCV's tracker with the same window (2 x 5 + 1), levels and criteria: at least 95% of the
    // points at least 8 pixels inside the image agree with it within 0.1 pixel, and the fixed
    // variant agrees with the float one within 0.05 pixel. (Near the border the two clip the
    // window differently.)
    const std::vector<cv::Point2f> from = InteriorGrid(kFrame, 8, 3);
    const float shifts[][2] = {{0.6f, -1.4f}, {2.3f, 1.1f}, {-4.2f, 3.7f}};
    unsigned seed = 7;
    for (const auto& shift : shifts) {
        const auto [a, b] = RandomPair(seed++, shift[0], shift[1]);
        const Tracked floating = Track(&cvCalcOpticalFlowPyrLK_Float, a, b, from, cv::Size(5, 5), 3);
        const Tracked fixed = Track(&cvCalcOpticalFlowPyrLK_N, a, b, from, cv::Size(5, 5), 3);
        Tracked reference;
        std::vector<unsigned char> status;
        std::vector<float> err;
        cv::calcOpticalFlowPyrLK(a, b, from, reference.points, status, err, cv::Size(11, 11), 3, kCriteria, 0, 1e-4);
        reference.status.assign(status.begin(), status.end());
        EXPECT_GE(ShareWithin(fixed, floating, 0.05), 0.95) << shift[0] << "," << shift[1];
        EXPECT_GE(ShareWithin(floating, reference, 0.1), 0.95) << shift[0] << "," << shift[1];
        EXPECT_GE(ShareWithin(fixed, reference, 0.1), 0.95) << shift[0] << "," << shift[1];
    }
}

TEST(OpticFlowLKTest, PointsWithoutTextureOrOutsideTheImageAreLost)
{
    // Left half uniform grey, right half textured.
    cv::Mat a = Texture(kFrame, 0, 0);
    a(cv::Rect(0, 0, 80, 120)).setTo(90);
    cv::Mat b = a.clone();
    const std::vector<cv::Point2f> from = {{40, 60}, {-30, 60}, {120, 200}, {157, 60}, {120, 1}, {120, 60}};
    const bool expected[] = {false, false, false, true, true, true};
    for (const Variant& variant : kVariants) {
        for (int level : {0, 2}) {
            const Tracked t = Track(variant.run, a, b, from, cv::Size(4, 4), level);
            for (std::size_t i = 0; i < from.size(); ++i) {
                EXPECT_EQ(t.status[i] != 0, expected[i]) << variant.name << " level " << level << " point " << i;
                if (expected[i]) {
                    EXPECT_NEAR(t.points[i].x, from[i].x, 0.05) << variant.name << " point " << i;
                    EXPECT_NEAR(t.points[i].y, from[i].y, 0.05) << variant.name << " point " << i;
                }
            }
        }
    }
}

TEST(OpticFlowLKTest, ReadyPyramidsAndInitialGuessesGiveTheSameResult)
{
    const cv::Mat a = Texture(kFrame, 0, 0);
    const cv::Mat b = Texture(kFrame, 2.5f, -1.5f);
    const std::vector<cv::Point2f> from = InteriorGrid(kFrame, 20, 20);
    for (const Variant& variant : kVariants) {
        const Tracked plain = Track(variant.run, a, b, from, cv::Size(5, 5), 3);
        cv::Mat pyr_a(kFrame, CV_8UC1, cv::Scalar(0)), pyr_b(kFrame, CV_8UC1, cv::Scalar(0));
        std::vector<cv::Point2f> out(from.size());
        std::vector<char> status(from.size());
        variant.run(a, b, &pyr_a, &pyr_b, from.data(), out.data(), static_cast<int>(from.size()), cv::Size(5, 5), 3,
                    status.data(), nullptr, kCriteria, 0);
        // Second call: both pyramids ready, the previous answers as guesses.
        std::vector<cv::Point2f> guessed = out;
        variant.run(a, b, &pyr_a, &pyr_b, from.data(), guessed.data(), static_cast<int>(from.size()), cv::Size(5, 5), 3,
                    status.data(), nullptr, kCriteria,
                    CV_LKFLOW_PYR_A_READY | CV_LKFLOW_PYR_B_READY | CV_LKFLOW_INITIAL_GUESSES);
        for (std::size_t i = 0; i < from.size(); ++i) {
            EXPECT_EQ(out[i], plain.points[i]) << variant.name;
            EXPECT_NEAR(guessed[i].x, plain.points[i].x, 0.02) << variant.name;
            EXPECT_NEAR(guessed[i].y, plain.points[i].y, 0.02) << variant.name;
        }
    }
}

TEST(OpticFlowLKTest, FloatVariantReportsResidualsOrEigenvalues)
{
    const cv::Mat a = Texture(kFrame, 0, 0);
    const std::vector<cv::Point2f> from = {{80, 60}};
    cv::Point2f to;
    char status = 0;
    float error = -1;
    cvCalcOpticalFlowPyrLK_Float(a, a, nullptr, nullptr, from.data(), &to, 1, cv::Size(5, 5), 0, &status, &error,
                                 kCriteria, 0);
    EXPECT_EQ(status, 1);
    EXPECT_NEAR(error, 0.f, 1e-3f);
    cvCalcOpticalFlowPyrLK_Float(a, a, nullptr, nullptr, from.data(), &to, 1, cv::Size(5, 5), 0, &status, &error,
                                 kCriteria, CV_LKFLOW_GET_MIN_EIGENVALS);
    EXPECT_GT(error, 1.f);
    cvCalcOpticalFlowPyrLK_N(a, a, nullptr, nullptr, from.data(), &to, 1, cv::Size(5, 5), 0, &status, &error, kCriteria,
                             CV_LKFLOW_GET_MIN_EIGENVALS);
    EXPECT_EQ(error, 0.f);
}

TEST(OpticFlowLKTest, BadArgumentsAreRefusedWithOpenCVErrors)
{
    const cv::Mat grey(kFrame, CV_8UC1, cv::Scalar(1));
    const cv::Mat colour(kFrame, CV_8UC3, cv::Scalar(1));
    const cv::Mat smaller(cv::Size(80, 120), CV_8UC1, cv::Scalar(1));
    cv::Mat padded_storage(kFrame.height, kFrame.width + 8, CV_8UC1, cv::Scalar(1));
    const cv::Mat padded = padded_storage(cv::Rect(0, 0, kFrame.width, kFrame.height));
    cv::Mat small_pyramid(1, 100, CV_8UC1);
    cv::Mat exact_minimum(1, 160 * 120 / 3, CV_8UC1);
    cv::Point2f a(80, 60), b;
    char status;

    // The arguments that vary (the output points, status and error are always the same) and the
    // error expected; no function name means the variant's own.
    struct Case {
        const char* what;
        const cv::Mat *a, *b;
        cv::Mat *pyr_a, *pyr_b;
        const cv::Point2f* from;
        int count;
        cv::Size win;
        int level;
        cv::TermCriteria criteria;
        int flags;
        int code;
        const char* message;
        const char* function;
    };
    const cv::TermCriteria c = kCriteria;
    const cv::Size w(5, 5);
    const char* const init = "icvInitPyramidalAlgorithm";
    const Case cases[] = {
        {"colour first image", &colour, &colour, nullptr, nullptr, &a, 1, w, 1, c, 0, cv::Error::StsUnsupportedFormat,
         "", nullptr},
        {"mixed types", &grey, &colour, nullptr, nullptr, &a, 1, w, 1, c, 0, cv::Error::StsUnmatchedFormats, "",
         nullptr},
        {"mixed sizes", &grey, &smaller, nullptr, nullptr, &a, 1, w, 1, c, 0, cv::Error::StsUnmatchedSizes, "",
         nullptr},
        {"mixed steps", &grey, &padded, nullptr, nullptr, &a, 1, w, 1, c, 0, cv::Error::StsBadArg,
         "imgA and imgB must have equal steps", nullptr},
        {"small pyramid A", &grey, &grey, &small_pyramid, nullptr, &a, 0, w, 1, c, 0, cv::Error::StsBadArg,
         "pyramid A has insufficient size", nullptr},
        {"small pyramid B", &grey, &grey, nullptr, &small_pyramid, &a, 0, w, 1, c, 0, cv::Error::StsBadArg,
         "pyramid B has insufficient size", nullptr},
        {"missing points", &grey, &grey, nullptr, nullptr, nullptr, 1, w, 1, c, 0, cv::Error::StsNullPtr,
         "Some of arrays of point coordinates are missing", nullptr},
        {"negative count", &grey, &grey, nullptr, nullptr, &a, -1, w, 1, c, 0, cv::Error::StsOutOfRange,
         "The number of tracked points is negative or zero", nullptr},
        {"window 1", &grey, &grey, nullptr, nullptr, &a, 1, cv::Size(1, 5), 1, c, 0, cv::Error::StsBadSize,
         "Invalid search window size", nullptr},
        {"ready pyramid missing", &grey, &grey, nullptr, nullptr, &a, 1, w, 1, c, CV_LKFLOW_PYR_B_READY,
         cv::Error::StsNullPtr, "Some of the precomputed pyramids are missing", init},
        {"negative level", &grey, &grey, nullptr, nullptr, &a, 1, w, -1, c, 0, cv::Error::StsOutOfRange,
         "The number of pyramid levels is negative", init},
        {"bad criteria", &grey, &grey, nullptr, nullptr, &a, 1, w, 1, cv::TermCriteria(0, 5, 0.1), 0,
         cv::Error::StsBadArg, "Invalid termination criteria", init},
        // The minimal size admits three levels at 160 x 120, but not a pyramid that needs more.
        {"pyramid smaller than its levels", &grey, &grey, &exact_minimum, nullptr, &a, 1, w, 5, c, 0,
         cv::Error::StsBadArg, "pyramid A has insufficient size", init},
        {"levels beyond the image", &grey, &grey, nullptr, nullptr, &a, 1, w, 10000, c, 0, cv::Error::StsAssert,
         nullptr, init},
    };
    for (const Variant& variant : kVariants) {
        for (const Case& k : cases) {
            try {
                variant.run(*k.a, *k.b, k.pyr_a, k.pyr_b, k.from, &b, k.count, k.win, k.level, &status, nullptr,
                            k.criteria, k.flags);
                ADD_FAILURE() << variant.name << ": " << k.what << " must throw";
            } catch (const cv::Exception& e) {
                EXPECT_EQ(e.code, k.code) << variant.name << ": " << k.what;
                if (k.message) {
                    EXPECT_EQ(e.err, k.message) << variant.name << ": " << k.what;
                }
                EXPECT_EQ(e.func, k.function ? k.function : variant.name) << k.what;
            }
        }
        // Count 0 returns after the image and pyramid checks, without touching anything.
        b = cv::Point2f(-7, -7);
        EXPECT_NO_THROW(variant.run(grey, grey, &exact_minimum, nullptr, nullptr, nullptr, 0, {1, 1}, -5, nullptr,
                                    nullptr, c, CV_LKFLOW_PYR_A_READY | CV_LKFLOW_PYR_B_READY));
        EXPECT_EQ(b, cv::Point2f(-7, -7));
    }
}

TEST(OpticFlowLKTest, CriteriaKeepTheGivenIterationCountAndSquareEpsilon)
{
    const cv::Mat grey(kFrame, CV_8UC1, cv::Scalar(1));
    const struct {
        int type, iterations;
        double epsilon;
        int expected_iterations;
        double expected_epsilon;
    } cases[] = {
        {cv::TermCriteria::COUNT, 500, 0.3, 500, 0.0},
        {cv::TermCriteria::COUNT + cv::TermCriteria::EPS, 250, 0.1, 250, 0.01},
        {cv::TermCriteria::COUNT + cv::TermCriteria::EPS, 20, 0.02, 20, 0.0004},
        {cv::TermCriteria::EPS, 500, 0.1, 100, 0.01},  // no count given: the routine's own 100
    };
    for (const auto& c : cases) {
        cv::TermCriteria criteria(c.type, c.iterations, c.epsilon);
        LKPyramidLevels levels;
        std::vector<unsigned char> scratch;
        icvInitPyramidalAlgorithm(grey, grey, nullptr, nullptr, 1, &criteria, 100, 0, levels, scratch);
        EXPECT_EQ(criteria.maxCount, c.expected_iterations) << c.type << " " << c.iterations;
        EXPECT_DOUBLE_EQ(criteria.epsilon, c.expected_epsilon) << c.type << " " << c.iterations;
    }
}

TEST(OpticFlowLKTest, VectorSumsEqualScalarSums)
{
    std::mt19937 random(3);
    std::uniform_int_distribution<int32_t> sample(0, 255 * 16384);
    std::uniform_int_distribution<int32_t> derivative(-2088960, 2088960);
    for (int width : {1, 3, 4, 7, 11, 17}) {
        const int rows = 9;
        std::vector<int32_t> pi(static_cast<std::size_t>(rows * (width + 2))),
            pj(static_cast<std::size_t>(rows * width));
        std::vector<int32_t> ix(static_cast<std::size_t>(rows * (width + 1))), iy(ix.size());
        for (auto& v : pi) v = sample(random);
        for (auto& v : pj) v = sample(random);
        for (auto& v : ix) v = derivative(random);
        for (auto& v : iy) v = derivative(random);
        for (bool gradient : {false, true}) {
            optic_flow_detail::FixedWindowSums scalar{1, 2, 3, 4, 5}, vector{1, 2, 3, 4, 5};
            optic_flow_detail::AccumulateFixedSums(pi.data(), width + 2, pj.data(), width, ix.data(), iy.data(),
                                                   width + 1, width, rows, gradient, AlgoLibrary::KernelPath::kScalar,
                                                   scalar);
            optic_flow_detail::AccumulateFixedSums(pi.data(), width + 2, pj.data(), width, ix.data(), iy.data(),
                                                   width + 1, width, rows, gradient, AlgoLibrary::KernelPath::kVector,
                                                   vector);
            const auto sums = [](const optic_flow_detail::FixedWindowSums& s) {
                return std::vector<int64_t>{s.bx, s.by, s.gxx, s.gxy, s.gyy};
            };
            EXPECT_EQ(sums(scalar), sums(vector)) << width;
            if (!gradient) {
                EXPECT_EQ(scalar.gxx, 3) << "the gradient sums stay when not asked for";
            }
        }
    }
}

TEST(OpticFlowLKTest, VectorPathsGiveTheScalarResults)
{
    // Patch rows: every width up to 19 and random weights, against the scalar row.
    std::mt19937 random(9);
    std::uniform_int_distribution<int> pixel(0, 255), weight(0, 16383);
    std::vector<unsigned char> r0(24), r1(24);
    for (int trial = 0; trial < 200; ++trial) {
        for (auto& v : r0) v = static_cast<unsigned char>(pixel(random));
        for (auto& v : r1) v = static_cast<unsigned char>(trial % 7 == 0 ? 255 : pixel(random));
        const int32_t ai = trial % 5 == 0 ? 0 : weight(random);
        const int32_t bi = trial % 3 == 0 ? 16383 : weight(random);
        const int width = 1 + trial % 19;
        std::vector<int32_t> scalar(static_cast<std::size_t>(width)), vector(scalar.size());
        optic_flow_detail::SubPixRowFixed(r0.data(), r1.data(), ai, bi, scalar.data(), width,
                                          AlgoLibrary::KernelPath::kScalar);
        optic_flow_detail::SubPixRowFixed(r0.data(), r1.data(), ai, bi, vector.data(), width,
                                          AlgoLibrary::KernelPath::kVector);
        ASSERT_EQ(scalar, vector) << "width " << width << " ai " << ai << " bi " << bi;
    }
    // The whole fixed-point tracker, border points included.
    const std::pair<cv::Mat, cv::Mat> pair = RandomPair(21, 1.7f, -2.2f);
    const cv::Mat &a = pair.first, &b = pair.second;
    const std::vector<cv::Point2f> from = InteriorGrid(kFrame, 0, 3);
    const auto track = [&](AlgoLibrary::KernelPath path) {
        const AlgoLibrary::ScopedKernelPath scoped(path);
        return Track(&cvCalcOpticalFlowPyrLK_N, a, b, from, cv::Size(5, 5), 3);
    };
    const Tracked scalar = track(AlgoLibrary::KernelPath::kScalar), vector = track(AlgoLibrary::KernelPath::kVector);
    EXPECT_EQ(scalar.status, vector.status);
    EXPECT_EQ(scalar.points, vector.points);
}

TEST(OpticFlowLKTest, SubPixelPatchesInterpolateAndReplicateTheBorder)
{
    cv::Mat image(cv::Size(8, 6), CV_8UC1);
    for (int y = 0; y < image.rows; ++y)
        for (int x = 0; x < image.cols; ++x) image.at<unsigned char>(y, x) = static_cast<unsigned char>(10 * x + 3 * y);
    // A 3 x 3 patch centred at c samples the bilinear ramp at c + (-1..1): inside it is exact,
    // outside the border columns and rows repeat.
    const cv::Point2f centres[] = {{3.25f, 2.5f}, {0.f, 0.f}, {6.75f, 4.6f}, {-3.f, 9.f}};
    for (const cv::Point2f& c : centres) {
        float f[9];
        int32_t q[9];
        ASSERT_EQ(icvGetRectSubPixFloat(image.data, 8, image.size(), f, 3 * 4, cv::Size(3, 3), c), 0);
        ASSERT_EQ(icvGetRectSubPixFixed(image.data, 8, image.size(), q, 3 * 4, cv::Size(3, 3), c), 0);
        for (int i = 0; i < 3; ++i) {
            for (int j = 0; j < 3; ++j) {
                const float x = std::min(std::max(c.x - 1 + j, 0.f), 7.f);
                const float y = std::min(std::max(c.y - 1 + i, 0.f), 5.f);
                const float expected = 10 * x + 3 * y;
                EXPECT_NEAR(f[i * 3 + j], expected, 0.01f) << c << " " << i << "," << j;
                EXPECT_NEAR(q[i * 3 + j] / 16384.f, expected, 0.01f) << c << " " << i << "," << j;
            }
        }
    }
    float f[1];
    int32_t q[1];
    EXPECT_EQ(icvGetRectSubPixFloat(image.data, 8, image.size(), f, 4, cv::Size(0, 3), {2, 2}), -44);
    EXPECT_EQ(icvGetRectSubPixFixed(image.data, 8, image.size(), q, 4, cv::Size(3, 0), {2, 2}), -44);
}

}  // namespace
