#include "StereoAnalyzer/StereoMatchers/stereo_matcher_adapter.h"

#include <cmath>
#include <cstdint>
#include <limits>

#include "CommonUtilities/algorithm_support/kiv_exception.h"
#include "CommonUtilities/algorithm_support/rounding.h"
#include "StereoAnalyzer/StereoMatchers/disparity_conversions.h"

namespace stereo {

namespace {

bool IsFloatingDepth(int depth)
{
    return depth == CV_32F || depth == CV_64F;
}

// Whether two matrices have elements in common (views into one buffer that do not overlap, such
// as two halves of one matrix, have none).
bool SharesMemory(const cv::Mat& a, const cv::Mat& b)
{
    if (!a.data || !b.data || a.empty() || b.empty())
        return false;
    // Byte span of each row, and of the whole matrix from its first element to past its last.
    const auto row_bytes = [](const cv::Mat& m) { return static_cast<uintptr_t>(m.cols) * m.elemSize(); };
    const auto row_start = [](const cv::Mat& m, int r) { return reinterpret_cast<uintptr_t>(m.ptr(r)); };
    const auto overlap = [](uintptr_t a0, uintptr_t a1, uintptr_t b0, uintptr_t b1) { return a0 < b1 && b0 < a1; };
    if (!overlap(row_start(a, 0), row_start(a, a.rows - 1) + row_bytes(a), row_start(b, 0),
                 row_start(b, b.rows - 1) + row_bytes(b)))
        return false;
    for (int i = 0; i < a.rows; ++i) {
        for (int k = 0; k < b.rows; ++k) {
            if (overlap(row_start(a, i), row_start(a, i) + row_bytes(a), row_start(b, k),
                        row_start(b, k) + row_bytes(b)))
                return true;
        }
    }
    return false;
}

}  // namespace

int StereoMatcherAdapter::RoundUpToMultipleOf16(int levels_num)
{
    const int remainder = levels_num % 16;
    return levels_num - remainder + (remainder != 0 ? 16 : 0);
}

void StereoMatcherAdapter::InitFromParams()
{
    InitFromParamsImpl();
    m_is_initialized = true;
}

void StereoMatcherAdapter::CheckInitialized(const char* id) const
{
    KIV_CHECK(m_is_initialized, id) << "the stereo matcher is not initialised";
}

short StereoMatcherAdapter::GetMaxDispValImpl(eLeftOrRightView view) const
{
    return view == kLeftView ? GetMaxDispValLeft() : static_cast<short>(-GetMinDispValLeft());
}

short StereoMatcherAdapter::GetMinDispValImpl(eLeftOrRightView view) const
{
    return view == kLeftView ? GetMinDispValLeft() : static_cast<short>(-GetMaxDispValLeft());
}

short StereoMatcherAdapter::GetMaxDispVal(eLeftOrRightView view) const
{
    CheckInitialized("MatcherMaxDispNotInit_091226_082001");
    return GetMaxDispValImpl(view);
}

short StereoMatcherAdapter::GetMinDispVal(eLeftOrRightView view) const
{
    CheckInitialized("MatcherMinDispNotInit_091226_082002");
    return GetMinDispValImpl(view);
}

void StereoMatcherAdapter::RescaleParameters(double factor)
{
    KIV_CHECK(factor > 0 && std::isfinite(factor), "MatcherRescaleFactor_091226_082003")
        << "the factor must be finite and greater than 0:" << factor;
    CheckInitialized("MatcherRescaleNotInit_091226_082004");
    RescaleParametersImpl(factor);
}

void StereoMatcherAdapter::CalcDispTwoSides(const StereoImages& images, StereoDisparities& disparities,
                                            const StereoMasks& masks)
{
    CalcDispTwoSidesGeneral(images, 1, disparities, masks);
}

void StereoMatcherAdapter::CalcDispTwoSidesIntegerScaled(const StereoImages& images, unsigned int scale,
                                                         StereoDisparities& disparities, const StereoMasks& masks)
{
    for (const cv::Mat& disparity : disparities) {
        KIV_CHECK(!IsFloatingDepth(disparity.depth()), "MatcherScaledType_091226_082005")
            << "Type of scaled disparity must be short or int";
    }
    CalcDispTwoSidesGeneral(images, scale, disparities, masks);
}

void StereoMatcherAdapter::CalcDispTwoSidesGeneral(const StereoImages& images, unsigned int scale,
                                                   StereoDisparities& disparities, const StereoMasks& masks)
{
    KIV_CHECK(disparities[kLeftView].type() == disparities[kRightView].type(), "MatcherOutputTypes_091226_082006")
        << "the two disparity outputs differ in type";
    KIV_CHECK(!SharesMemory(disparities[kLeftView], disparities[kRightView]), "MatcherOutputsShared_091226_082007")
        << "the two disparity outputs share memory";
    CheckOutputScale(kLeftView, scale, disparities[kLeftView]);
    CheckOutputScale(kRightView, scale, disparities[kRightView]);

    CheckInputAndResizeIfNeed(images[kLeftView], images[kRightView], disparities[kLeftView], masks[kLeftView]);
    CheckInputAndResizeIfNeed(images[kLeftView], images[kRightView], disparities[kRightView], masks[kRightView]);
    TransformImagesToInput(images[kLeftView], images[kRightView]);
    TransformDispToInput(disparities[kLeftView], kLeftView);
    TransformDispToInput(disparities[kRightView], kRightView);
    CalcDispTwoSidesAlgoRun();
    ConvertOutput(kLeftView, scale, disparities[kLeftView], masks[kLeftView]);
    ConvertOutput(kRightView, scale, disparities[kRightView], masks[kRightView]);
    ResetInput();
}

void StereoMatcherAdapter::CalcDispOneSide(const cv::Mat& left, const cv::Mat& right, eLeftOrRightView view,
                                           cv::Mat& disparity, cv::Mat_<unsigned char>* mask)
{
    CalcDispOneSideGeneral(left, right, view, 1, disparity, mask);
}

void StereoMatcherAdapter::CalcDispOneSideIntegerScaled(const cv::Mat& left, const cv::Mat& right,
                                                        eLeftOrRightView view, unsigned int scale, cv::Mat& disparity,
                                                        cv::Mat_<unsigned char>* mask)
{
    KIV_CHECK(!IsFloatingDepth(disparity.depth()), "MatcherScaledType_091226_082008")
        << "Type of scaled disparity must be short or int";
    CalcDispOneSideGeneral(left, right, view, scale, disparity, mask);
}

void StereoMatcherAdapter::CalcDispOneSideGeneral(const cv::Mat& left, const cv::Mat& right, eLeftOrRightView view,
                                                  unsigned int scale, cv::Mat& disparity, cv::Mat_<unsigned char>* mask)
{
    KIV_CHECK(view == kLeftView || view == kRightView, "MatcherView_091226_082009") << "unknown view:" << int(view);
    CheckOutputScale(view, scale, disparity);
    CheckInputAndResizeIfNeed(left, right, disparity, mask);
    TransformImagesToInput(left, right);
    TransformDispToInput(disparity, view);
    CalcDispOneSideAlgoRun(view);
    ConvertOutput(view, scale, disparity, mask);
    ResetInput();
}

void StereoMatcherAdapter::CheckOutputScale(eLeftOrRightView view, unsigned int scale, const cv::Mat& output) const
{
    KIV_CHECK(scale >= 1, "MatcherScaleZero_091226_082010") << "the output scale must be at least 1";
    const int depth = output.depth();
    if (depth != CV_16S && depth != CV_32S)
        return;  // floating outputs are in pixels; other types are refused by the input check
    KIV_CHECK(scale <= static_cast<unsigned int>(std::numeric_limits<int>::max()), "MatcherScaleRange_091226_082011")
        << "the output scale must lie in 1..INT_MAX:" << static_cast<double>(scale);
    // The scaled range, the invalid marker included, must fit the output's element type.
    const long long low = (static_cast<long long>(GetMinDispVal(view)) - 1) * scale;
    const long long high = static_cast<long long>(GetMaxDispVal(view)) * scale;
    const long long limit_low = depth == CV_16S ? std::numeric_limits<short>::min() : std::numeric_limits<int>::min();
    const long long limit_high = depth == CV_16S ? std::numeric_limits<short>::max() : std::numeric_limits<int>::max();
    KIV_CHECK(low >= limit_low && high <= limit_high, "MatcherScaleTooLarge_091226_082012")
        << "the disparity range at this scale does not fit the output type; scale:" << static_cast<double>(scale);
}

void StereoMatcherAdapter::CheckInputAndResizeIfNeed(const cv::Mat& left, const cv::Mat& right, cv::Mat& output,
                                                     cv::Mat_<unsigned char>* mask)
{
    CheckInitialized("MatcherInputNotInit_091226_082013");
    KIV_CHECK(left.size() == right.size(), "MatcherInputSizes_091226_082014")
        << "left" << left.cols << "x" << left.rows << ", right" << right.cols << "x" << right.rows;
    KIV_CHECK(static_cast<long long>(left.rows) * left.cols != 0, "MatcherInputEmpty_091226_082015")
        << "the images are empty";
    KIV_CHECK(left.type() == right.type(), "MatcherInputTypes_091226_082016") << "the images differ in type";
    const int depth = output.depth();
    KIV_CHECK(depth != CV_8U && depth != CV_8S, "MatcherOutput8bit_091226_082017")
        << "8 bits are not enough to store disparity values";
    KIV_CHECK(depth != CV_16U, "MatcherOutputUnsigned_091226_082018") << "disparity must be stored in signed type";
    KIV_CHECK(output.channels() == 1, "MatcherOutputChannels_091226_082019")
        << "disparity must be stored in single channel matrix";

    const cv::Size size = left.size();
    if (m_frame_size.area() <= 0) {
        m_frame_size = size;
        ResizeBuffers(m_frame_size);
    } else if (m_frame_size != size) {
        Log(kKivLogWarning) << "CheckInputAndResizeIfNeed: buffers are resized. May be time consuming.";
        m_frame_size = size;
        ResizeBuffers(m_frame_size);
    }
    if (output.size() != size || output.dims > 2) {
        Log(kKivLogWarning) << "CheckInputAndResizeIfNeed: memory for disparity output is allocated inside function.";
        output.create(size, CV_MAKETYPE(depth, 1));
    }
    if (mask && mask->size() != size) {
        Log(kKivLogWarning) << "CheckInputAndResizeIfNeed: memory for invalid_disp_mask is allocated inside function.";
        mask->create(size);
    }
}

void StereoMatcherAdapter::ConvertOutput(eLeftOrRightView view, unsigned int scale, cv::Mat& output,
                                         cv::Mat_<unsigned char>* mask)
{
    // The mask reads the internal map, which a CV_16S output at another scale shares and which the
    // conversion below rescales in place: the mask comes first.
    if (mask)
        GetInvalidPixelsMask(view, *mask);
    if (IsFloatingDepth(output.depth()))
        TransformOutputToDispFloat(view, output);
    else
        TransformOutputToDispInt(view, scale, output);
}

// --- Steps every implementation shares ---

void StereoMatcherAdapter::SetRangesCommon(int min_disp_left, int levels_num, ViewRangeFields left,
                                           ViewRangeFields right)
{
    KIV_CHECK(levels_num >= 1, "MatcherLevelsNum_091226_082020") << "the level count must be at least 1:" << levels_num;
    const long long rounded = (static_cast<long long>(levels_num) + 15) / 16 * 16;
    const long long max_left = static_cast<long long>(min_disp_left) + rounded - 1;
    KIV_CHECK(min_disp_left >= -kMaxAbsDispVal && max_left <= kMaxAbsDispVal, "MatcherDispRange_091226_082021")
        << "the disparity range must lie in [-2046, 2046]; minimum:" << min_disp_left
        << ", levels:" << static_cast<double>(rounded);
    m_disp_levels_num = levels_num;
    *left.min_disparity = min_disp_left;
    *left.levels_num = static_cast<int>(rounded);
    *right.levels_num = static_cast<int>(rounded);
    *right.min_disparity = static_cast<int>(-max_left);
}

void StereoMatcherAdapter::SetDispLevelsNumCommon(short levels_num, ViewRangeFields left, ViewRangeFields right)
{
    CheckInitialized("MatcherLevelsNotInit_091226_082022");
    SetRangesCommon(*left.min_disparity, levels_num, left, right);
}

void StereoMatcherAdapter::SetMinDispValLeftCommon(short min_disp, ViewRangeFields left, ViewRangeFields right)
{
    CheckInitialized("MatcherMinDispSetNotInit_091226_082023");
    const int requested = m_disp_levels_num;
    SetRangesCommon(min_disp, *left.levels_num, left, right);
    m_disp_levels_num = requested;
}

void StereoMatcherAdapter::RescaleParametersCommon(double factor, ViewRangeFields left, ViewRangeFields right)
{
    KIV_CHECK(factor > 0 && std::isfinite(factor), "MatcherRescaleImplFactor_091226_082024")
        << "the factor must be finite and greater than 0:" << factor;
    SetRangesCommon(AlgoLibrary::RoundHalfAwayFromZero(*left.min_disparity * factor),
                    AlgoLibrary::RoundHalfAwayFromZero(m_disp_levels_num * factor), left, right);
}

void StereoMatcherAdapter::TransformDispToInputCommon(const cv::Mat& output, eLeftOrRightView view)
{
    if (output.type() == CV_16SC1) {
        m_disp[view] = output;
        m_disp_is_output[view] = true;
    } else {
        m_disp[view] = m_disp_buffer[view];
        m_disp_is_output[view] = false;
    }
}

void StereoMatcherAdapter::TransformOutputToDispIntCommon(eLeftOrRightView view, unsigned int scale, cv::Mat& output)
{
    if (m_disp_is_output[view] && scale == kInternalScale)
        return;
    RescaleDisparityInt(m_disp[view], kInternalScale, scale, output);
}

void StereoMatcherAdapter::TransformOutputToDispFloatCommon(eLeftOrRightView view, cv::Mat& output)
{
    DivideDisparity(m_disp[view], static_cast<double>(kInternalScale), output);
}

void StereoMatcherAdapter::GetInvalidPixelsMaskCommon(eLeftOrRightView view, cv::Mat_<unsigned char>& mask)
{
    KIV_CHECK(mask.size() == m_disp[view].size(), "MatcherMaskSize_091226_082025")
        << "the mask differs in size from the disparity map";
    const int marker = (static_cast<int>(GetMinDispVal(view)) - 1) * static_cast<int>(kInternalScale);
    const short marker16 = static_cast<short>(static_cast<uint16_t>(static_cast<unsigned int>(marker)));
    cv::compare(m_disp[view], cv::Scalar(marker16), mask, cv::CMP_EQ);
}

void StereoMatcherAdapter::ResetDispToBuffers()
{
    for (int view = 0; view < kViewsNum; ++view) {
        m_disp[view] = m_disp_buffer[view];
        m_disp_is_output[view] = false;
    }
}

void StereoMatcherAdapter::ResizeDispBuffers(const cv::Size& size)
{
    for (cv::Mat& buffer : m_disp_buffer) {
        if (buffer.size() != size || buffer.type() != CV_16SC1)
            buffer.create(size, CV_16SC1);
    }
}

}  // namespace stereo
