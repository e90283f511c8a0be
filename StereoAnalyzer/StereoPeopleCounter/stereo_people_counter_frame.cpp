// The per-pair pipeline of the stereo analyser: rectification, disparity, heights, filters, heads,
// tracking and crossings.

#include <algorithm>
#include <cmath>
#include <opencv2/imgproc.hpp>

#include "CommonUtilities/algorithm_support/cimage_cvmat.h"
#include "CommonUtilities/algorithm_support/kiv_exception.h"
#include "StereoAnalyzer/StereoMatchers/views_in_parallel.h"
#include "StereoAnalyzer/StereoPeopleCounter/head_candidates.h"
#include "StereoAnalyzer/StereoPeopleCounter/left_right_check.h"
#include "StereoAnalyzer/StereoPeopleCounter/median_filters_collection.h"
#include "StereoAnalyzer/StereoPeopleCounter/median_filters_opencv.h"
#include "StereoAnalyzer/StereoPeopleCounter/scene_3d_reconstructor.h"
#include "StereoAnalyzer/StereoPeopleCounter/stereo_people_counter.h"

namespace stereo {

namespace {

inline uchar RoundToByte(double value)
{
    const double rounded = value > 0 ? std::trunc(value + 0.5) : std::trunc(value - 0.5);
    return static_cast<uchar>(std::clamp(rounded, 0.0, 255.0));
}

}  // namespace

void StereoPeopleCounter::ProcessStereoPair(const cv::Mat& left, const cv::Mat& right, bool debug, long long time)
{
    CheckInitialized("StereoCounterNotInitialized_200811_140201");
    KIV_CHECK(left.size() == right.size(), "StereoCounterViewSizes_200811_140202")
        << "left " << left.cols << "x" << left.rows << ", right " << right.cols << "x" << right.rows;
    KIV_CHECK(left.type() == right.type(), "StereoCounterViewTypes_200811_140203")
        << "left type " << left.type() << ", right type " << right.type();
    if (left.size() != m_input_views[kLeftView].size() || m_input_views[kLeftView].empty())
        InitAll(left.size());

    if (m_frame_counter == 0) {
        Log(kKivLogInfo) << "Processing first stereo-pair with timestamp " << time;
        m_time_difference = 0;
    } else {
        m_time_difference = time - m_previous_time;
    }
    m_previous_time = time;
    m_time = time;
    ++m_frame_counter;
    m_debug_output = debug || (m_write_debug_video() && m_frame_counter < m_debug_video_frames_num());

    const long long ticks = cv::getTickCount();
    if (m_frame_counter != 1)
        StatValueDouble("Time between function calls",
                        static_cast<double>(ticks - m_previous_ticks) / cv::getTickFrequency() * 1000.0);
    m_previous_ticks = ticks;

    m_input_views[kLeftView] = left;
    m_input_views[kRightView] = right;
    m_arena.execute([this] { ProcessStereoPairImpl(); });

    if (m_write_debug_video() || m_marking_mode()) {
        const long long n = m_marking_mode() ? m_marking_frames_num() : m_debug_video_frames_num();
        if (m_frame_counter < n)
            WriteVideoOutput();
        if (m_frame_counter == n)
            EndOutput();
    }
    WriteInputVideo();
}

void StereoPeopleCounter::ProcessStereoPairImpl()
{
    auto all = StatScopedTimeCalculator("All algorithm");
    {
        auto timer = StatScopedTimeCalculator("Allocate buffers");
        EnsureBuffersAllocated();
    }
    {
        auto timer = StatScopedTimeCalculator("Resize");
        const int interpolation = m_processing_size.area() < m_input_size.area() ? cv::INTER_AREA : cv::INTER_CUBIC;
        RunBothViewsInParallel([&](eLeftOrRightView v) {
            const cv::Mat* gray = &m_input_views[v];
            if (gray->type() != CV_8UC1) {
                cimage_cvmat::PutMatTo1ChannelMat(m_input_views[v], m_gray_input[v]);
                gray = &m_gray_input[v];
            }
            cv::resize(*gray, m_resized[v], m_processing_size, 0, 0, interpolation);
        });
    }
    {
        auto timer = StatScopedTimeCalculator("Rectify");
        RunBothViewsInParallel([&](eLeftOrRightView v) {
            m_reconstructor->RectifyView(m_resized[v], v, cv::INTER_CUBIC, m_rectified[v]);
        });
    }
    if (m_marking_mode() || m_debug_output) {
        auto timer = StatScopedTimeCalculator("Keep uncropped rectified pair");
        m_rectified_uncropped_debug_pair.create(m_processing_size.height, 2 * m_processing_size.width, CV_8UC1);
        m_rectified[kLeftView].copyTo(m_rectified_uncropped_debug_pair(cv::Rect({0, 0}, m_processing_size)));
        m_rectified[kRightView].copyTo(
            m_rectified_uncropped_debug_pair(cv::Rect({m_processing_size.width, 0}, m_processing_size)));
        if (m_marking_mode())
            return;
    }
    {
        auto timer = StatScopedTimeCalculator("Mark non-valid");
        KIV_CHECK(m_invalid_mask.size() == m_rectified[kLeftView].size(), "StereoCounterMaskSize_200811_140204");
        cv::Mat_<uchar> left = m_rectified[kLeftView];
        m_mean_brightness = SetToMaskedWithFindUnmaskedMean(m_invalid_mask, 0, left);
        m_rectified[kRightView].setTo(0, m_invalid_mask);
    }
    {
        auto timer = StatScopedTimeCalculator("Calculate disparity");
        const StereoImages images{m_rectified[kLeftView], m_rectified[kRightView]};
        StereoDisparities disparities{m_disparity[kLeftView], m_disparity[kRightView]};
        m_stereo_matcher->CalcDispTwoSides(images, disparities, StereoMasks{nullptr, nullptr});
        m_disparity[kLeftView] = disparities[kLeftView];
        m_disparity[kRightView] = disparities[kRightView];
    }
    if (m_use_left_right_check())
        FilterDisparityUsingLeftRightCheck();
    if (m_debug_output)
        KeepNonInterpolatedDisparity();
    DisparityInterpolation();
    NegateRightViewDisparity(m_disparity[kRightView],
                             static_cast<short>(m_stereo_matcher->GetMinDispVal(kRightView) - 1));
    {
        auto timer = StatScopedTimeCalculator("Mark non-valid disparity");
        m_disparity[kLeftView].setTo(0, m_invalid_mask);
        m_disparity[kRightView].setTo(0, m_invalid_mask);
    }
    if (m_use_backg_subtr_for_height_map_filter())
        ForegroundEstimation();
    CalculateHeightMaps();
    FilterLeftHeightMapUsingRightHeightMap();
    {
        auto timer = StatScopedTimeCalculator("Morphological operations");
        if (m_use_morphological_filtering())
            ProcessWithMorphology(m_all_median_filled_image_l, m_morph_params, m_scene_params, m_segmentator,
                                  m_interpolator_low_res, m_morphology_bin, m_morphology_tmp,
                                  m_morphology_processed_image_l);
        else
            m_morphology_processed_image_l = m_all_median_filled_image_l;
    }
    {
        auto timer = StatScopedTimeCalculator("Median blur");
        MedianFilterOpenCV(m_morphology_processed_image_l, m_morph_params.med_rad, m_use_median_0m_filtering(),
                           m_median_first_output, m_blurred_l);
    }
    m_head_points.clear();
    m_head_heights.clear();
    {
        auto timer = StatScopedTimeCalculator("Find maximums");
        FindObjectsCoords(m_head_points, m_head_heights);
    }
    {
        auto timer = StatScopedTimeCalculator("Tracking");
        m_tracker.UpdateTracksGreedyAlg(m_rectified[kLeftView], m_tracker_second_image, m_head_points);
    }
    {
        auto timer = StatScopedTimeCalculator("Crossings calculation");
        m_previous_objects.swap(m_objects);
        m_tracker.GetObjects(m_objects);
        ProcessFallingPeople();
        UnrectifyObjectsCoordinates();
        m_crossings_counter.CalculateObjectsState(m_objects);
    }
    AssignObjectHeights();
}

void StereoPeopleCounter::FilterDisparityUsingLeftRightCheck()
{
    auto timer = StatScopedTimeCalculator("Left-right check");
    const int threshold = m_lrc_thresh();
    RunBothViewsInParallel([&](eLeftOrRightView v) {
        const auto other = v == kLeftView ? kRightView : kLeftView;
        const auto invalid = static_cast<short>(m_stereo_matcher->GetMinDispVal(v) - 1);
        LeftRightCheck(m_disparity[v], m_disparity[other], threshold, invalid, m_lrc_mask[v]);
    });
    for (int v = 0; v < kViewsNum; ++v) {
        const auto invalid = static_cast<short>(m_stereo_matcher->GetMinDispVal(static_cast<eLeftOrRightView>(v)) - 1);
        m_disparity[v].setTo(invalid, m_lrc_mask[v]);
    }
}

void StereoPeopleCounter::KeepNonInterpolatedDisparity()
{
    auto timer = StatScopedTimeCalculator("Keep non-interpolated disparity");
    // A range without positive disparities would divide by zero: scale as for one level then.
    const double m = std::max<short>(1, m_stereo_matcher->GetMaxDispVal(kLeftView));
    const int signs[kViewsNum] = {1, -1};
    for (int v = 0; v < kViewsNum; ++v) {
        m_disparity[v].convertTo(m_disp8_debug_non_filled[v], CV_8U, 200.0 * signs[v] / m, 50.0);
        if (signs[v] > 0)
            cv::threshold(m_disp8_debug_non_filled[v], m_disp8_debug_non_filled[v], 50, 0, cv::THRESH_TOZERO);
        else
            cv::threshold(m_disp8_debug_non_filled[v], m_disp8_debug_non_filled[v], 249, 0, cv::THRESH_TOZERO_INV);
    }
}

void StereoPeopleCounter::DisparityInterpolation()
{
    auto timer = StatScopedTimeCalculator("Disparity interpolation");
    RunBothViewsInParallel([&](eLeftOrRightView v) {
        DepthMapInterpolator& interpolator = v == kLeftView ? m_interpolator_left : m_interpolator_right;
        const int lo = m_stereo_matcher->GetMinDispVal(v), hi = m_stereo_matcher->GetMaxDispVal(v);
        const int x = std::max(lo, 0);
        const auto hi_next = static_cast<short>(hi + 1);
        const int width = m_processing_size.width + (hi_next <= 0 ? hi_next : 0) - x;
        if (width <= 0)
            return;
        cv::Mat_<short> disparity = m_disparity[v];
        interpolator.FillDepthImpl<short, false>(static_cast<short>(lo - 1),
                                                 cv::Rect(x, 0, width, m_processing_size.height),
                                                 interpolator.FullMask(), disparity);
    });
}

void StereoPeopleCounter::ForegroundEstimation()
{
    const auto changes = m_brightness_checker.ProcessNextValueAndGetAlarmChanges(m_mean_brightness, m_time);
    if (changes.current != 0 && changes.previous == 0) {
        Log(kKivLogWarning) << "Pausing background processing due to light intensity problems with code "
                            << changes.current;
        m_blurred_gradient_foreground = cv::Mat::zeros(m_heights_size, CV_8UC1);
        return;
    }
    if (changes.current != 0)
        return;
    const bool reset = changes.previous != 0;
    cv::resize(m_rectified[kLeftView], m_small_gray, m_heights_size, 0, 0, cv::INTER_LINEAR);
    if (m_use_backgr_subtr_only_grad()) {
        {
            auto timer = StatScopedTimeCalculator("m_gradient_calculator.CalcGradientNorm");
            m_gradient_calculator.CalcGradientNorm(m_small_gray, m_gradient);
        }
        auto timer = StatScopedTimeCalculator("m_gauss_fuzzy_backgr_gradient");
        m_fuzzy_backgr_gradient.UpdateAndWriteFuzzyForeground(m_gradient, m_heights_size, m_time_difference, reset);
    } else {
        {
            auto timer = StatScopedTimeCalculator("m_gradient_calculator.CalcGradientNormAndIntensity");
            m_gradient_calculator.CalcGradientNormAndIntensity(m_small_gray, m_gradient_and_intensity);
        }
        auto timer = StatScopedTimeCalculator("m_gauss_fuzzy_backgr");
        m_fuzzy_backgr.UpdateAndWriteFuzzyForeground(m_gradient_and_intensity, m_heights_size, m_time_difference,
                                                     reset);
        cv::extractChannel(m_gradient_and_intensity, m_gradient, 0);
    }
    {
        auto timer = StatScopedTimeCalculator("cv::GaussianBlur");
        // A sigma of 0 or less means no blur (a zero kernel is refused by the blur). The Gaussian
        // kernel is the one cv::GaussianBlur derives from the sigma, applied separably in float:
        // with sigmas of ten pixels and more the 8-bit blur's exact integer path is over ten times
        // slower, for differences of at most one grey level.
        if (m_foregr_blur_sigma_scaled > 0) {
            m_gradient.convertTo(m_foreground_float, CV_32F);
            cv::sepFilter2D(m_foreground_float, m_blurred_float, CV_32F, m_foregr_blur_kernel, m_foregr_blur_kernel,
                            cv::Point(-1, -1), 0, cv::BORDER_REFLECT_101);
            m_blurred_float.convertTo(m_blurred_gradient_foreground, CV_8U);
        } else {
            m_gradient.copyTo(m_blurred_gradient_foreground);
        }
    }
    const double multiplier = m_blurred_foreground_gradient_multiplier();
    for (int r = 0; r < m_blurred_gradient_foreground.rows; ++r) {
        uchar* row = m_blurred_gradient_foreground.ptr<uchar>(r);
        for (int c = 0; c < m_blurred_gradient_foreground.cols; ++c)
            row[c] = static_cast<uchar>(std::min(255.0, std::floor(multiplier * row[c] + 0.5)));
    }
}

void StereoPeopleCounter::CalculateHeightMaps()
{
    auto timer = StatScopedTimeCalculator("Height calculation");
    const double to_byte = 255.0 / m_scene_params.obj_h_max;
    const bool scale = m_use_height_map_processing_scale();
    const bool weight = m_use_backg_subtr_for_height_map_filter();
    RunBothViewsInParallel([&](eLeftOrRightView v) {
        m_reconstructor->CalculateHeightFromDisparity(m_disparity[v], v, m_height16[v]);
        const cv::Mat* heights = &m_height16[v];
        if (scale) {
            cv::resize(m_height16[v], m_height16_scaled[v], m_heights_size, 0, 0, cv::INTER_AREA);
            heights = &m_height16_scaled[v];
        }
        cv::Mat& out = m_height_map[v];
        for (int r = 0; r < out.rows; ++r) {
            const short* in = heights->ptr<short>(r);
            uchar* dst = out.ptr<uchar>(r);
            const uchar* foreground = weight ? m_blurred_gradient_foreground.ptr<uchar>(r) : nullptr;
            for (int c = 0; c < out.cols; ++c) {
                uchar value = RoundToByte(in[c] * to_byte);
                if (foreground)
                    value = RoundToByte(value * (foreground[c] / 255.0));
                dst[c] = value;
            }
        }
    });
}

void StereoPeopleCounter::FilterLeftHeightMapUsingRightHeightMap()
{
    auto timer = StatScopedTimeCalculator("Double median");
    const cv::Mat_<uchar> left = m_height_map[kLeftView], right = m_height_map[kRightView];
    if (m_use_double_med_filling()) {
        DoubleMedianFilterFill(right, left, m_morph_params.median_fill_rad, m_median_filled_image_r);
        MedianFilterFill(left, m_morph_params.median_fill_rad, m_median_filled_image_l);
        DoubleMedianFilter(m_median_filled_image_r, m_median_filled_image_l, m_morph_params.double_median_rad,
                           m_all_median_filled_image_l);
    } else {
        DoubleMedianFilter(right, left, m_morph_params.double_median_rad, m_all_median_filled_image_l);
    }
}

void StereoPeopleCounter::FindObjectsCoords(std::deque<cv::Point>& points, std::deque<int>& heights)
{
    HeadCandidateSettings settings;
    settings.obtain_height_directly_from_height_map = m_obtain_height_directly_from_height_map();
    settings.use_height_map_processing_scale = m_use_height_map_processing_scale();
    settings.circle_around_head_rad = m_circle_around_head_rad;
    settings.obj_h_max = m_scene_params.obj_h_max;
    settings.processing_size = m_processing_size;
    stereo::FindObjectsCoords(m_maximums_finder, m_blurred_l, m_morphology_processed_image_l, m_height_map[kLeftView],
                              settings, m_height_samples, points, heights);
}

void StereoPeopleCounter::AssignObjectHeights()
{
    for (StereoCountingObjData& object : m_objects) {
        const auto found =
            std::find(m_head_points.begin(), m_head_points.end(), cv::Point(object.point_x, object.point_y));
        if (found != m_head_points.end())
            object.height = m_head_heights[static_cast<size_t>(found - m_head_points.begin())];
    }
}

}  // namespace stereo
