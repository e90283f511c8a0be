#pragma once

#include <array>
#include <opencv2/core.hpp>

#include "CommonUtilities/ParameterAccess/parameters.h"
#include "StereoAnalyzer/StereoMatchers/modified_opencv_stereo_matchers/stereo_bm_without_stripes.h"
#include "StereoAnalyzer/StereoMatchers/one_side_parallel_stereo_matcher.h"

namespace stereo {

// The block-matching stereo matcher: one block-matching routine per view, its settings loaded from
// the nine "BM_" parameters. Colour input is matched on its grey conversion. The left view takes the
// left image as reference; the right view matches the right image against the left one with the
// negated range. Each view's settings record has its own work buffers.
//
// Called from the algorithm thread; the two views run concurrently inside CalcDispTwoSidesAlgoRun,
// each touching only its own record, map and output.
class StereoMatcherBM : public OneSideParallelStereoMatcher {
public:
    StereoMatcherBM() = default;
    ~StereoMatcherBM() override = default;

    void SetDispLevelsNum(short levels_num) override;
    void SetMinDispValLeft(short min_disp) override;

    // Declares the nine parameters, in the order of the parameter file's documentation.
    void InitializeDefaultParameters() override;

    // The settings record of a view (the routine's state).
    const CvStereoBMState& GetState(eLeftOrRightView view) const { return *m_matchers[view].state; }

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

    std::array<StereoBMWithoutStripes, kViewsNum> m_matchers;
    std::array<cv::Mat, kViewsNum> m_gray;  // grey conversions of colour input (0: first image, 1: second)

    ParamsLib::IntValueParam<> m_sad_window_size;
    ParamsLib::IntValueParam<> m_min_disparity;
    ParamsLib::IntValueParam<> m_disparity_levels;
    ParamsLib::IntValueParam<> m_texture_threshold;
    ParamsLib::IntValueParam<> m_prefilter_cap;
    ParamsLib::IntValueParam<> m_un_ratio;
    ParamsLib::IntValueParam<> m_disp12_max_diff;
    ParamsLib::IntValueParam<> m_speckle_win_size;
    ParamsLib::IntValueParam<> m_speckle_range;
};

}  // namespace stereo
