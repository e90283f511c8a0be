#pragma once

#include <array>
#include <cstdint>
#include <opencv2/core.hpp>
#include <vector>

#include "CommonUtilities/algorithm_support/block_light.h"

namespace stereo {

// The pixel type of an N-channel model: the gradient norm alone, or (halved grey level, norm).
template <int N>
struct FuzzyPixel;
template <>
struct FuzzyPixel<1> {
    using type = uchar;
};
template <>
struct FuzzyPixel<2> {
    using type = cv::Vec2b;
};

// A per-pixel statistical background model (mean and variance in fixed point) that turns the
// distance of each pixel from its background into a fuzzy foreground measure: 255 at 3 sigma
// (by default) or more, proportionally less below. A pixel that stays foreground long enough is
// taken into the background.
template <int N>
class FuzzyBackgroundSubtractor : public BlockHighlevel::LightBlock<BlockEntities::IAlgoEntityBase> {
public:
    using Pixel = typename FuzzyPixel<N>::type;

    struct BackgrParams {
        std::int32_t variance;             // sum over channels of sigma², × 64
        std::array<std::int16_t, N> mean;  // grey level × 64
        std::int32_t not_updated_ms;       // uninterrupted foreground time
    };

    void InitializeDefaultParameters() override;

    // Converts the parameters into the fixed-point members; refuses values that cannot work and
    // keeps the previous ones then.
    void InitFromParams();

    // Rebuilds the model from one picture.
    void InitFromImage(const cv::Mat_<Pixel>& img, const cv::Size& size);

    // Updates the model with img and overwrites img (channel 0) with the fuzzy foreground.
    // time_since_previous is in 100-ns ticks.
    void UpdateAndWriteFuzzyForeground(cv::Mat_<Pixel>& img, const cv::Size& size, long long time_since_previous,
                                       bool reset);

    const std::vector<BackgrParams>& Model() const { return m_backgr; }

private:
    std::vector<BackgrParams> m_backgr;
    int m_width = 0;
    int m_height = 0;
    int m_alpha_fixed = 0;
    int m_init_var = 0;
    int m_min_var = 0;
    int m_max_var = 0;
    long long m_bg_thresh_sq = 0;
    long long m_fuzzy_thresh_sq = 1;

    ParamsLib::IntValueParam<> m_not_updated_ms_thresh;
    ParamsLib::FltValueParam<> m_alpha;
    ParamsLib::FltValueParam<> m_init_sigma;
    ParamsLib::FltValueParam<> m_min_sigma;
    ParamsLib::FltValueParam<> m_max_sigma;
    ParamsLib::IntValueParam<> m_bg_thresh_mult_sigma;
    ParamsLib::IntValueParam<> m_fuzzy_bg_thresh_mult_sigma;
};

extern template class FuzzyBackgroundSubtractor<1>;
extern template class FuzzyBackgroundSubtractor<2>;

}  // namespace stereo
