#include "StereoAnalyzer/StereoPeopleCounter/fuzzy_background_subtractor.h"

#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <opencv2/imgproc.hpp>
#include <string>

#include "CommonUtilities/DebugInterfaces/recording_log.h"
#include "CommonUtilities/ParameterAccess/load_parameters.h"
#include "CommonUtilities/ParameterAccess/temp_ini_dir.h"
#include "CommonUtilities/algorithm_support/block_traverse.h"
#include "CommonUtilities/algorithm_support/kiv_exception.h"
#include "StereoAnalyzer/StereoPeopleCounter/gradient_calculator.h"

namespace {

constexpr long long kTicksPerMs = 10000;

template <int N>
std::unique_ptr<stereo::FuzzyBackgroundSubtractor<N>> Loaded(const std::string& values,
                                                             std::shared_ptr<RecordingLog> log = nullptr)
{
    TempIniDir dir;
    const std::string ini = dir.Write("algo.ini", "[FuzzyBackgroundSubtraction]\n" + values);
    auto model = std::make_unique<stereo::FuzzyBackgroundSubtractor<N>>();
    model->GetModifiableContext().SetName("FuzzyBackgroundSubtraction");
    BlockEntities::TraverseSetContexts(model.get());
    if (log)
        model->SetDebugInterfaces(BlockEntities::DebugInterfaces(log, nullptr, nullptr));
    ParamsLib::load_parameters(ini.c_str(), 0, model.get(), nullptr);
    model->InitFromParams();
    return model;
}

TEST(GradientCalculatorTest, NormIsTheRoundedSobelMagnitudeAndIntensityIsHalved)
{
    cv::Mat_<uchar> src(24, 31);
    cv::randu(src, 0, 256);
    src(cv::Rect(5, 5, 10, 10)) = 0;  // strong edges saturate at 255
    stereo::GradientCalculator calculator;
    cv::Mat_<uchar> norm;
    cv::Mat_<cv::Vec2b> both;
    calculator.CalcGradientNorm(src, norm);
    calculator.CalcGradientNormAndIntensity(src, both);
    cv::Mat dx, dy;
    cv::Sobel(src, dx, CV_32F, 1, 0, 3, 1, 0, cv::BORDER_REFLECT_101);
    cv::Sobel(src, dy, CV_32F, 0, 1, 3, 1, 0, cv::BORDER_REFLECT_101);
    for (int r = 0; r < src.rows; ++r)
        for (int c = 0; c < src.cols; ++c) {
            const float gx = std::clamp(dx.at<float>(r, c), -255.f, 255.f);
            const float gy = std::clamp(dy.at<float>(r, c), -255.f, 255.f);
            const int expected = std::min(255, static_cast<int>(std::floor(std::sqrt(gx * gx + gy * gy) + 0.5)));
            ASSERT_EQ(norm(r, c), expected) << r << "," << c;
            ASSERT_EQ(both(r, c)[1], expected);
            ASSERT_EQ(both(r, c)[0], src(r, c) >> 1);
        }
    cv::Mat_<uchar> untouched(2, 2, uchar(7));
    calculator.CalcGradientNorm(cv::Mat_<uchar>(), untouched);
    EXPECT_EQ(untouched(1, 1), 7);
}

TEST(FuzzyBackgroundSubtractorTest, RefusesOnlySettingsThatCannotWork)
{
    // 128 x 255 fits 16 bits; a zero or negative multiplier and a negative sigma have squares.
    for (const char* values : {"alpha=2.0\n", "fuzzy_bg_thresh_mult_sigma=0\nbg_thresh_mult_sigma_param=-3\n",
                               "min_sigma=-5\ninit_sigma=0\nmax_sigma=0\n"})
        EXPECT_NO_THROW(Loaded<2>(values)) << values;
    for (const char* values : {"alpha=2.02\n", "alpha=-0.01\n", "init_sigma=4\n", "init_sigma=11\n",
                               "max_sigma=10000\ninit_sigma=9000\n", "fuzzy_bg_thresh_mult_sigma=65536\n"})
        EXPECT_THROW(Loaded<2>(values), exc::KIVException) << values;

    // Foreground time adds up without overflow to the largest threshold, which takes the pixel in.
    auto patient = Loaded<1>("not_updated_ms_thresh=2147483647\n");
    const cv::Size size(2, 1);
    cv::Mat_<uchar> img(size, uchar(100));
    patient->UpdateAndWriteFuzzyForeground(img, size, 0, false);
    for (int step = 0; step < 2; ++step) {
        img << 100, 200;
        patient->UpdateAndWriteFuzzyForeground(img, size, 1500000000LL * kTicksPerMs, false);
    }
    EXPECT_EQ(patient->Model()[1].not_updated_ms, 0);
    EXPECT_EQ(patient->Model()[1].mean[0], 200 * 64);
}

TEST(FuzzyBackgroundSubtractorTest, ClassifiesPixelsByTheirDistanceFromTheModel)
{
    auto log = std::make_shared<RecordingLog>();
    auto model = Loaded<1>("not_updated_ms_thresh=100\n", log);
    const cv::Size size(4, 1);
    cv::Mat_<uchar> img(size, uchar(100));
    model->UpdateAndWriteFuzzyForeground(img, size, 0, false);
    ASSERT_EQ(log->lines.size(), 1u);
    EXPECT_EQ(log->lines[0].text, "Resetting background");
    EXPECT_EQ(cv::countNonZero(img), 0);  // a rebuilt model says nothing yet

    // Default sigma 8.5: variance 4624 (×64). Foreground from 3 sigma = 25.5 levels on; at 1 level
    // a background pixel measures 255 / (6 × 8.5) = 5; a background pixel never exceeds 127.
    img << 100, 101, 125, 126;
    model->UpdateAndWriteFuzzyForeground(img, size, 40 * kTicksPerMs, false);
    EXPECT_EQ(img(0, 0), 0);
    EXPECT_EQ(img(0, 1), 5);
    EXPECT_LE(img(0, 2), 127);
    EXPECT_EQ(img(0, 3), 255);
    EXPECT_EQ(model->Model()[3].not_updated_ms, 40);
    EXPECT_EQ(model->Model()[1].mean[0], 100 * 64 + 1);  // alpha 0.01 → 1/64 of the difference

    // A pixel that stays foreground for the threshold is taken into the background.
    img << 100, 100, 100, 126;
    model->UpdateAndWriteFuzzyForeground(img, size, 60 * kTicksPerMs, false);
    EXPECT_EQ(img(0, 3), 255);
    EXPECT_EQ(model->Model()[3].not_updated_ms, 0);
    EXPECT_EQ(model->Model()[3].mean[0], 126 * 64);
    img << 100, 100, 100, 126;
    model->UpdateAndWriteFuzzyForeground(img, size, 40 * kTicksPerMs, false);
    EXPECT_EQ(img(0, 3), 0);

    // A reset rebuilds the model.
    model->UpdateAndWriteFuzzyForeground(img, size, 40 * kTicksPerMs, true);
    EXPECT_EQ(log->lines.size(), 2u);
}

TEST(FuzzyBackgroundSubtractorTest, TwoChannelModelWritesOnlyTheFirstChannel)
{
    auto model = Loaded<2>("");
    const cv::Size size(2, 2);
    cv::Mat_<cv::Vec2b> img(size, cv::Vec2b(50, 10));
    model->UpdateAndWriteFuzzyForeground(img, size, 0, false);
    img = cv::Vec2b(50, 10);  // the output replaced the intensities
    img(1, 1) = cv::Vec2b(50, 200);
    model->UpdateAndWriteFuzzyForeground(img, size, kTicksPerMs, false);
    EXPECT_EQ(img(1, 1), cv::Vec2b(255, 200));
    EXPECT_EQ(img(0, 0), cv::Vec2b(0, 10));
}

}  // namespace
