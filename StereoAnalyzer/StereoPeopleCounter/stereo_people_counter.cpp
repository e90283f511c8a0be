#include "StereoAnalyzer/StereoPeopleCounter/stereo_people_counter.h"

#include <algorithm>
#include <cfloat>
#include <climits>
#include <cmath>
#include <opencv2/imgproc.hpp>
#include <sstream>

#include "CommonUtilities/ParameterAccess/load_parameters.h"
#include "CommonUtilities/ParameterAccess/parameter_range.h"
#include "CommonUtilities/algorithm_support/cimage_cvmat.h"
#include "CommonUtilities/algorithm_support/kiv_exception.h"
#include "CommonUtilities/algorithm_support/rounding.h"
#include "CommonUtilities/logged_text/logged_value.h"
#include "StereoAnalyzer/StereoPeopleCounter/stereo_people_counter_visualiser.h"

namespace stereo {

namespace {

std::string SizeText(const cv::Size& size)
{
    std::ostringstream out;
    out << size;
    return out.str();
}

void EnsureMat(cv::Mat& mat, const cv::Size& size, int type)
{
    if (mat.size() != size || mat.type() != type)
        mat.create(size, type);
}

}  // namespace

StereoPeopleCounter::StereoPeopleCounter()
    : m_matcher_bm("StereoMatcher", GetChildrenRegistry()),
      m_matcher_sgbm("StereoMatcher", GetChildrenRegistry()),
      m_reconstructor("3DReconstructor", GetChildrenRegistry()),
      m_tracker("Tracker", GetChildrenRegistry(), m_id_generator),
      m_maximums_finder("MaximumsFinder", GetChildrenRegistry()),
      m_interpolator_left("DepthMapInterpolator", GetChildrenRegistry()),
      m_interpolator_right("DepthMapInterpolator", GetChildrenRegistry()),
      m_interpolator_low_res("DepthMapInterpolatorLowRes", GetChildrenRegistry()),
      m_crossings_counter("CrossingsCounter", GetChildrenRegistry()),
      m_objects_filter("ObjectsFilter", GetChildrenRegistry()),
      m_polygons_constructor("PolygonsConstructor", GetChildrenRegistry()),
      m_fuzzy_backgr("FuzzyBackgroundSubtraction", GetChildrenRegistry()),
      m_fuzzy_backgr_gradient("FuzzyBackgroundSubtractionGradient", GetChildrenRegistry()),
      m_brightness_checker("BrightnessChecker", GetChildrenRegistry())
{
    m_matcher_bm.reset(new StereoMatcherBM());
    m_matcher_sgbm.reset(new StereoMatcherSGBM());
    m_reconstructor.reset(Create3DReconstructorInterface());
    m_stereo_matcher = m_matcher_bm.get();
    m_visualiser = CreateStereoPeopleCounterVisualiser(this);
}

StereoPeopleCounter::~StereoPeopleCounter() = default;

void StereoPeopleCounter::InitializeDefaultParameters()
{
    InitValueParameterStringDefault(m_params.algorithm_name, "", "", "Stereo_matching_algorithm_name",
                                    "name of the stereo matching algorithm", "", "BM");
    InitValueParameterStringDefault(m_params.stereo_resolution, "", "", "Stereo_resolution",
                                    "resolution at which algorithm will be running", "", "14000");
    InitValueParameterDefault(m_params.area_max_grow_for_keep_ratio, "", "", "area_max_grow_for_keep_ratio",
                              "maximal allowed processing area increase to prefer keeping-ratio resolution from "
                              "resolutions with smaller areas closer to requested",
                              "", static_cast<float>(1.37));
    InitValueParameterStringDefault(m_params.segm_threshold, "", "", "Stereo_segm_threshold",
                                    "segments with size less than segm_threshold are deleted", "", "300");
    InitValueParameterStringDefault(m_params.hole_threshold, "", "", "Stereo_hole_threshold",
                                    "holes with size less than segm_threshold are deleted", "", "800");
    InitValueParameterStringDefault(m_params.close_rad, "", "", "Stereo_close_rad", "radius of closure operation", "",
                                    "9");
    InitValueParameterStringDefault(m_params.open_rad, "", "", "Stereo_open_rad", "radius of the opening operation", "",
                                    "4");
    InitValueParameterStringDefault(m_params.median_fill_rad, "", "", "Stereo_median_fill_rad",
                                    "radius of the median filling", "", "9");
    InitValueParameterStringDefault(m_params.double_median_rad, "", "", "Stereo_double_median_rad",
                                    "radius of the double median filling", "", "25");
    InitValueParameterStringDefault(m_params.med_rad, "", "", "Stereo_med_rad", "radius of the median filtering", "",
                                    "16");
    InitValueParameterStringDefault(m_params.lrc_thresh, "", "", "Stereo_lrc_thresh", "threshold for lrc filtering", "",
                                    "1");
    m_params.lrc_thresh.SetLimits(0, INT_MAX);
    InitValueParameterStringDefault(m_params.use_left_right_check, "", "", "Stereo_use_left_right_check",
                                    "Use left-right check or not", "", "true");
    InitValueParameterStringDefault(m_params.max_height_error, "", "", "Stereo_max_height_error",
                                    "maximal absolute error in height calculation in centimeters", "", "20");
    m_params.max_height_error.SetLimits(0.0f, FLT_MAX);
    InitValueParameterStringDefault(m_params.height_map_processing_scale, "", "", "Stereo_height_map_processing_scale",
                                    "scale of image sides for height map processing steps", "", "0.77");
    m_params.height_map_processing_scale.SetLimits(0.1f, 1.0f);
    InitValueParameterStringDefault(m_params.use_height_map_processing_scale, "", "",
                                    "Stereo_use_height_map_processing_scale",
                                    "Use or not scale of image sides for height map processing steps", "", "true");
    InitValueParameterStringDefault(
        m_params.obtain_height_directly_from_height_map, "", "", "Stereo_obtain_height_directly_from_height_map",
        "Obtain height value directly from a height map instead of a processed image", "", "true");
    InitValueParameterStringDefault(m_params.use_double_med_filling, "", "", "Stereo_use_double_med_filling",
                                    "Use double median filling or not", "", "false");
    InitValueParameterStringDefault(m_params.use_morphological_filtering, "", "", "Stereo_use_morphological_filtering",
                                    "Use morphological filtering or not", "", "false");
    InitValueParameterStringDefault(m_params.use_median_0m_filtering, "", "", "Stereo_use_median_0m_filtering",
                                    "Use median 0m filtering or not", "", "true");
    InitValueParameterStringDefault(m_params.use_backg_subtr_for_height_map_filter, "", "",
                                    "use_backg_subtr_for_height_map_filter",
                                    "use height map filtering by background subtraction or not", "", "true");
    InitValueParameterStringDefault(m_params.foregr_blur_gauss_sigma, "", "", "foregr_blur_gauss_sigma",
                                    "sigma for gaussian filter used to blur foreground", "", "27.9");
    InitValueParameterDefault(m_params.blurred_foreground_gradient_multiplier, "", "",
                              "blurred_foreground_gradient_multiplier", "multiplier for blurred foreground gradient",
                              "", static_cast<float>(5.1));
    InitValueParameterStringDefault(m_params.write_debug_video, "", "", "write_debug_video", "write debug video or not",
                                    "", "false");
    InitValueParameterStringDefault(m_params.debug_video_frames_num, "", "", "debug_video_frames_num",
                                    "how many frames write in debug video", "", "1000");
    m_params.debug_video_frames_num.SetLimits(0, 100000);
    InitValueParameterStringDefault(m_params.debug_video_folder, "", "", "debug_video_folder",
                                    "folder in which write debug video", "", "D:\\");
    InitValueParameterStringDefault(m_params.write_input_video, "", "", "write_input_video", "write input video or not",
                                    "", "false");
    InitValueParameterStringDefault(m_params.input_video_frames_num, "", "", "input_video_frames_num",
                                    "how many frames write in input video", "", "100000");
    m_params.input_video_frames_num.SetLimits(0, 100000);
    InitValueParameterStringDefault(m_params.input_video_folder, "", "", "input_video_folder",
                                    "folder in which write input video", "", "D:\\");
    InitValueParameterStringDefault(m_params.input_video_prefix, "", "", "input_video_prefix", "prefix of input video",
                                    "", "1_");
    InitValueParameterStringDefault(m_params.marking_mode, "", "", "marking_mode",
                                    "write only rectified images, don't process algorithm. Is used for video cut", "",
                                    "false");
    InitValueParameterStringDefault(m_params.marking_frames_num, "", "", "marking_frames_num",
                                    "how many frames of rectified video write in marking mode", "", "1000");
    m_params.marking_frames_num.SetLimits(0, 100000);
    InitValueParameterStringDefault(m_params.output_fallen_objects, "", "", "output_fallen_objects",
                                    "output fallen objects or not", "", "false");
    InitValueParameterStringDefault(m_params.output_non_fallen_objects, "", "", "output_non_fallen_objects",
                                    "output non fallen objects or not", "", "true");
    InitValueParameterStringDefault(m_params.frames_num_to_display_fallen_object, "", "",
                                    "frames_num_to_display_fallen_object", "for how many frames object is shown", "",
                                    "50");
    m_params.frames_num_to_display_fallen_object.SetLimits(1, 1000);
    InitValueParameterStringDefault(m_params.use_backgr_subtr_only_grad, "", "", "use_backgr_subtr_only_grad",
                                    "use background subtraction only using gradient", "", "false");
}

void StereoPeopleCounter::SetTiltAngle(double tilt_angle)
{
    m_scene.tilt_angle = tilt_angle;
    m_scene.tilt_angle_set = true;
}

void StereoPeopleCounter::InitFromParams()
{
    m_initialized = false;
    m_filter.rescaled = false;
    MorphologyParams params;
    params.segm_threshold = m_params.segm_threshold();
    params.hole_threshold = m_params.hole_threshold();
    params.close_rad = m_params.close_rad();
    params.open_rad = m_params.open_rad();
    params.median_fill_rad = m_params.median_fill_rad();
    params.double_median_rad = m_params.double_median_rad();
    params.med_rad = m_params.med_rad();
    CheckCalibrationRead();
    // Values that make the size reduction fail at the first pair, or that make counting impossible,
    // are refused now.
    const std::string refusal = CheckParameterRanges();
    KIV_CHECK(refusal.empty(), "StereoCounterParameterRange_200811_140112") << refusal;
    m_filter.morph_unscaled = params;
    m_filter.morph = params;
    m_frame.counter = 0;
    m_frame.previous_ticks = 0;
    m_filter.circle_around_head_rad = 21;
    // The next pair initialises for its size, also when the size did not change.
    m_views.input = Views();
    m_initialized = true;
}

void StereoPeopleCounter::CheckCalibrationRead()
{
    // The built-in calibration belongs to another camera: counting with it gives wrong heights and
    // wrong counts without a word. The reconstructor marks the values that only a parameter file can
    // give; the tilt comes from the inclinometer when it was set.
    KIV_CHECK(m_reconstructor, "StereoCounterNoReconstructorForCheck_200811_140113");
    std::string section;
    std::string missing;
    ParamsLib::TraverseParameters(m_reconstructor.get(),
                                  [&](ParamsLib::BaseParameter& parameter, const BlockEntities::Context& context) {
                                      section = context.cached;
                                      ParamsLib::ParameterOptions options;
                                      parameter.FillParameterOptions(options);
                                      if (!options.count(ParamsLib::ParameterOption::kValueRequired) ||
                                          parameter.GetState() == ParamsLib::ParameterState::kDeserialized)
                                          return;
                                      if (m_scene.tilt_angle_set && parameter.GetName() == "cam_tilt_angle")
                                          return;
                                      missing += (missing.empty() ? "" : ", ") + parameter.GetName();
                                  });
    KIV_CHECK(missing.empty(), "StereoCounterCalibrationNotRead_200811_140114")
        << "the stereo calibration was not read from the parameter file(s): section [" + section + "] lacks " +
               missing +
               " (is the file readable and not empty?); the built-in values belong to no camera of "
               "this installation, so the stereo counter does not start";
}

std::string StereoPeopleCounter::CheckParameterRanges()
{
    using ParamsLib::CheckWorkingRange;
    using ParamsLib::WorkingRange;
    const BlockEntities::Context& own = GetContext();
    // Sizes and radii of the height-map filters count pixels; those larger than the picture are
    // refused once the picture's size is known (CheckDerivedSizes).
    const char* const kPixels = "a number of pixels";
    const std::vector<std::string> refusals = {
        CheckWorkingRange(m_params.stereo_resolution, own, WorkingRange::AtLeast(1),
                          "pixels of the processing picture"),
        CheckWorkingRange(m_params.area_max_grow_for_keep_ratio, own, WorkingRange::AtLeast(1),
                          "a share of the requested area"),
        CheckWorkingRange(m_params.segm_threshold, own, WorkingRange::AtLeast(0), kPixels),
        CheckWorkingRange(m_params.hole_threshold, own, WorkingRange::AtLeast(0), kPixels),
        CheckWorkingRange(m_params.close_rad, own, WorkingRange::AtLeast(0), kPixels),
        CheckWorkingRange(m_params.open_rad, own, WorkingRange::AtLeast(0), kPixels),
        CheckWorkingRange(m_params.median_fill_rad, own, WorkingRange::AtLeast(0), kPixels),
        CheckWorkingRange(m_params.double_median_rad, own, WorkingRange::AtLeast(0), kPixels),
        CheckWorkingRange(m_params.med_rad, own, WorkingRange::AtLeast(0), kPixels),
        // A brightness problem pauses the background work: crossed limits would pause it for good.
        m_brightness_checker.CheckWorkingRanges(true),
    };
    for (const std::string& refusal : refusals)
        if (!refusal.empty())
            return refusal;
    return std::string();
}

void StereoPeopleCounter::CheckDerivedSizes(double scale) const
{
    // Every radius derived from a parameter is scaled by the head size the calibration gives; one
    // larger than the picture it filters cannot work (and a filter of millions of pixels would hold
    // up the first pair without end).
    const int limit = std::max(m_sizes.heights.width, m_sizes.heights.height);
    const std::string origin = "scaled by the head size factor " + ParamsLib::NumberText(scale) +
                               " that the calibration gives (focal length " +
                               ParamsLib::NumberText(m_scene.params.focal_length) + " pixels, mount height " +
                               ParamsLib::NumberText(m_scene.params.h_camera_mount) +
                               " cm); check the calibration of 3DReconstructor";
    const std::pair<const ParamsLib::IntValueParam<>*, int> radii[] = {
        {&m_params.close_rad, m_filter.morph.close_rad},
        {&m_params.open_rad, m_filter.morph.open_rad},
        {&m_params.median_fill_rad, m_filter.morph.median_fill_rad},
        {&m_params.double_median_rad, m_filter.morph.double_median_rad},
        {&m_params.med_rad, m_filter.morph.med_rad},
    };
    // (Negative radii are refused with the parameters, and scaling keeps them at 0 or more.)
    for (const auto& radius : radii)
        KIV_CHECK(radius.second <= limit, "StereoCounterDerivedRadius_200811_140115")
            << "Parameter " + ParamsLib::NameAndValue(*radius.first, GetContext()) + " gives the radius " +
                   std::to_string(radius.second) + " pixels, " + origin + "; it must lie in 0 .. " +
                   std::to_string(limit) + " (the heights picture " + std::to_string(m_sizes.heights.width) + "x" +
                   std::to_string(m_sizes.heights.height) + ")";
    // Heads are the heights above obj_h_min less the error: an error as large as obj_h_min makes
    // every pixel a head.
    const std::string error_refusal = ParamsLib::CheckWorkingRange(
        m_params.max_height_error, GetContext(), ParamsLib::WorkingRange{0, m_scene.params.obj_h_min, false, true},
        "below the least object height, " + ParamsLib::NumberText(m_scene.params.obj_h_min) +
            " (obj_h_min_param of 3DReconstructor), or every pixel is a head");
    KIV_CHECK(error_refusal.empty(), "StereoCounterMaxHeightError_200811_140120") << error_refusal;
    const double sigma = m_filter.foregr_blur_sigma_scaled;
    KIV_CHECK(std::isfinite(sigma) && sigma <= limit, "StereoCounterDerivedSigma_200811_140116")
        << "Parameter " + ParamsLib::NameAndValue(m_params.foregr_blur_gauss_sigma, GetContext()) +
               " gives the sigma " + ParamsLib::NumberText(sigma) + " pixels, " + origin +
               "; the sigma must be at most " + std::to_string(limit) +
               " (the heights picture; 0 or less blurs nothing)";
    KIV_CHECK(m_filter.circle_around_head_rad >= 1 && m_filter.circle_around_head_rad <= limit,
              "StereoCounterDerivedHeadRadius_200811_140117")
        << "the head radius " + std::to_string(m_filter.circle_around_head_rad) + " pixels, " + origin +
               ", must lie in 1 .. " + std::to_string(limit);
}

void StereoPeopleCounter::InitAll(const cv::Size& input_size)
{
    InitFrameSize(input_size);
    EnsureBuffersAllocated();
    InitScene3DReconstructor();
    InitValidPixelsMask();
    InitStereoMatcher();
    InitOutput();
    StartNewInputVideo();
    RescaleParameters();
    m_segmentator.Init(m_sizes.heights);
    m_interpolator_left.Init(m_sizes.processing);
    m_interpolator_right.Init(m_sizes.processing);
    m_interpolator_low_res.Init(m_sizes.heights);
    const double threshold =
        (m_scene.params.obj_h_min - m_params.max_height_error()) / m_scene.params.obj_h_max * 255.0;
    m_maximums_finder.Init(m_sizes.heights, static_cast<int>(std::clamp(threshold, -1.0e9, 1.0e9)));
    InitTracker();
    m_crossings_counter.Reinit(m_sizes.processing);
    m_fuzzy_backgr.InitFromParams();
    m_fuzzy_backgr_gradient.InitFromParams();
}

cv::Size StereoPeopleCounter::ReducedResolution(const cv::Size& size, int area, const char* name)
{
    cimage_cvmat::ReductionKind kind = cimage_cvmat::ReductionKind(0);
    const int max_area =
        AlgoLibrary::RoundHalfAwayFromZero(static_cast<double>(area) * m_params.area_max_grow_for_keep_ratio());
    const cv::Size reduced = cimage_cvmat::FindReduceResolution(size, area, max_area, &kind);
    const std::string from = SizeText(size), to = SizeText(reduced);
    const int reduced_area = reduced.width * reduced.height;
    if (kind == 0)
        Log(kKivLogInfo) << name << " - no reduction of " << from;
    else if (kind == 1)
        Log(kKivLogInfo) << name << " - reduction with keep ratio from " << from << " to " << to << " with area "
                         << reduced_area;
    else
        Log(kKivLogWarning) << name << " - reduction with dropping ratio from " << from << " to " << to << " with area "
                            << reduced_area;
    return reduced;
}

void StereoPeopleCounter::InitFrameSize(const cv::Size& input_size)
{
    KIV_CHECK(input_size.width > 0 && input_size.height > 0 &&
                  static_cast<long long>(input_size.width) * input_size.height <= INT_MAX,
              "StereoCounterInputSize_200811_140103")
        << "input " << input_size.width << "x" << input_size.height;
    m_sizes.input = input_size;
    m_sizes.processing = ReducedResolution(input_size, m_params.stereo_resolution(), "stereo processing resolution");
    double heights_area = static_cast<double>(m_sizes.processing.width) * m_sizes.processing.height;
    if (m_params.use_height_map_processing_scale())
        heights_area *=
            static_cast<double>(m_params.height_map_processing_scale()) * m_params.height_map_processing_scale();
    m_sizes.heights =
        ReducedResolution(m_sizes.processing, std::max(1, AlgoLibrary::RoundHalfAwayFromZero(heights_area)),
                          "heights processing resolution");
    m_sizes.heights_to_processing = static_cast<double>(m_sizes.heights.height) / m_sizes.processing.height;
}

void StereoPeopleCounter::EnsureBuffersAllocated()
{
    for (int v = 0; v < kViewsNum; ++v) {
        for (cv::Mat* mat : {&m_views.resized[v], &m_views.rectified[v], &m_views.valid_mask[v], &m_views.lrc_mask[v],
                             &m_views.disp8_debug_non_filled[v], &m_views.disp8_accessor[v]})
            EnsureMat(*mat, m_sizes.processing, CV_8UC1);
        for (cv::Mat* mat : {&m_views.disparity[v], &m_views.height16[v], &m_views.depth[v]})
            EnsureMat(*mat, m_sizes.processing, CV_16SC1);
        EnsureMat(m_views.height16_scaled[v], m_sizes.heights, CV_16SC1);
        EnsureMat(m_views.height_map[v], m_sizes.heights, CV_8UC1);
    }
    EnsureMat(m_maps.all_median_filled_image_l, m_sizes.heights, CV_8UC1);
    EnsureMat(m_maps.median_filled_image_r, m_sizes.heights, CV_8UC1);
    // Written only by the double median filling; left empty without it, so that its debug picture
    // stays empty.
    if (m_params.use_double_med_filling())
        EnsureMat(m_maps.median_filled_image_l, m_sizes.heights, CV_8UC1);
    EnsureMat(m_maps.morphology_bin, m_sizes.heights, CV_8UC1);
    EnsureMat(m_maps.morphology_tmp, m_sizes.heights, CV_8UC1);
    EnsureMat(m_maps.median_first_output, m_sizes.heights, CV_8UC1);
    EnsureMat(m_maps.blurred_l, m_sizes.heights, CV_8UC1);
    EnsureMat(m_maps.small_gray, m_sizes.heights, CV_8UC1);
    EnsureMat(m_maps.gradient_and_intensity, m_sizes.heights, CV_8UC2);
    EnsureMat(m_maps.gradient, m_sizes.heights, CV_8UC1);
    EnsureMat(m_maps.blurred_gradient_foreground, m_sizes.heights, CV_8UC1);
    EnsureMat(m_maps.tracker_second_image, m_sizes.processing, CV_8UC1);
}

void StereoPeopleCounter::InitScene3DReconstructor()
{
    KIV_CHECK(m_reconstructor, "StereoCounterNoReconstructor_200811_140104");
    KIV_CHECK(m_sizes.processing.area() > 0, "StereoCounterNoProcessingArea_200811_140105");
    if (m_scene.tilt_angle_set)
        m_reconstructor->Init(m_sizes.processing.width, m_sizes.processing.height, m_scene.tilt_angle);
    else
        m_reconstructor->Init(m_sizes.processing.width, m_sizes.processing.height);
    try {
        m_reconstructor->GetSceneParams(m_scene.params);
    } catch (const exc::KIVException&) {
        // The analyser needs the heights; the reconstructor gives scene parameters only with them.
        KIV_CHECK(false, "StereoCounterNeedsHeights_200811_140106")
            << "the stereo analyser cannot run with 3DReconstructor calculate_height=false";
    }
}

void StereoPeopleCounter::InitValidPixelsMask()
{
    m_reconstructor->GetValidPixelsMask(kLeftView, m_views.valid_mask[kLeftView]);
    m_reconstructor->GetValidPixelsMask(kRightView, m_views.valid_mask[kRightView]);
    const cv::Mat& left = m_views.valid_mask[kLeftView];
    const cv::Mat& right = m_views.valid_mask[kRightView];
    KIV_CHECK(left.size() == right.size(), "StereoCounterMaskSizes_200811_140107");
    m_maps.invalid_mask.create(left.size());
    for (int r = 0; r < left.rows; ++r) {
        const uchar* l = left.ptr<uchar>(r);
        const uchar* rr = right.ptr<uchar>(r);
        uchar* out = m_maps.invalid_mask[r];
        for (int c = 0; c < left.cols; ++c) out[c] = (l[c] == 0 || rr[c] == 0) ? 255 : 0;
    }
}

StereoMatcherAdapter* StereoPeopleCounter::SelectStereoMatcher(const std::string& name)
{
    std::string lowered = name;
    std::transform(lowered.begin(), lowered.end(), lowered.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    if (lowered == "bm")
        return m_matcher_bm.get();
    if (lowered == "sgbm")
        return m_matcher_sgbm.get();
    KIV_CHECK(false, "StereoCounterMatcherName_200811_140108")
        << ("SelectStereoMatcher : wrong algorithm_name " + logged_text::LoggedValue(lowered));
    return nullptr;
}

void StereoPeopleCounter::InitStereoMatcher()
{
    m_stereo_matcher = SelectStereoMatcher(m_params.algorithm_name());
    KIV_CHECK(m_stereo_matcher, "StereoCounterNoMatcher_200811_140109");
    m_stereo_matcher->InitFromParams();
    KIV_CHECK(m_reconstructor, "StereoCounterNoReconstructorForMatcher_200811_140110");
    const auto levels = static_cast<short>(std::clamp(m_scene.params.max_disparity, SHRT_MIN, SHRT_MAX));
    Log(kKivLogInfo) << "max_disparity " << levels;
    // Both matchers derive from the adapter; SetDispLevelsNum is the adapter's virtual.
    m_stereo_matcher->SetDispLevelsNum(levels);
}

double StereoPeopleCounter::CalculateObjectSizeScale() const
{
    const double a = m_scene.params.rotation_angle - m_scene.params.angle_bottom;
    const double t = a < 0 ? 0.0 : std::tan(a);
    const double d = m_scene.params.h_camera_mount - 190.0;
    const double e = 45.0 + d * t;
    return (87.23224574302228 / std::sqrt(e * e + d * d)) * (m_scene.params.focal_length / 195.0);
}

void StereoPeopleCounter::RescaleParameters()
{
    const double s1 = CalculateObjectSizeScale();
    const double s = s1 * m_sizes.heights_to_processing;
    // Always from the values read from the parameters, so a second initialisation does not scale
    // the scaled values again.
    KIV_CHECK(std::isfinite(s1) && s1 > 0, "StereoCounterHeadSizeScale_200811_140118")
        << "the calibration gives the head size factor " + ParamsLib::NumberText(s1) + " (focal length " +
               ParamsLib::NumberText(m_scene.params.focal_length) + " pixels, mount height " +
               ParamsLib::NumberText(m_scene.params.h_camera_mount) + " cm); check the calibration of 3DReconstructor";
    m_filter.morph = m_filter.morph_unscaled;
    RescaleMorphologyParams(s, m_filter.morph);
    m_filter.foregr_blur_sigma_scaled = s * m_params.foregr_blur_gauss_sigma();
    m_filter.circle_around_head_rad = std::clamp(AlgoLibrary::RoundHalfAwayFromZero(s1 * 21), 0, INT_MAX - 2) + 2;
    CheckDerivedSizes(s);
    if (m_filter.foregr_blur_sigma_scaled > 0) {
        // The size cv::GaussianBlur derives for an 8-bit picture, bounded by the picture.
        const double size = std::min(m_filter.foregr_blur_sigma_scaled * 6.0 + 1.0,
                                     4.0 * std::max(m_sizes.heights.width, m_sizes.heights.height) + 1.0);
        m_filter.foregr_blur_kernel =
            cv::getGaussianKernel(cvRound(size) | 1, m_filter.foregr_blur_sigma_scaled, CV_32F);
    }
    Log(kKivLogInfo) << "head_size_scale" << s1;
    Log(kKivLogInfo) << "height_map_proc_corrected_scale" << s;
    Log(kKivLogInfo) << "m_morph_params.med_rad " << m_filter.morph.med_rad;
    Log(kKivLogInfo) << "m_morph_params.segm_threshold " << m_filter.morph.segm_threshold;
    Log(kKivLogInfo) << "m_morph_params.hole_threshold " << m_filter.morph.hole_threshold;
    Log(kKivLogInfo) << "m_morph_params.close_rad " << m_filter.morph.close_rad;
    Log(kKivLogInfo) << "m_morph_params.open_rad " << m_filter.morph.open_rad;
    Log(kKivLogInfo) << "m_morph_params.double_median_rad " << m_filter.morph.double_median_rad;
    Log(kKivLogInfo) << "m_morph_params.median_fill_rad " << m_filter.morph.median_fill_rad;
    Log(kKivLogInfo) << "m_circle_around_head_rad " << m_filter.circle_around_head_rad;
    m_filter.rescaled = true;
}

void StereoPeopleCounter::InitTracker()
{
    KIV_CHECK(m_sizes.processing.area() > 0 && m_filter.rescaled, "StereoCounterTrackerInit_200811_140111");
    const int r = m_filter.circle_around_head_rad;
    m_tracker.Init(m_sizes.processing, m_maps.invalid_mask, r, 4, 3 * r);
}

void StereoPeopleCounter::CheckInitialized(const char* id) const
{
    KIV_CHECK(m_initialized, id) << "the stereo analyser is not initialised";
}

}  // namespace stereo
