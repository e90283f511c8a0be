#include "StereoAnalyzer/StereoMatchers/stereo_matcher_sgbm.h"

#include <algorithm>
#include <cstdint>

#include "CommonUtilities/algorithm_support/kiv_exception.h"

namespace stereo {
namespace {

// P1 and P2 per unit of window area and channel.
constexpr int kP1PerUnit = 8;
constexpr int kP2PerUnit = 32;

eLeftOrRightView Other(eLeftOrRightView view)
{
    return view == kLeftView ? kRightView : kLeftView;
}

}  // namespace

StereoMatcherSGBM::StereoMatcherSGBM() = default;

StereoMatcherSGBM::~StereoMatcherSGBM() = default;

void StereoMatcherSGBM::InitializeDefaultParameters()
{
    InitValueParameterStringDefault(m_sad_window_size, "", "", "SGBM_SAD_window_size",
                                    "SGBM : Window size used for aggregating matching cost", "", "1");
    InitValueParameterStringDefault(m_min_disparity, "", "", "SGBM_min_disparity", "SGBM : Minimum disparity value", "",
                                    "0");
    InitValueParameterStringDefault(m_disparity_levels, "", "", "SGBM_disparity_levels",
                                    "SGBM : Number of disparity levels", "", "320");
    InitValueParameterStringDefault(m_prefilter_cap, "", "", "SGBM_prefilter_cap",
                                    "SGBM : Truncation value for the prefiltered image pixels.The algorithm first "
                                    "computes x-derivative at each pixel and clips its value by m_prefilter_cap",
                                    "", "12");
    InitValueParameterStringDefault(m_un_ratio, "", "", "SGBM_un_ratio",
                                    "SGBM : How much must winning match be better than others", "", "1");
    InitValueParameterStringDefault(m_disp12_max_diff, "", "", "SGBM_disp12_max_diff",
                                    "SGBM : Threshold for left-right consistency check", "", "0");
    InitValueParameterStringDefault(m_speckle_win_size, "", "", "SGBM_speckle_win_size", "SGBM : Maximum speckle size",
                                    "", "0");
    InitValueParameterStringDefault(m_speckle_range, "", "", "SGBM_speckle_range",
                                    "SGBM : Range of disparity in speckle", "", "32");
    InitValueParameterStringDefault(m_full_dp, "", "", "SGBM_full_DP", "SGBM : Use full dp or not", "", "false");
}

StereoMatcherAdapter::ViewRangeFields StereoMatcherSGBM::Fields(eLeftOrRightView view)
{
    return {&m_matchers[view].minDisparity, &m_matchers[view].numberOfDisparities};
}

void StereoMatcherSGBM::InitFromParamsImpl()
{
    const int window = m_sad_window_size();
    const int min_disparity = m_min_disparity();
    const int levels = m_disparity_levels();
    const int prefilter_cap = m_prefilter_cap();
    const int un_ratio = m_un_ratio();
    const int disp12_max_diff = m_disp12_max_diff();
    const int speckle_win_size = m_speckle_win_size();
    const int speckle_range = m_speckle_range();
    const bool full_dp = m_full_dp();

    // Everything is checked before anything is written, so a failed re-initialisation keeps the
    // previous settings.
    KIV_CHECK(levels >= 1, "SGBMLevelsNum_261209_081000") << "SGBM_disparity_levels must be at least 1:" << levels;
    KIV_CHECK(window > 0, "SGBMWindowSize_261209_081001") << "SGBM_SAD_window_size must be positive:" << window;
    KIV_CHECK(window % 2 == 1, "SGBMWindowOdd_261209_081002") << "SGBM_SAD_window_size must be odd:" << window;
    KIV_CHECK(prefilter_cap <= 127, "SGBMPrefilterCap_261209_081003")
        << "SGBM_prefilter_cap above 127 overflows the clip table:" << prefilter_cap;
    // The 16-bit path costs of grey input (colour input is checked by the routine at every run):
    // the largest block cost plus P2.
    const int64_t area = static_cast<int64_t>(window) * window;
    const int64_t ftzero = std::max(prefilter_cap, 15) | 1;
    const int64_t path_max = area * (2 * ftzero + 63) + kP2PerUnit * area;
    KIV_CHECK(path_max <= 32767, "SGBMCostOverflow_261209_081004")
        << "SGBM_SAD_window_size and SGBM_prefilter_cap let the 16-bit path costs overflow: window" << window
        << "prefilter cap" << prefilter_cap;

    SetRangesCommon(min_disparity, levels, Fields(kLeftView), Fields(kRightView));
    for (StereoSGBMWithoutStripes& matcher : m_matchers) {
        matcher.SADWindowSize = window;
        matcher.preFilterCap = prefilter_cap;
        matcher.fullDP = full_dp;
        matcher.uniquenessRatio = un_ratio;
        matcher.speckleWindowSize = speckle_win_size;
        matcher.speckleRange = speckle_range;
        matcher.disp12MaxDiff = disp12_max_diff;
    }
}

void StereoMatcherSGBM::SetDispLevelsNum(short levels_num)
{
    SetDispLevelsNumCommon(levels_num, Fields(kLeftView), Fields(kRightView));
}

void StereoMatcherSGBM::SetMinDispValLeft(short min_disp)
{
    SetMinDispValLeftCommon(min_disp, Fields(kLeftView), Fields(kRightView));
}

void StereoMatcherSGBM::RescaleParametersImpl(double factor)
{
    RescaleParametersCommon(factor, Fields(kLeftView), Fields(kRightView));
}

short StereoMatcherSGBM::GetMaxDispValLeft() const
{
    const StereoSGBMWithoutStripes& left = m_matchers[kLeftView];
    return static_cast<short>(left.minDisparity + left.numberOfDisparities - 1);
}

short StereoMatcherSGBM::GetMinDispValLeft() const
{
    return static_cast<short>(m_matchers[kLeftView].minDisparity);
}

void StereoMatcherSGBM::ResizeBuffers(const cv::Size_<int>& size)
{
    for (const eLeftOrRightView view : {kLeftView, kRightView}) {
        m_colour[view].create(size, CV_8UC3);
        m_alpha[view].create(size, CV_8UC1);
    }
    ResizeDispBuffers(size);
    for (const eLeftOrRightView view : {kLeftView, kRightView}) {
        m_disp[view] = m_disp_buffer[view];
        m_input[view] = m_colour[view];
    }
}

void StereoMatcherSGBM::TransformImagesToInput(const cv::Mat& left, const cv::Mat& right)
{
    KIV_CHECK(left.depth() == CV_8U && right.depth() == CV_8U, "SGBMInputDepth_261209_081010")
        << "Only 8bit images are supported now. Write conversion to input format by yourself if you need";
    switch (left.channels()) {
        case 1:
        case 3:
            m_input[kLeftView] = left;
            m_input[kRightView] = right;
            break;
        case 4: {
            const int pairs[] = {0, 0, 1, 1, 2, 2, 3, 3};
            const cv::Mat* sources[] = {&left, &right};
            for (const eLeftOrRightView view : {kLeftView, kRightView}) {
                cv::Mat destinations[] = {m_colour[view], m_alpha[view]};
                cv::mixChannels(sources[view], 1, destinations, 2, pairs, 4);
                m_input[view] = m_colour[view];
            }
            break;
        }
        default:
            KIV_CHECK(false, "SGBMInputChannels_261209_081011") << "format is not supported";
    }
}

void StereoMatcherSGBM::CalcDispOneSideAlgoRun(eLeftOrRightView view)
{
    // Only this view's routine is written here: the other view runs concurrently.
    StereoSGBMWithoutStripes& matcher = m_matchers[view];
    const int window = matcher.SADWindowSize;
    const int units = m_input[view].channels() * window * window;
    matcher.P1 = kP1PerUnit * units;
    matcher.P2 = kP2PerUnit * units;
    matcher(m_input[view], m_input[Other(view)], m_disp[view]);
}

void StereoMatcherSGBM::ResetInput()
{
    ResetDispToBuffers();
    for (const eLeftOrRightView view : {kLeftView, kRightView}) m_input[view] = m_colour[view];
}

void StereoMatcherSGBM::TransformDispToInput(const cv::Mat& output, eLeftOrRightView view)
{
    TransformDispToInputCommon(output, view);
}

void StereoMatcherSGBM::TransformOutputToDispInt(eLeftOrRightView view, unsigned int scale, cv::Mat& output)
{
    TransformOutputToDispIntCommon(view, scale, output);
}

void StereoMatcherSGBM::TransformOutputToDispFloat(eLeftOrRightView view, cv::Mat& output)
{
    TransformOutputToDispFloatCommon(view, output);
}

void StereoMatcherSGBM::GetInvalidPixelsMask(eLeftOrRightView view, cv::Mat_<unsigned char>& mask)
{
    GetInvalidPixelsMaskCommon(view, mask);
}

}  // namespace stereo
