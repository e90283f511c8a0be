#include "StereoAnalyzer/StereoPeopleCounter/fuzzy_background_subtractor.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "CommonUtilities/ParameterAccess/parameter_range.h"
#include "CommonUtilities/algorithm_support/kiv_exception.h"
#include "CommonUtilities/algorithm_support/rounding.h"
#include "CommonUtilities/logged_text/logged_value.h"

namespace stereo {

namespace {

template <int N>
int Channel(const typename FuzzyPixel<N>::type& pixel, int c);
template <>
int Channel<1>(const uchar& pixel, int)
{
    return pixel;
}
template <>
int Channel<2>(const cv::Vec2b& pixel, int c)
{
    return pixel[c];
}

inline void WriteOutput(uchar& pixel, uchar value)
{
    pixel = value;
}
inline void WriteOutput(cv::Vec2b& pixel, uchar value)
{
    pixel[0] = value;
}

}  // namespace

template <int N>
void FuzzyBackgroundSubtractor<N>::InitializeDefaultParameters()
{
    InitValueParameterStringDefault(m_not_updated_ms_thresh, "", "", "not_updated_ms_thresh",
                                    "milliseconds after which we init new component", "", "18000");
    InitValueParameterStringDefault(m_alpha, "", "", "alpha", "rate of background update", "", "0.01");
    InitValueParameterStringDefault(m_init_sigma, "", "", "init_sigma", "initial value of sigma", "", "8.5");
    InitValueParameterStringDefault(m_min_sigma, "", "", "min_sigma", "minimal sigma value", "", "5");
    InitValueParameterStringDefault(m_max_sigma, "", "", "max_sigma", "maximal sigma value", "", "10.6");
    InitValueParameterStringDefault(m_bg_thresh_mult_sigma, "", "", "bg_thresh_mult_sigma_param",
                                    "if color - bg > bg_thresh_mult_sigma_param * sigma then color is foreground", "",
                                    "3");
    InitValueParameterStringDefault(
        m_fuzzy_bg_thresh_mult_sigma, "", "", "fuzzy_bg_thresh_mult_sigma",
        "foregroundness measure is calculated as |color - bg| / (fuzzy_bg_thresh_mult_sigma * sigma)", "", "6");
}

template <int N>
void FuzzyBackgroundSubtractor<N>::InitFromParams()
{
    using ParamsLib::CheckWorkingRange;
    using ParamsLib::WorkingRange;
    const BlockEntities::Context& context = GetContext();
    const float init_sigma = m_init_sigma(), min_sigma = m_min_sigma(), max_sigma = m_max_sigma();
    const std::string between = "from " + ParamsLib::NameAndValue(m_min_sigma, context) + " to " +
                                ParamsLib::NameAndValue(m_max_sigma, context);
    const std::string below = CheckWorkingRange(m_init_sigma, context, WorkingRange::AtLeast(min_sigma), between);
    KIV_CHECK(below.empty(), "FuzzyBackgrInitSigmaMin_200811_120301") << below;
    const std::string above = CheckWorkingRange(m_init_sigma, context, WorkingRange::AtMost(max_sigma), between);
    KIV_CHECK(above.empty(), "FuzzyBackgrInitSigmaMax_200811_120302") << above;
    // Variances, 64 N sigma^2, are kept in 32 bits.
    const double largest_sigma = std::sqrt(std::numeric_limits<std::int32_t>::max() / (64.0 * N));
    for (const ParamsLib::FltValueParam<>* sigma : {&m_init_sigma, &m_min_sigma, &m_max_sigma}) {
        const std::string refusal =
            CheckWorkingRange(*sigma, context, WorkingRange::Closed(-largest_sigma, largest_sigma),
                              "the variance of the background model is kept in 32 bits");
        KIV_CHECK(refusal.empty(), "FuzzyBackgrSigma_200811_120304") << refusal;
    }
    const auto variance = [](float sigma) {
        const float square = sigma * sigma;
        return AlgoLibrary::RoundHalfAwayFromZero(64.0 * N * static_cast<double>(square));
    };
    // The means are kept in 16 bits: 255 times the rate in 1/64 steps (round(64 alpha)) must stay
    // within 0 .. 32766, so alpha lies in (-1/128, 257/128).
    const std::string alpha_refusal =
        CheckWorkingRange(m_alpha, context, WorkingRange{-1.0 / 128, 257.0 / 128, true, true},
                          "alpha " + logged_text::LoggedValue(m_alpha.GetTextAsRead()) +
                              (m_alpha() < 0 ? " moves the background away from the picture" : " is too big") +
                              ", numeric overflow is possible");
    KIV_CHECK(alpha_refusal.empty(), "FuzzyBackgrAlpha_200811_120303") << alpha_refusal;
    // The thresholds are squared and multiplied by a 32-bit variance in 64 bits.
    constexpr int kLargestMultiplier = 65535;
    for (const ParamsLib::IntValueParam<>* multiplier : {&m_fuzzy_bg_thresh_mult_sigma, &m_bg_thresh_mult_sigma}) {
        const std::string refusal =
            CheckWorkingRange(*multiplier, context, WorkingRange::Closed(-kLargestMultiplier, kLargestMultiplier),
                              "its square times the variance is kept in 64 bits");
        KIV_CHECK(refusal.empty(), "FuzzyBackgrFuzzyThresh_200811_120305") << refusal;
    }

    m_init_var = variance(init_sigma);
    m_min_var = variance(min_sigma);
    m_max_var = variance(max_sigma);
    m_alpha_fixed = AlgoLibrary::RoundHalfAwayFromZero(64.0 * m_alpha());
    const long long fuzzy = m_fuzzy_bg_thresh_mult_sigma(), bg = m_bg_thresh_mult_sigma();
    m_fuzzy_thresh_sq = fuzzy * fuzzy;
    m_bg_thresh_sq = bg * bg;
}

template <int N>
void FuzzyBackgroundSubtractor<N>::InitFromImage(const cv::Mat_<Pixel>& img, const cv::Size& size)
{
    Log(kKivLogInfo) << "Resetting background";
    m_width = size.width;
    m_height = size.height;
    m_backgr.assign(static_cast<size_t>(m_width) * m_height, BackgrParams{});
    for (int row = 0; row < m_height; ++row) {
        const Pixel* in = img[row];
        BackgrParams* model = &m_backgr[static_cast<size_t>(row) * m_width];
        for (int col = 0; col < m_width; ++col) {
            model[col].variance = m_init_var;
            for (int c = 0; c < N; ++c) model[col].mean[c] = static_cast<std::int16_t>(Channel<N>(in[col], c) * 64);
            model[col].not_updated_ms = 0;
        }
    }
}

template <int N>
void FuzzyBackgroundSubtractor<N>::UpdateAndWriteFuzzyForeground(cv::Mat_<Pixel>& img, const cv::Size& size,
                                                                 long long time_since_previous, bool reset)
{
    KIV_CHECK(img.rows >= size.height && img.cols >= size.width, "FuzzyBackgrImageSize_200811_120306")
        << "picture " << img.cols << "x" << img.rows << " is smaller than " << size.width << "x" << size.height;
    if (reset || size.width != m_width || size.height != m_height) {
        InitFromImage(img, size);
        for (int row = 0; row < m_height; ++row) {
            Pixel* out = img[row];
            for (int col = 0; col < m_width; ++col) WriteOutput(out[col], 0);
        }
        return;
    }
    const auto elapsed_ms = static_cast<std::int32_t>(time_since_previous / 10000);
    const int threshold = m_not_updated_ms_thresh();
    const int low_var = std::min(m_min_var, m_max_var), high_var = std::max(m_min_var, m_max_var);
    for (int row = 0; row < m_height; ++row) {
        Pixel* pixels = img[row];
        BackgrParams* model = &m_backgr[static_cast<size_t>(row) * m_width];
        for (int col = 0; col < m_width; ++col) {
            BackgrParams& bg = model[col];
            int current[N], diff[N];
            long long squares = 0;
            for (int c = 0; c < N; ++c) {
                current[c] = Channel<N>(pixels[col], c) * 64;
                diff[c] = current[c] - bg.mean[c];
                squares += static_cast<long long>(diff[c]) * diff[c];
            }
            const auto d2 = static_cast<std::int32_t>(squares >> 6);
            if (d2 >= m_bg_thresh_sq * bg.variance) {
                bg.not_updated_ms = static_cast<std::int32_t>(std::min<long long>(
                    static_cast<long long>(bg.not_updated_ms) + elapsed_ms, std::numeric_limits<std::int32_t>::max()));
                WriteOutput(pixels[col], 255);
                if (bg.not_updated_ms >= threshold) {
                    for (int c = 0; c < N; ++c) bg.mean[c] = static_cast<std::int16_t>(current[c]);
                    bg.variance = m_init_var;
                    bg.not_updated_ms = 0;
                }
                continue;
            }
            for (int c = 0; c < N; ++c)
                bg.mean[c] = static_cast<std::int16_t>(bg.mean[c] + ((m_alpha_fixed * diff[c]) >> 6));
            const long long divisor = m_fuzzy_thresh_sq * bg.variance;
            uchar output = 255;
            if (divisor > 0) {
                const long long q = static_cast<long long>(d2) * 65025 / divisor;
                output = static_cast<uchar>(std::min(255.0f, std::trunc(std::sqrt(static_cast<float>(q)))));
            }
            WriteOutput(pixels[col], output);
            const long long variance =
                bg.variance + ((static_cast<long long>(m_alpha_fixed) * (d2 - bg.variance)) >> 6);
            bg.variance = static_cast<std::int32_t>(std::clamp<long long>(variance, low_var, high_var));
            bg.not_updated_ms = 0;
        }
    }
}

template class FuzzyBackgroundSubtractor<1>;
template class FuzzyBackgroundSubtractor<2>;

}  // namespace stereo
