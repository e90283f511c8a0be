#pragma once

#include <array>
#include <opencv2/core.hpp>

#include "CommonUtilities/ParameterAccess/parameters.h"
#include "StereoAnalyzer/StereoMatchers/modified_opencv_stereo_matchers/stereo_sgbm_without_stripes.h"
#include "StereoAnalyzer/StereoMatchers/one_side_parallel_stereo_matcher.h"

namespace stereo {

// The semi-global-matching stereo matcher: one semi-global routine per view, settings from the
// "SGBM_" parameters, colour images matched in colour (a fourth channel is dropped), the
// smoothness penalties P1 and P2 set from the window size and the channel count before every run.
// The right view is matched with the images swapped and the range negated.
//
// Called from the algorithm thread; CalcDispOneSideAlgoRun runs once per view on worker threads,
// each writing only its own routine, its m_disp entry and its output.
class StereoMatcherSGBM : public OneSideParallelStereoMatcher {
public:
    StereoMatcherSGBM();
    ~StereoMatcherSGBM() override;

    void SetDispLevelsNum(short levels_num) override;
    void SetMinDispValLeft(short min_disp) override;

    void InitializeDefaultParameters() override;

protected:
    void CalcDispOneSideAlgoRun(eLeftOrRightView view) override;
    void InitFromParamsImpl() override;
    void ResizeBuffers(const cv::Size_<int>& size) override;
    void RescaleParametersImpl(double factor) override;
    short GetMaxDispValLeft() const override;
    short GetMinDispValLeft() const override;
    void TransformDispToInput(const cv::Mat& output, eLeftOrRightView view) override;
    void TransformOutputToDispInt(eLeftOrRightView view, unsigned int scale, cv::Mat& output) override;
    void TransformOutputToDispFloat(eLeftOrRightView view, cv::Mat& output) override;
    void TransformImagesToInput(const cv::Mat& left, const cv::Mat& right) override;
    void ResetInput() override;
    void GetInvalidPixelsMask(eLeftOrRightView view, cv::Mat_<unsigned char>& mask) override;

private:
    ViewRangeFields Fields(eLeftOrRightView view);

    std::array<StereoSGBMWithoutStripes, kViewsNum> m_matchers;  // per view: the routine and its settings
    std::array<cv::Mat, kViewsNum> m_colour;                     // per view: three-channel part of a four-channel input
    std::array<cv::Mat, kViewsNum> m_alpha;                      // per view: the dropped fourth channel

    ParamsLib::IntValueParam<> m_sad_window_size;
    ParamsLib::IntValueParam<> m_min_disparity;
    ParamsLib::IntValueParam<> m_disparity_levels;
    ParamsLib::IntValueParam<> m_prefilter_cap;
    ParamsLib::IntValueParam<> m_un_ratio;
    ParamsLib::IntValueParam<> m_disp12_max_diff;
    ParamsLib::IntValueParam<> m_speckle_win_size;
    ParamsLib::IntValueParam<> m_speckle_range;
    ParamsLib::BlnValueParam<> m_full_dp;
};

}  // namespace stereo
