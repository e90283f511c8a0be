#include "StereoAnalyzer/StereoMatchers/stereo_matcher_bm.h"

#include <opencv2/imgproc.hpp>
#include <string>

#include "CommonUtilities/ParameterAccess/parameter_range.h"
#include "CommonUtilities/algorithm_support/kiv_exception.h"

namespace stereo {

void StereoMatcherBM::InitializeDefaultParameters()
{
    const auto declare = [this](ParamsLib::IntValueParam<>& parameter, const char* name, const char* brief,
                                int default_value) {
        parameter.InitWithDefault(name, brief, std::to_string(default_value));
        RegisterParameter(&parameter);
    };
    declare(m_sad_window_size, "BM_SAD_window_size", "BM : Window size used for aggregating matching cost", 9);
    declare(m_min_disparity, "BM_min_disparity", "BM : Minimum disparity value", 0);
    declare(m_disparity_levels, "BM_disparity_levels", "BM : Number of disparity levels", 100);
    declare(m_texture_threshold, "BM_texture_threshold", "BM : Threshold for deciding if area is textured", 0);
    declare(m_prefilter_cap, "BM_prefilter_cap",
            "BM : Truncation value for the prefiltered image pixels.The algorithm first computes x-derivative at each "
            "pixel and clips its value by m_prefilter_cap",
            31);
    declare(m_un_ratio, "BM_un_ratio", "BM : How much must winning match be better than others", 0);
    declare(m_disp12_max_diff, "BM_disp12_max_diff", "BM : Threshold for left-right consistency check", -1);
    declare(m_speckle_win_size, "BM_speckle_win_size", "BM : Maximum speckle size", 0);
    declare(m_speckle_range, "BM_speckle_range", "BM : Range of disparity in speckle", 32);
}

StereoMatcherAdapter::ViewRangeFields StereoMatcherBM::Fields(eLeftOrRightView view)
{
    CvStereoBMState& state = *m_matchers[view].state;
    return ViewRangeFields{&state.minDisparity, &state.numberOfDisparities};
}

void StereoMatcherBM::InitFromParamsImpl()
{
    // Everything is read and checked first: a refused set leaves the previous settings as they were.
    const int window = m_sad_window_size();
    const int min_disparity = m_min_disparity();
    const int levels = m_disparity_levels();
    const int texture = m_texture_threshold();
    const int cap = m_prefilter_cap();
    const int uniqueness = m_un_ratio();
    const int max_diff = m_disp12_max_diff();
    const int speckle_window = m_speckle_win_size();
    const int speckle_range = m_speckle_range();

    // The ranges the block-matching routine works in, refused here with the parameter's name
    // rather than at the first pair.
    using ParamsLib::CheckWorkingRange;
    using ParamsLib::WorkingRange;
    const BlockEntities::Context& context = GetContext();
    const std::string levels_refusal = CheckWorkingRange(m_disparity_levels, context, WorkingRange::AtLeast(1));
    KIV_CHECK(levels_refusal.empty(), "BMDispLevels_091226_083001") << levels_refusal;
    const std::string window_refusal =
        CheckWorkingRange(m_sad_window_size, context, WorkingRange::Closed(5, 255), window % 2 == 1 ? "" : "and odd");
    KIV_CHECK(window_refusal.empty() && window % 2 == 1, "BMWindowPositive_091226_083002")
        << (window_refusal.empty()
                ? "Parameter " + ParamsLib::NameAndValue(m_sad_window_size, context) + " cannot work: it must be odd"
                : window_refusal);
    for (const std::string& refusal : {CheckWorkingRange(m_prefilter_cap, context, WorkingRange::Closed(1, 63)),
                                       CheckWorkingRange(m_texture_threshold, context, WorkingRange::AtLeast(0)),
                                       CheckWorkingRange(m_un_ratio, context, WorkingRange::AtLeast(0))})
        KIV_CHECK(refusal.empty(), "BMParameterRange_091226_083006") << refusal;

    int min_left = 0, levels_left = 0, min_right = 0, levels_right = 0;
    SetRangesCommon(min_disparity, levels, ViewRangeFields{&min_left, &levels_left},
                    ViewRangeFields{&min_right, &levels_right});

    for (int view = 0; view < kViewsNum; ++view) {
        // The right record copies the left one's settings, never its buffers.
        CvStereoBMState& state = *m_matchers[view].state;
        state.SADWindowSize = window;
        state.textureThreshold = texture;
        state.preFilterCap = cap;
        state.uniquenessRatio = uniqueness;
        state.disp12MaxDiff = max_diff;
        state.speckleWindowSize = speckle_window;
        state.speckleRange = speckle_range;
        state.preFilterType = m_matchers[kLeftView].state->preFilterType;
        state.preFilterSize = m_matchers[kLeftView].state->preFilterSize;
        state.trySmallerWindows = m_matchers[kLeftView].state->trySmallerWindows;
    }
    m_matchers[kLeftView].state->minDisparity = min_left;
    m_matchers[kLeftView].state->numberOfDisparities = levels_left;
    m_matchers[kRightView].state->minDisparity = min_right;
    m_matchers[kRightView].state->numberOfDisparities = levels_right;
}

void StereoMatcherBM::SetDispLevelsNum(short levels_num)
{
    SetDispLevelsNumCommon(levels_num, Fields(kLeftView), Fields(kRightView));
}

void StereoMatcherBM::SetMinDispValLeft(short min_disp)
{
    SetMinDispValLeftCommon(min_disp, Fields(kLeftView), Fields(kRightView));
}

void StereoMatcherBM::RescaleParametersImpl(double factor)
{
    RescaleParametersCommon(factor, Fields(kLeftView), Fields(kRightView));
}

short StereoMatcherBM::GetMaxDispValLeft() const
{
    const CvStereoBMState& state = *m_matchers[kLeftView].state;
    return static_cast<short>(state.minDisparity + state.numberOfDisparities - 1);
}

short StereoMatcherBM::GetMinDispValLeft() const
{
    return static_cast<short>(m_matchers[kLeftView].state->minDisparity);
}

void StereoMatcherBM::ResizeBuffers(const cv::Size_<int>& size)
{
    for (int view = 0; view < kViewsNum; ++view) {
        if (m_gray[view].size() != size || m_gray[view].type() != CV_8UC1)
            m_gray[view].create(size, CV_8UC1);
    }
    ResizeDispBuffers(size);
}

void StereoMatcherBM::TransformImagesToInput(const cv::Mat& left, const cv::Mat& right)
{
    KIV_CHECK(left.depth() == CV_8U && right.depth() == CV_8U, "BMInputDepth_091226_083004")
        << "Only 8bit images are supported now. Write conversion to input format by yourself if you need";
    switch (left.channels()) {
        case 1:
            m_input[kLeftView] = left;
            m_input[kRightView] = right;
            return;
        case 3:
            cv::cvtColor(left, m_gray[kLeftView], cv::COLOR_BGR2GRAY);
            cv::cvtColor(right, m_gray[kRightView], cv::COLOR_BGR2GRAY);
            break;
        case 4:
            cv::cvtColor(left, m_gray[kLeftView], cv::COLOR_BGRA2GRAY);
            cv::cvtColor(right, m_gray[kRightView], cv::COLOR_BGRA2GRAY);
            break;
        default:
            KIV_CHECK(false, "BMInputChannels_091226_083005") << "format is not supported";
    }
    m_input[kLeftView] = m_gray[kLeftView];
    m_input[kRightView] = m_gray[kRightView];
}

void StereoMatcherBM::CalcDispOneSideAlgoRun(eLeftOrRightView view)
{
    const eLeftOrRightView other = view == kLeftView ? kRightView : kLeftView;
    m_matchers[view](m_input[view], m_input[other], m_disp[view], CV_16S);
}

void StereoMatcherBM::TransformDispToInput(const cv::Mat& output, eLeftOrRightView view)
{
    TransformDispToInputCommon(output, view);
}

void StereoMatcherBM::TransformOutputToDispInt(eLeftOrRightView view, unsigned int scale, cv::Mat& output)
{
    TransformOutputToDispIntCommon(view, scale, output);
}

void StereoMatcherBM::TransformOutputToDispFloat(eLeftOrRightView view, cv::Mat& output)
{
    TransformOutputToDispFloatCommon(view, output);
}

void StereoMatcherBM::GetInvalidPixelsMask(eLeftOrRightView view, cv::Mat_<unsigned char>& mask)
{
    GetInvalidPixelsMaskCommon(view, mask);
}

void StereoMatcherBM::ResetInput()
{
    ResetDispToBuffers();
    for (int view = 0; view < kViewsNum; ++view) m_input[view] = m_gray[view];
}

}  // namespace stereo
