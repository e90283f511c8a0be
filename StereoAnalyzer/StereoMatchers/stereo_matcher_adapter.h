#pragma once

#include <array>
#include <opencv2/core.hpp>

#include "CommonUtilities/algorithm_support/block_entities.h"
#include "CommonUtilities/algorithm_support/block_light.h"
#include "StereoAnalyzer/StereoMatchers/left_or_right_view.h"

namespace stereo {

using StereoImages = std::array<cv::Mat, kViewsNum>;
using StereoDisparities = std::array<cv::Mat, kViewsNum>;
// Optional masks of the pixels without a valid disparity; a null pointer asks for none.
using StereoMasks = std::array<cv::Mat_<unsigned char>*, kViewsNum>;

// The stereo-matcher block: from a rectified pair of 8-bit images it computes the disparity map of
// the left view and of the right view, optionally with masks of the pixels that have no valid match.
//
// Disparity representation: the matching routines write 16-bit signed maps with 16 units per pixel.
// The left view's range is [minL, maxL], maxL = minL + N - 1 with N the level count (a positive
// multiple of 16); the right view's range is [-maxL, -minL]. A pixel without a valid match holds
// (min - 1) * s, min being the view's minimum disparity and s the output scale (16 internally).
// Every range must stay inside [-kMaxAbsDispVal, kMaxAbsDispVal] whole pixels.
//
// The adapter fixes the calling order, the checks and the output conversions; an implementation
// matches one view (CalcDispOneSideAlgoRun) and keeps each view's routine settings. The steps that
// are the same for every implementation are protected helpers here, over the per-view state below.
//
// Called from one thread (the algorithm thread); the two views of a pair may be matched on two
// worker threads inside CalcDispTwoSidesAlgoRun.
class StereoMatcherAdapter : public BlockHighlevel::LightBlock<BlockEntities::IAlgoEntityBase> {
public:
    // The largest disparity magnitude, in whole pixels, whose invalid marker still fits the 16-bit
    // fixed-point map.
    static constexpr int kMaxAbsDispVal = 2046;
    // Units per pixel of the internal maps.
    static constexpr unsigned int kInternalScale = 16;

    ~StereoMatcherAdapter() override = default;

    virtual void SetDispLevelsNum(short levels_num) = 0;
    virtual void SetMinDispValLeft(short min_disp) = 0;

    // Copies the loaded parameters into the per-view settings, then marks the matcher initialised.
    // A failure leaves the flag as it was.
    void InitFromParams();
    bool IsInitialized() const { return m_is_initialized; }

    // The view's disparity range in whole pixels; throw before InitFromParams.
    short GetMaxDispVal(eLeftOrRightView view) const;
    short GetMinDispVal(eLeftOrRightView view) const;

    // Scales the disparity range by a finite factor greater than 0.
    void RescaleParameters(double factor);

    // Both views, integer outputs in whole pixels, floating ones in pixels. images[0] is the left
    // image, images[1] the right; disparities[v] and masks[v] belong to view v. An output of another
    // size is re-created with the image size (logged); its type chooses the output type (CV_16S,
    // CV_32S, CV_32F or CV_64F, one channel, the same for both views).
    void CalcDispTwoSides(const StereoImages& images, StereoDisparities& disparities, const StereoMasks& masks);
    // The same with integer outputs at `scale` units per pixel.
    void CalcDispTwoSidesIntegerScaled(const StereoImages& images, unsigned int scale, StereoDisparities& disparities,
                                       const StereoMasks& masks);
    // Integer outputs at `scale` units per pixel; floating outputs in pixels.
    void CalcDispTwoSidesGeneral(const StereoImages& images, unsigned int scale, StereoDisparities& disparities,
                                 const StereoMasks& masks);

    // One view only; the images keep their roles whatever the view.
    void CalcDispOneSide(const cv::Mat& left, const cv::Mat& right, eLeftOrRightView view, cv::Mat& disparity,
                         cv::Mat_<unsigned char>* mask);
    void CalcDispOneSideIntegerScaled(const cv::Mat& left, const cv::Mat& right, eLeftOrRightView view,
                                      unsigned int scale, cv::Mat& disparity, cv::Mat_<unsigned char>* mask);
    void CalcDispOneSideGeneral(const cv::Mat& left, const cv::Mat& right, eLeftOrRightView view, unsigned int scale,
                                cv::Mat& disparity, cv::Mat_<unsigned char>* mask);

    // Rounds a level count up to a multiple of 16 (the sign of the remainder follows the count).
    static int RoundUpToMultipleOf16(int levels_num);

protected:
    // The whole-pixel range fields of one view's routine settings, owned by the implementation.
    struct ViewRangeFields {
        int* min_disparity;
        int* levels_num;
    };

    // Matches one view from m_input into its m_disp entry.
    virtual void CalcDispOneSideAlgoRun(eLeftOrRightView view) = 0;
    virtual void CalcDispTwoSidesAlgoRun() = 0;
    virtual void InitFromParamsImpl() = 0;
    virtual void ResizeBuffers(const cv::Size_<int>& size) = 0;
    virtual void RescaleParametersImpl(double factor) = 0;
    virtual short GetMaxDispValLeft() const = 0;
    virtual short GetMinDispValLeft() const = 0;
    virtual void TransformDispToInput(const cv::Mat& output, eLeftOrRightView view) = 0;
    virtual void TransformOutputToDispInt(eLeftOrRightView view, unsigned int scale, cv::Mat& output) = 0;
    virtual void TransformOutputToDispFloat(eLeftOrRightView view, cv::Mat& output) = 0;
    virtual void TransformImagesToInput(const cv::Mat& left, const cv::Mat& right) = 0;
    virtual void ResetInput() = 0;
    virtual void GetInvalidPixelsMask(eLeftOrRightView view, cv::Mat_<unsigned char>& mask) = 0;

    // The ranges without the initialisation check.
    short GetMaxDispValImpl(eLeftOrRightView view) const;
    short GetMinDispValImpl(eLeftOrRightView view) const;

    // Checks the pair and the output of one view, then sizes the buffers, the output and the mask.
    void CheckInputAndResizeIfNeed(const cv::Mat& left, const cv::Mat& right, cv::Mat& output,
                                   cv::Mat_<unsigned char>* mask);

    // --- Steps every implementation shares (call them from the overrides) ---

    // Sets both views' ranges from the left minimum and a requested level count: m_disp_levels_num
    // := levels_num, both level counts := RoundUpToMultipleOf16(levels_num), the right minimum :=
    // -(maxL). No initialisation check (for InitFromParamsImpl). A level count below 1 or a range
    // outside the 16-bit representation throws and changes nothing.
    void SetRangesCommon(int min_disp_left, int levels_num, ViewRangeFields left, ViewRangeFields right);
    // SetDispLevelsNum: requires an initialised matcher.
    void SetDispLevelsNumCommon(short levels_num, ViewRangeFields left, ViewRangeFields right);
    // SetMinDispValLeft: requires an initialised matcher; keeps the level count.
    void SetMinDispValLeftCommon(short min_disp, ViewRangeFields left, ViewRangeFields right);
    // RescaleParametersImpl: the left minimum and the requested level count scaled and rounded half
    // away from zero.
    void RescaleParametersCommon(double factor, ViewRangeFields left, ViewRangeFields right);

    // TransformDispToInput: a CV_16SC1 output becomes the view's m_disp (the routine writes into
    // it), any other output leaves m_disp on the view's own buffer.
    void TransformDispToInputCommon(const cv::Mat& output, eLeftOrRightView view);
    // TransformOutputToDispInt: the internal map at `scale` units per pixel into the output.
    void TransformOutputToDispIntCommon(eLeftOrRightView view, unsigned int scale, cv::Mat& output);
    // TransformOutputToDispFloat: the internal map in pixels into the floating output.
    void TransformOutputToDispFloatCommon(eLeftOrRightView view, cv::Mat& output);
    // GetInvalidPixelsMask: 255 where the internal map holds the view's invalid marker, else 0.
    void GetInvalidPixelsMaskCommon(eLeftOrRightView view, cv::Mat_<unsigned char>& mask);
    // The disparity half of ResetInput: every m_disp entry back on its own buffer.
    void ResetDispToBuffers();
    // Sizes each view's m_disp_buffer (CV_16SC1), re-creating it only when it differs.
    void ResizeDispBuffers(const cv::Size& size);

    // Per-view state shared by every implementation; the routine settings stay with it.
    std::array<cv::Mat, kViewsNum> m_input;          // the image the view's routine takes as reference
    std::array<cv::Mat, kViewsNum> m_disp;           // the internal 16-bit map the routine writes
    std::array<cv::Mat, kViewsNum> m_disp_buffer;    // own 16-bit map, used when the output is not CV_16SC1
    std::array<bool, kViewsNum> m_disp_is_output{};  // m_disp shares the caller's output
    int m_disp_levels_num = 0;                       // the level count last requested, before rounding

private:
    void CheckInitialized(const char* id) const;
    // Refuses an integer output whose type cannot hold the view's range at `scale`.
    void CheckOutputScale(eLeftOrRightView view, unsigned int scale, const cv::Mat& output) const;
    void ConvertOutput(eLeftOrRightView view, unsigned int scale, cv::Mat& output, cv::Mat_<unsigned char>* mask);

    bool m_is_initialized = false;
    cv::Size m_frame_size{0, 0};  // the size the buffers are sized for
};

}  // namespace stereo
