// The per-pair pipeline of the stereo analyser: rectification, disparity, heights, filters, heads,
// tracking and crossings.

#include <algorithm>
#include <cmath>
#include <opencv2/imgproc.hpp>

#include "CommonUtilities/algorithm_support/cimage_cvmat.h"
#include "CommonUtilities/algorithm_support/kiv_exception.h"
#include "CommonUtilities/algorithm_support/rounding.h"
#include "StereoAnalyzer/StereoMatchers/views_in_parallel.h"
#include "StereoAnalyzer/StereoPeopleCounter/head_candidates.h"
#include "StereoAnalyzer/StereoPeopleCounter/left_right_check.h"
#include "StereoAnalyzer/StereoPeopleCounter/median_filters_collection.h"
#include "StereoAnalyzer/StereoPeopleCounter/median_filters_opencv.h"
#include "StereoAnalyzer/StereoPeopleCounter/scene_3d_reconstructor.h"
#include "StereoAnalyzer/StereoPeopleCounter/stereo_people_counter.h"

namespace stereo {

void StereoPeopleCounter::ProcessStereoPair(const cv::Mat& left, const cv::Mat& right, bool debug, long long time)
{
    CheckInitialized("StereoCounterNotInitialized_200811_140201");
    KIV_CHECK(left.size() == right.size(), "StereoCounterViewSizes_200811_140202")
        << "left " << left.cols << "x" << left.rows << ", right " << right.cols << "x" << right.rows;
    KIV_CHECK(left.type() == right.type(), "StereoCounterViewTypes_200811_140203")
        << "left type " << left.type() << ", right type " << right.type();
    if (left.size() != m_views.input[kLeftView].size() || m_views.input[kLeftView].empty())
        InitAll(left.size());

    if (m_frame.counter == 0) {
        Log(kKivLogInfo) << "Processing first stereo-pair with timestamp " << time;
        m_frame.time_difference = 0;
    } else {
        m_frame.time_difference = time - m_frame.previous_time;
    }
    m_frame.previous_time = time;
    m_frame.time = time;
    ++m_frame.counter;
    m_frame.debug_output =
        debug || (m_params.write_debug_video() && m_frame.counter < m_params.debug_video_frames_num());

    const long long ticks = cv::getTickCount();
    if (m_frame.counter != 1)
        StatValueDouble("Time between function calls",
                        static_cast<double>(ticks - m_frame.previous_ticks) / cv::getTickFrequency() * 1000.0);
    m_frame.previous_ticks = ticks;

    m_views.input[kLeftView] = left;
    m_views.input[kRightView] = right;
    m_arena.execute([this] { ProcessStereoPairImpl(); });

    if (m_params.write_debug_video() || m_params.marking_mode()) {
        const long long n = m_params.marking_mode() ? m_params.marking_frames_num() : m_params.debug_video_frames_num();
        if (m_frame.counter < n)
            WriteVideoOutput();
        if (m_frame.counter == n)
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
        const int interpolation = m_sizes.processing.area() < m_sizes.input.area() ? cv::INTER_AREA : cv::INTER_CUBIC;
        RunBothViewsInParallel([&](eLeftOrRightView v) {
            const cv::Mat* gray = &m_views.input[v];
            if (gray->type() != CV_8UC1) {
                cimage_cvmat::PutMatTo1ChannelMat(m_views.input[v], m_views.gray_input[v]);
                gray = &m_views.gray_input[v];
            }
            cv::resize(*gray, m_views.resized[v], m_sizes.processing, 0, 0, interpolation);
        });
    }
    {
        auto timer = StatScopedTimeCalculator("Rectify");
        RunBothViewsInParallel([&](eLeftOrRightView v) {
            m_reconstructor->RectifyView(m_views.resized[v], v, cv::INTER_CUBIC, m_views.rectified[v]);
        });
    }
    if (m_params.marking_mode() || m_frame.debug_output) {
        auto timer = StatScopedTimeCalculator("Keep uncropped rectified pair");
        m_debug.rectified_uncropped_debug_pair.create(m_sizes.processing.height, 2 * m_sizes.processing.width, CV_8UC1);
        m_views.rectified[kLeftView].copyTo(
            m_debug.rectified_uncropped_debug_pair(cv::Rect({0, 0}, m_sizes.processing)));
        m_views.rectified[kRightView].copyTo(
            m_debug.rectified_uncropped_debug_pair(cv::Rect({m_sizes.processing.width, 0}, m_sizes.processing)));
        if (m_params.marking_mode())
            return;
    }
    {
        auto timer = StatScopedTimeCalculator("Mark non-valid");
        KIV_CHECK(m_maps.invalid_mask.size() == m_views.rectified[kLeftView].size(),
                  "StereoCounterMaskSize_200811_140204");
        cv::Mat_<uchar> left = m_views.rectified[kLeftView];
        m_frame.mean_brightness = SetToMaskedWithFindUnmaskedMean(m_maps.invalid_mask, 0, left);
        m_views.rectified[kRightView].setTo(0, m_maps.invalid_mask);
    }
    {
        auto timer = StatScopedTimeCalculator("Calculate disparity");
        const StereoImages images{m_views.rectified[kLeftView], m_views.rectified[kRightView]};
        StereoDisparities disparities{m_views.disparity[kLeftView], m_views.disparity[kRightView]};
        m_stereo_matcher->CalcDispTwoSides(images, disparities, StereoMasks{nullptr, nullptr});
        m_views.disparity[kLeftView] = disparities[kLeftView];
        m_views.disparity[kRightView] = disparities[kRightView];
    }
    if (m_params.use_left_right_check())
        FilterDisparityUsingLeftRightCheck();
    if (m_frame.debug_output)
        KeepNonInterpolatedDisparity();
    DisparityInterpolation();
    NegateRightViewDisparity(m_views.disparity[kRightView],
                             static_cast<short>(m_stereo_matcher->GetMinDispVal(kRightView) - 1));
    {
        auto timer = StatScopedTimeCalculator("Mark non-valid disparity");
        m_views.disparity[kLeftView].setTo(0, m_maps.invalid_mask);
        m_views.disparity[kRightView].setTo(0, m_maps.invalid_mask);
    }
    if (m_params.use_backg_subtr_for_height_map_filter())
        ForegroundEstimation();
    CalculateHeightMaps();
    FilterLeftHeightMapUsingRightHeightMap();
    {
        auto timer = StatScopedTimeCalculator("Morphological operations");
        if (m_params.use_morphological_filtering())
            ProcessWithMorphology(m_maps.all_median_filled_image_l, m_filter.morph, m_scene.params, m_segmentator,
                                  m_interpolator_low_res, m_maps.morphology_bin, m_maps.morphology_tmp,
                                  m_maps.morphology_processed_image_l);
        else
            m_maps.morphology_processed_image_l = m_maps.all_median_filled_image_l;
    }
    {
        auto timer = StatScopedTimeCalculator("Median blur");
        MedianFilterOpenCV(m_maps.morphology_processed_image_l, m_filter.morph.med_rad,
                           m_params.use_median_0m_filtering(), m_maps.median_first_output, m_maps.blurred_l);
    }
    m_found.head_points.clear();
    m_found.head_heights.clear();
    {
        auto timer = StatScopedTimeCalculator("Find maximums");
        FindObjectsCoords(m_found.head_points, m_found.head_heights);
    }
    {
        auto timer = StatScopedTimeCalculator("Tracking");
        m_tracker.UpdateTracksGreedyAlg(m_views.rectified[kLeftView], m_maps.tracker_second_image, m_found.head_points);
    }
    {
        auto timer = StatScopedTimeCalculator("Crossings calculation");
        m_found.previous_objects.swap(m_found.objects);
        m_tracker.GetObjects(m_found.objects);
        ProcessFallingPeople();
        UnrectifyObjectsCoordinates();
        m_crossings_counter.CalculateObjectsState(m_found.objects);
    }
    AssignObjectHeights();
}

void StereoPeopleCounter::FilterDisparityUsingLeftRightCheck()
{
    auto timer = StatScopedTimeCalculator("Left-right check");
    const int threshold = m_params.lrc_thresh();
    RunBothViewsInParallel([&](eLeftOrRightView v) {
        const auto other = v == kLeftView ? kRightView : kLeftView;
        const auto invalid = static_cast<short>(m_stereo_matcher->GetMinDispVal(v) - 1);
        LeftRightCheck(m_views.disparity[v], m_views.disparity[other], threshold, invalid, m_views.lrc_mask[v]);
    });
    for (int v = 0; v < kViewsNum; ++v) {
        const auto invalid = static_cast<short>(m_stereo_matcher->GetMinDispVal(static_cast<eLeftOrRightView>(v)) - 1);
        m_views.disparity[v].setTo(invalid, m_views.lrc_mask[v]);
    }
}

void StereoPeopleCounter::KeepNonInterpolatedDisparity()
{
    auto timer = StatScopedTimeCalculator("Keep non-interpolated disparity");
    // A range without positive disparities would divide by zero: scale as for one level then.
    const double m = std::max<short>(1, m_stereo_matcher->GetMaxDispVal(kLeftView));
    const int signs[kViewsNum] = {1, -1};
    for (int v = 0; v < kViewsNum; ++v) {
        m_views.disparity[v].convertTo(m_views.disp8_debug_non_filled[v], CV_8U, 200.0 * signs[v] / m, 50.0);
        if (signs[v] > 0)
            cv::threshold(m_views.disp8_debug_non_filled[v], m_views.disp8_debug_non_filled[v], 50, 0,
                          cv::THRESH_TOZERO);
        else
            cv::threshold(m_views.disp8_debug_non_filled[v], m_views.disp8_debug_non_filled[v], 249, 0,
                          cv::THRESH_TOZERO_INV);
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
        const int width = m_sizes.processing.width + (hi_next <= 0 ? hi_next : 0) - x;
        if (width <= 0)
            return;
        cv::Mat_<short> disparity = m_views.disparity[v];
        interpolator.FillDepthImpl<short, false>(static_cast<short>(lo - 1),
                                                 cv::Rect(x, 0, width, m_sizes.processing.height),
                                                 interpolator.FullMask(), disparity);
    });
}

void StereoPeopleCounter::ForegroundEstimation()
{
    const auto changes = m_brightness_checker.ProcessNextValueAndGetAlarmChanges(m_frame.mean_brightness, m_frame.time);
    if (changes.current != 0 && changes.previous == 0) {
        Log(kKivLogWarning) << "Pausing background processing due to light intensity problems with code "
                            << changes.current;
        m_maps.blurred_gradient_foreground = cv::Mat::zeros(m_sizes.heights, CV_8UC1);
        return;
    }
    if (changes.current != 0)
        return;
    const bool reset = changes.previous != 0;
    cv::resize(m_views.rectified[kLeftView], m_maps.small_gray, m_sizes.heights, 0, 0, cv::INTER_LINEAR);
    if (m_params.use_backgr_subtr_only_grad()) {
        {
            auto timer = StatScopedTimeCalculator("m_gradient_calculator.CalcGradientNorm");
            m_gradient_calculator.CalcGradientNorm(m_maps.small_gray, m_maps.gradient);
        }
        auto timer = StatScopedTimeCalculator("m_gauss_fuzzy_backgr_gradient");
        m_fuzzy_backgr_gradient.UpdateAndWriteFuzzyForeground(m_maps.gradient, m_sizes.heights, m_frame.time_difference,
                                                              reset);
    } else {
        {
            auto timer = StatScopedTimeCalculator("m_gradient_calculator.CalcGradientNormAndIntensity");
            m_gradient_calculator.CalcGradientNormAndIntensity(m_maps.small_gray, m_maps.gradient_and_intensity);
        }
        auto timer = StatScopedTimeCalculator("m_gauss_fuzzy_backgr");
        m_fuzzy_backgr.UpdateAndWriteFuzzyForeground(m_maps.gradient_and_intensity, m_sizes.heights,
                                                     m_frame.time_difference, reset);
        cv::extractChannel(m_maps.gradient_and_intensity, m_maps.gradient, 0);
    }
    {
        auto timer = StatScopedTimeCalculator("cv::GaussianBlur");
        // A sigma of 0 or less means no blur (a zero kernel is refused by the blur). The Gaussian
        // kernel is the one cv::GaussianBlur derives from the sigma, applied separably in float:
        // with sigmas of ten pixels and more the 8-bit blur's exact integer path is over ten times
        // slower, for differences of at most one grey level.
        if (m_filter.foregr_blur_sigma_scaled > 0) {
            m_maps.gradient.convertTo(m_maps.foreground_float, CV_32F);
            cv::sepFilter2D(m_maps.foreground_float, m_maps.blurred_float, CV_32F, m_filter.foregr_blur_kernel,
                            m_filter.foregr_blur_kernel, cv::Point(-1, -1), 0, cv::BORDER_REFLECT_101);
            m_maps.blurred_float.convertTo(m_maps.blurred_gradient_foreground, CV_8U);
        } else {
            m_maps.gradient.copyTo(m_maps.blurred_gradient_foreground);
        }
    }
    const double multiplier = m_params.blurred_foreground_gradient_multiplier();
    for (int r = 0; r < m_maps.blurred_gradient_foreground.rows; ++r) {
        uchar* row = m_maps.blurred_gradient_foreground.ptr<uchar>(r);
        for (int c = 0; c < m_maps.blurred_gradient_foreground.cols; ++c)
            row[c] = AlgoLibrary::RoundHalfAwayFromZero<uchar>(multiplier * row[c]);
    }
}

void StereoPeopleCounter::CalculateHeightMaps()
{
    auto timer = StatScopedTimeCalculator("Height calculation");
    const double to_byte = 255.0 / m_scene.params.obj_h_max;
    const bool scale = m_params.use_height_map_processing_scale();
    const bool weight = m_params.use_backg_subtr_for_height_map_filter();
    RunBothViewsInParallel([&](eLeftOrRightView v) {
        m_reconstructor->CalculateHeightFromDisparity(m_views.disparity[v], v, m_views.height16[v]);
        const cv::Mat* heights = &m_views.height16[v];
        if (scale) {
            cv::resize(m_views.height16[v], m_views.height16_scaled[v], m_sizes.heights, 0, 0, cv::INTER_AREA);
            heights = &m_views.height16_scaled[v];
        }
        cv::Mat& out = m_views.height_map[v];
        for (int r = 0; r < out.rows; ++r) {
            const short* in = heights->ptr<short>(r);
            uchar* dst = out.ptr<uchar>(r);
            const uchar* foreground = weight ? m_maps.blurred_gradient_foreground.ptr<uchar>(r) : nullptr;
            for (int c = 0; c < out.cols; ++c) {
                uchar value = AlgoLibrary::RoundHalfAwayFromZero<uchar>(in[c] * to_byte);
                if (foreground)
                    value = AlgoLibrary::RoundHalfAwayFromZero<uchar>(value * (foreground[c] / 255.0));
                dst[c] = value;
            }
        }
    });
}

namespace {

// The medians of the height maps at radius 0: the window is the pixel itself, so the median of one
// picture is its value and the upper median of two pictures the larger of their two values (which
// the filling variant keeps as well). The filters themselves take radii from 1.
void DoubleMedian(const cv::Mat_<uchar>& a, const cv::Mat_<uchar>& b, int radius, bool fill, cv::Mat_<uchar>& dst)
{
    if (radius == 0)
        dst = cv::max(a, b);
    else if (fill)
        DoubleMedianFilterFill(a, b, radius, dst);
    else
        DoubleMedianFilter(a, b, radius, dst);
}

void MedianFill(const cv::Mat_<uchar>& a, int radius, cv::Mat_<uchar>& dst)
{
    if (radius == 0)
        a.copyTo(dst);
    else
        MedianFilterFill(a, radius, dst);
}

}  // namespace

void StereoPeopleCounter::FilterLeftHeightMapUsingRightHeightMap()
{
    auto timer = StatScopedTimeCalculator("Double median");
    const cv::Mat_<uchar> left = m_views.height_map[kLeftView], right = m_views.height_map[kRightView];
    if (m_params.use_double_med_filling()) {
        DoubleMedian(right, left, m_filter.morph.median_fill_rad, true, m_maps.median_filled_image_r);
        MedianFill(left, m_filter.morph.median_fill_rad, m_maps.median_filled_image_l);
        DoubleMedian(m_maps.median_filled_image_r, m_maps.median_filled_image_l, m_filter.morph.double_median_rad,
                     false, m_maps.all_median_filled_image_l);
    } else {
        DoubleMedian(right, left, m_filter.morph.double_median_rad, false, m_maps.all_median_filled_image_l);
    }
}

void StereoPeopleCounter::FindObjectsCoords(std::deque<cv::Point>& points, std::deque<int>& heights)
{
    HeadCandidateSettings settings;
    settings.obtain_height_directly_from_height_map = m_params.obtain_height_directly_from_height_map();
    settings.use_height_map_processing_scale = m_params.use_height_map_processing_scale();
    settings.circle_around_head_rad = m_filter.circle_around_head_rad;
    settings.obj_h_max = m_scene.params.obj_h_max;
    settings.processing_size = m_sizes.processing;
    stereo::FindObjectsCoords(m_maximums_finder, m_maps.blurred_l, m_maps.morphology_processed_image_l,
                              m_views.height_map[kLeftView], settings, m_maps.height_samples, points, heights);
}

void StereoPeopleCounter::AssignObjectHeights()
{
    for (StereoCountingObjData& object : m_found.objects) {
        const auto found = std::find(m_found.head_points.begin(), m_found.head_points.end(),
                                     cv::Point(object.point_x, object.point_y));
        if (found != m_found.head_points.end())
            object.height = m_found.head_heights[static_cast<size_t>(found - m_found.head_points.begin())];
    }
}

}  // namespace stereo
