#include "PeopleCounter/analytics/traffic_controller/src/traffic_controller.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstring>
#include <limits>
#include <opencv2/core.hpp>
#include <opencv2/core/hal/intrin.hpp>
#include <sstream>
#include <stdexcept>
#include <string>

#include "CommonUtilities/ParameterAccess/load_parameters.h"
#include "CommonUtilities/ParameterAccess/parameter_profile.h"
#include "CommonUtilities/ParameterAccess/parameter_range.h"
#include "CommonUtilities/algorithm_support/kernel_path.h"
#include "CommonUtilities/algorithm_support/kiv_exception.h"
#include "CommonUtilities/algorithm_support/rounding.h"
#include "CommonUtilities/algorithm_support/stats_utils.h"
#include "CommonUtilities/logged_text/logged_value.h"
#include "PeopleCounter/analytics/traffic_controller/src/primitives/gaussian_blur_fixed.h"
#include "PeopleCounter/analytics/traffic_controller/src/primitives/window_means.h"

namespace {

constexpr int kChangedPixelThreshold = 15;
constexpr int kReservedRecords = 300;
// Larger images are refused: every buffer is sized from width x height.
constexpr long long kMaxPixels = 1LL << 26;
// The perspective filter's quadrangles lie within +-kMaxPerspectivePixels.
constexpr int kMaxPerspectivePixels = 1 << 24;

const AlgoLibrary::StatUtils::SubjectOfInterest::Enum kStatTime =
    static_cast<AlgoLibrary::StatUtils::SubjectOfInterest::Enum>(2);
const AlgoLibrary::StatUtils::SubjectOfInterest::Enum kStatBrightness =
    static_cast<AlgoLibrary::StatUtils::SubjectOfInterest::Enum>(5);

// Truncation toward zero, clamped to the int range; NaN gives 0.
int TruncateClamped(double value)
{
    if (std::isnan(value))
        return 0;
    if (value >= static_cast<double>(INT_MAX))
        return INT_MAX;
    if (value <= static_cast<double>(INT_MIN))
        return INT_MIN;
    return static_cast<int>(value);
}

int FloorClamped(double value)
{
    return TruncateClamped(std::floor(value));
}

[[noreturn]] void FailInit(const std::string& reason)
{
    throw std::runtime_error("Failed to initialize CTrafficController: " + reason);
}

// Sets the first and last row and the first and last column of a w x h image to 0.
void ClearBorder(avector<unsigned char>& image, int w, int h)
{
    if (w <= 0 || h <= 0)
        return;
    const std::size_t width = static_cast<std::size_t>(w);
    const std::size_t last_row = static_cast<std::size_t>(h - 1) * width;
    std::fill(image.begin(), image.begin() + static_cast<std::ptrdiff_t>(width), 0);
    std::fill(image.begin() + static_cast<std::ptrdiff_t>(last_row),
              image.begin() + static_cast<std::ptrdiff_t>(last_row + width), 0);
    for (std::size_t row = width; row < last_row; row += width) {
        image[row] = 0;
        image[row + width - 1] = 0;
    }
}

float BlurRadiusFactor(GaussBlurType type)
{
    return (type == kGaussFloat || type == kGaussFixed) ? 66.666664f : 1.f;
}

std::unique_ptr<events_detector_utils::IGaussianBlur> MakeBlur(GaussBlurType type)
{
    using namespace GaussianFixed;
    switch (type) {
        case kGaussFloat:
            return std::make_unique<events_detector_utils::GaussianBlur>();
        case kGaussFixed:
            return std::make_unique<GaussianBlurFixedGray>();
        case kGaussBox1:
            return std::make_unique<GaussianBlurWith1DProcessor<BoxFilter1D>>();
        case kGaussBox2:
            return std::make_unique<GaussianBlurWith1DProcessor<LinearApprox1D>>();
        case kGauss2DBox1:
            return std::make_unique<GaussianBlurWith2DWindowMeans>(1);
        case kGauss2DBox2:
            return std::make_unique<GaussianBlurWith2DWindowMeans>(2);
        case kGauss2DBox3:
            return std::make_unique<GaussianBlurWith2DWindowMeans>(3);
        case kGaussExpApprox:
            return std::make_unique<GaussianBlurWith1DProcessor<ExpApprox1D>>();
    }
    return nullptr;
}

}  // namespace

ITrafficController* ITrafficController::CreateNew(const TrafficControllerInitParams& params)
{
    return new CTrafficController(params);
}

CTrafficController::DebugInfo::DebugInfo(const AlgoLibrary::MemManager::MemoryManager& manager)
    : grey(manager), difference(manager), blurred(manager), extremums(manager), labels(manager), keypoints(manager)
{
}

CTrafficController::CTrafficController(const TrafficControllerInitParams& params)
    : ChildBlock(params.name, params.parent),
      m_init(params),
      m_manager(params.memory_manager),
      m_tracker("Tracker", GetChildrenRegistry(), m_manager),
      m_optic_flow("OpticFlow", GetChildrenRegistry()),
      m_brightness("BrightnessWarnings", GetChildrenRegistry()),
      m_perspective_region(m_manager),
      m_mark_extremums(m_manager),
      m_work(m_manager),
      m_source_grey(m_manager),
      m_tracking(m_manager),
      m_scratch(m_manager),
      m_perspective_scratch(m_manager),
      m_extremums(m_manager),
      m_labels(m_manager),
      m_keypoints(m_manager),
      m_sum_a(m_manager),
      m_sum_b(m_manager),
      m_sum_c(m_manager),
      m_info_points(m_manager),
      m_debug(m_manager)
{
}

CTrafficController::~CTrafficController() = default;

void CTrafficController::InitializeDefaultParameters()
{
    InitValueParameterStringDefault(
        m_params.target_circle, "", "", "target_circle",
        "Circumcircle around of man of generic size in input video. This parameter is important and should be "
        "adjusted on each installation. Circle is specified by its center and point on a circle. Single point is "
        "represented by x and y coords relative to size of picture with values in [0.0; 1.0] ",
        "", "[[0.5,0.5],[0.5,0.3]]");
    InitValueParameterStringDefault(
        m_params.lines, "", "", "lines",
        "lines for which intersections are counted. Value of parameter consists of sequence of polylines, where "
        "every polyline is represented as sequence of points. Single point is represented by x and y coords relative "
        "to size of picture with values in [0.0; 1.0] ",
        "",
        "[[[0.181818,0.00347222],[0.198864,0.322917],[0.292614, 0.420139],  [0.696023,  0.409722],[0.801136,0.309028],"
        "[0.860795,0.0243056]]]");
    InitValueParameterStringDefault(
        m_params.perspective_filter, "", "", "perspective_filter",
        "perspective transformation applied before processing. Useful if input picture is not from topside view, but "
        "from slanted axis. After perspective transformation picture should look like top-view picture. Also zoom can "
        "be used to speedup algorithm on big pictures",
        "",
        "preview=1;top_factor=1.000000000000000;bottom_factor=1.000000000000000;shift_x=0.000000000000000;shift_y=0."
        "000000000000000;translation=0.000000000000000;zoom=1.000000000000000");
    InitValueParameterDefault(m_params.gauss_radius_multiplier, "", "", "gauss_radius_multiplier",
                              "radius of gauss smoothing relative to target radius", "", 1.0f);
    InitValueParameterDefault(m_params.keypoint_ops_radius_multiplier, "", "", "keypoint_ops_radius_multiplier",
                              "radius used in keypoint-relative operations relative to target radius", "", 0.6666667f);
    InitValueParameterDefault(m_params.lambda_thr, "", "", "lambda_thr",
                              "minimal lambda when filtering keypoints by gradients", "", 0.05f);
    InitValueParameterDefault(m_params.background_subtractor_alpha, "", "", "background_subtractor_alpha",
                              "background updating speed", "", 0.005f);
    InitValueParameterDefault(m_params.optic_flow_shift_filter_enabled, "", "", "optic_flow_shift_filter_enabled",
                              "return intersections only for objects that are moving with a good optical flow (used to "
                              "separate moving objects from changed light)",
                              "", true);
    InitValueParameterDefault(m_params.pre_smooth, "", "", "pre_smooth", "enable initial-smooting with box3x3 filter",
                              "", true);
    InitValueParameterDefault(m_params.generate_debug_info, "", "", "generate_debug_info",
                              "fill structure with debug pictures", "", false);
    InitValueParameterDefault(m_params.mark_extremums_running, "", "", "mark_extremums_running",
                              "use running mark extremums algorithm", "", true);
    InitValueParameterDefault(m_params.gauss_type, "", "", "gauss_type", "Gauss type", "", kGaussBox2);
}

// Set-up for one frame format: every size and radius of the pipeline follows from the frame size
// and the person-sized target circle, so that the same parameter file fits any resolution. A
// format or a parameter that cannot work is refused here, before the first frame, rather than
// failing on the algorithm thread later.
void CTrafficController::InitImage(const kiv::VideoFormat& format)
{
    m_initialised = false;
    m_uniform = false;
    for (BrightnessReport& report : m_brightness_reports) report = BrightnessReport();

    // The frame format: every later step indexes the frame by these numbers.
    {
        std::ostringstream reason;
        const long long pixel_bytes = format.pixel_format == 1 ? 1 : 3;
        if (format.width <= 0 || format.height <= 0 ||
            static_cast<long long>(format.width) * format.height > kMaxPixels)
            reason << "bad video size " << format.width << "x" << format.height;
        else if (format.bytes_per_pixel < pixel_bytes || format.bytes_per_pixel > 16)
            reason << "bad bytes per pixel " << format.bytes_per_pixel << " for pixel format " << format.pixel_format;
        else if (static_cast<long long>(format.bytes_per_line) <
                 static_cast<long long>(format.width) * format.bytes_per_pixel)
            reason << "bytes per line " << format.bytes_per_line << " below width " << format.width << " x "
                   << format.bytes_per_pixel << " bytes per pixel";
        if (!reason.str().empty())
            FailInit(reason.str());
    }

    m_format = format;
    m_w = format.width;
    m_h = format.height;
    const float w = static_cast<float>(m_w);
    const float h = static_cast<float>(m_h);

    const RelativeCircle circle = m_params.target_circle();
    const float dx = w * (circle.first.x - circle.second.x);
    const float dy = h * (circle.first.y - circle.second.y);
    m_target_radius = std::sqrt(dx * dx + dy * dy);
    const PerspectiveFilterParams perspective = m_params.perspective_filter();
    const float zoom = perspective.zoom;
    {
        const std::string refusal = CheckParameterRanges(perspective);
        if (!refusal.empty())
            FailInit(refusal);
    }
    m_optic_flow_enabled = m_params.optic_flow_shift_filter_enabled();
    if (m_optic_flow_enabled) {
        // The optic flow seeds its points every step pixels (the object radius divided by
        // point_step_factor); a step of 0 or 1 cannot follow a person. (The window's radius is
        // checked with the ranges.)
        const OpticFlowParams& flow = m_optic_flow.GetParams();
        const int object_radius = AlgoLibrary::RoundHalfAwayFromZero(m_target_radius * flow.object_radius_multiplier());
        const int step_factor = flow.point_step_factor();
        if (object_radius / step_factor < 2)
            FailInit("Parameter " + ParamsLib::NameAndValue(flow.object_radius_multiplier, m_optic_flow.GetContext()) +
                     " cannot work with " + ParamsLib::NameAndValue(flow.point_step_factor, m_optic_flow.GetContext()) +
                     ": the object radius " + std::to_string(object_radius) + " with the target radius " +
                     ParamsLib::NumberText(m_target_radius) +
                     " (target_circle) divided by point_step_factor gives the optic-flow seed step " +
                     std::to_string(object_radius / step_factor) + ", which must be at least 2; it must lie in [" +
                     ParamsLib::NumberText((2.0 * step_factor - 0.5) / m_target_radius) + ", " +
                     ParamsLib::NumberText(std::max(m_w, m_h) / m_target_radius) + "]");
    }
    m_keypoint_radius = AlgoLibrary::RoundHalfAwayFromZero(m_target_radius * m_params.keypoint_ops_radius_multiplier() * zoom);

    // Counting lines.
    m_lines.clear();
    m_common.line_ids.clear();
    const std::vector<std::vector<ParameterSPOINTType>> polylines = m_params.lines();
    for (std::size_t k = 0; k < polylines.size() && m_lines.size() < kMaxCountingLines; ++k) {
        LineInfo line;
        line.id = static_cast<int32_t>(k + 1);
        for (const ParameterSPOINTType& point : polylines[k])
            line.points.push_back(
                {FloorClamped(static_cast<double>(w * point.x)), FloorClamped(static_cast<double>(h * point.y))});
        m_lines.push_back(line);
        m_common.line_ids.push_back(line.id);
    }
    const std::string lines_name = GetFullParameterName(m_params.lines.GetName(), GetContext());
    if (m_params.lines.GetState() != ParamsLib::ParameterState::kDeserialized)
        Log(kKivLogWarning) << "No counting lines in the parameter file (" << lines_name << "): the built-in line "
                            << m_params.lines.GetDefaultText() << " is used, which need not suit this camera";
    if (polylines.size() > m_lines.size()) {
        std::string ignored;
        for (std::size_t k = m_lines.size(); k < polylines.size(); ++k)
            ignored += (ignored.empty() ? "" : ", ") + std::to_string(k + 1);
        Log(kKivLogWarning) << "Only " << static_cast<int>(kMaxCountingLines) << " counting lines are counted ("
                            << lines_name << "): the lines " << ignored << " are ignored";
    }
    // A line that can count nothing is kept (and counts nothing); the other lines count.
    if (polylines.empty())
        Log(kKivLogWarning) << "No counting line in " << lines_name << ": nothing is counted";
    for (std::size_t k = 0; k < m_lines.size(); ++k) {
        const std::string defect = ParamsLib::CountingLineDefect(polylines[k]);
        if (!defect.empty())
            Log(kKivLogWarning) << "Counting line " << m_lines[k].id << " (" << lines_name
                                << ") can count nothing: " << defect;
    }

    const std::size_t pixels = static_cast<std::size_t>(m_w) * static_cast<std::size_t>(m_h);
    // A new format starts a new background, taken from the next frame.
    m_background = CSimpleBackgroundSubtractor();
    m_changed_pixels = -1;
    m_work.assign(pixels, 0);
    m_source_grey.assign(pixels, 0);
    m_tracking.assign(pixels, 0);
    m_scratch.assign(pixels, 0);
    m_perspective_scratch.assign(pixels, 0);
    m_extremums.Resize(m_w, m_h, 0);
    m_labels.image.Resize(m_w, m_h, 0);
    m_sum_a.assign(pixels, 0);
    m_sum_b.assign(pixels, 0);
    m_sum_c.assign(pixels, 0);
    if (m_objects_info.capacity() < kReservedRecords)
        m_objects_info.reserve(kReservedRecords);
    if (m_keypoints.capacity() < kReservedRecords)
        m_keypoints.reserve(kReservedRecords);
    m_region_points.reserve(kReservedRecords);
    m_label_rect = {0, 0, m_w - 1, m_h - 1};

    const GaussBlurType blur_type = m_params.gauss_type();
    m_blur = MakeBlur(blur_type);
    if (!m_blur)
        FailInit("unknown gauss_type " + std::to_string(static_cast<int>(blur_type)));
    m_gauss_window = AlgoLibrary::RoundHalfAwayFromZero(BlurRadiusFactor(blur_type) * m_target_radius *
                                                        m_params.gauss_radius_multiplier() * zoom);

    InitPerspectiveFilter(perspective);
    if (!m_blur->InitProc(m_gauss_window, m_gauss_window))
        FailInit("the blur refuses the window " + std::to_string(m_gauss_window));

    m_initialised = true;
    m_uniform = m_perspective.IsIdentity();
    Log(kKivLogInfo) << "Perspective transform detected to be uniform (noop): " << (m_uniform ? "true" : "false");

    TrackingParameters tracking;
    tracking.comparison_mode = 1;
    tracking.min_diameter = 0;
    tracking.min_length = 1;
    std::fill(std::begin(tracking.rectangle), std::end(tracking.rectangle), -1);
    tracking.prediction_gate = false;
    m_tracker.Init(m_w, m_h, tracking, nullptr);
    if (m_optic_flow_enabled)
        m_optic_flow.Init(m_w, m_h, m_target_radius);

    m_pre_smooth = m_params.pre_smooth();
    m_debug_enabled = m_params.generate_debug_info();
    m_mark_running = m_params.mark_extremums_running();
    m_lambda_thr = m_params.lambda_thr();
    m_alpha = static_cast<double>(m_params.background_subtractor_alpha());

    Log(kKivLogInfo) << "Video format w = " << m_w << ", h = " << m_h << ", bpp = " << format.bytes_per_pixel
                     << ", bpl = " << format.bytes_per_line;
    Log(kKivLogInfo) << "gaussWindowsDim = " << m_gauss_window;
    std::ostringstream description;
    ParamsLib::TraverseParameters(this, CompactParameterDescription<BlockEntities::Context>(description));
    Log(kKivLogInfo) << "\n Parameter values:\n" << description.str();
    m_common.optic_flow_shift_filter_enabled = m_optic_flow_enabled;
}

std::string CTrafficController::CheckParameterRanges(const PerspectiveFilterParams& perspective) const
{
    using ParamsLib::CheckWorkingRange;
    using ParamsLib::OutOfRangeText;
    using ParamsLib::WorkingRange;
    const BlockEntities::Context& own = GetContext();
    const std::string perspective_name = GetFullParameterName(m_params.perspective_filter.GetName(), own);
    const float size = static_cast<float>(std::max(m_w, m_h));
    const float smaller_side = static_cast<float>(std::min(m_w, m_h));
    const float radius = m_target_radius;
    const float zoom = perspective.zoom;
    const std::string image = "the image " + std::to_string(m_w) + "x" + std::to_string(m_h);
    const std::string of_radius =
        "with the target radius " + ParamsLib::NumberText(radius) + " (target_circle)" +
        (zoom != 1.f ? " and the zoom " + ParamsLib::NumberText(zoom) + " (perspective_filter)" : std::string()) +
        " of " + image;
    // A radius or window derived from a multiplier must fit the image: the loops over them run
    // in pixels.
    const auto multiplier_range = [&](float scale, float low, float high) {
        return WorkingRange::Closed(static_cast<double>(low / scale), static_cast<double>(high / scale));
    };

    const OpticFlowParams& flow = m_optic_flow.GetParams();
    const BlockEntities::Context& flow_context = m_optic_flow.GetContext();
    // A blur window of 0 or less filters nothing. The one-dimensional kernels keep their sums in
    // 32 bits up to a radius of kMax1DRadius; the other blurs take any window.
    const GaussBlurType blur_type = m_params.gauss_type();
    const bool one_dimensional = blur_type == kGaussBox1 || blur_type == kGaussBox2 || blur_type == kGaussExpApprox;
    const double blur_scale = static_cast<double>(BlurRadiusFactor(blur_type) * radius * zoom);

    // A field of the perspective filter, shown with the text it was read from (quoted).
    const std::string perspective_text = logged_text::LoggedValue(m_params.perspective_filter.GetTextAsRead());
    const auto perspective_field = [&](float value) {
        return ParamsLib::NumberText(value) + " (" + perspective_name + " = " + perspective_text + ")";
    };
    std::vector<std::string> refusals = {
        // The perspective filter works in pixels within +-kMaxPerspectivePixels.
        OutOfRangeText(perspective_name + ".zoom", zoom, WorkingRange{0, kMaxPerspectivePixels / size, true, false},
                       "the zoomed picture within " + std::to_string(kMaxPerspectivePixels) + " pixels",
                       perspective_field(zoom)),
        OutOfRangeText(GetFullParameterName(m_params.target_circle.GetName(), own), radius,
                       WorkingRange::Closed(1, size), "the radius the circle gives, in pixels of " + image,
                       logged_text::LoggedValue(m_params.target_circle.GetTextAsRead()) + ", the radius " +
                           ParamsLib::NumberText(radius)),
        OutOfRangeText(perspective_name + ".top_factor", perspective.top_factor, WorkingRange::Above(0), "",
                       perspective_field(perspective.top_factor)),
        OutOfRangeText(perspective_name + ".bottom_factor", perspective.bottom_factor, WorkingRange::Above(0), "",
                       perspective_field(perspective.bottom_factor)),
        one_dimensional ? CheckWorkingRange(m_params.gauss_radius_multiplier, own,
                                            WorkingRange::Below((GaussianFixed::kMax1DRadius + 0.5) / blur_scale),
                                            "the blur radius " + of_radius + " must be at most " +
                                                std::to_string(GaussianFixed::kMax1DRadius))
                        : std::string(),
        CheckWorkingRange(m_params.keypoint_ops_radius_multiplier, own, multiplier_range(radius * zoom, 0.5f, size),
                          "the keypoint radius " + of_radius + " must lie in 1 .. " + ParamsLib::NumberText(size)),
        CheckWorkingRange(m_params.background_subtractor_alpha, own, WorkingRange::Closed(0, 1),
                          "the share of a new frame in the background"),
        // Brightness problems only warn here: any limits run.
        m_brightness.CheckWorkingRanges(false),
    };
    if (m_params.optic_flow_shift_filter_enabled()) {
        const std::vector<std::string> flow_refusals = {
            CheckWorkingRange(flow.cv_term_iter, flow_context, WorkingRange::AtLeast(1),
                              "the tracker needs at least one iteration"),
            CheckWorkingRange(flow.cv_term_eps, flow_context, WorkingRange::AtLeast(0)),
            CheckWorkingRange(flow.point_step_factor, flow_context, WorkingRange::AtLeast(1)),
            CheckWorkingRange(flow.object_radius_multiplier, flow_context, multiplier_range(radius, 0.f, size),
                              "the object radius " + of_radius + " must lie in 0 .. " + ParamsLib::NumberText(size)),
            CheckWorkingRange(flow.window_radius_multiplier, flow_context,
                              multiplier_range(radius, 1.5f, (smaller_side - 1.f) / 2.f),
                              "the window radius " + of_radius + " must lie in 2 .. " +
                                  ParamsLib::NumberText(std::floor((smaller_side - 1.f) / 2.f))),
            CheckWorkingRange(flow.min_point_shift_multiplier, flow_context, multiplier_range(radius, 0.f, size),
                              "the least shift " + of_radius + " must lie in 0 .. " + ParamsLib::NumberText(size)),
        };
        refusals.insert(refusals.end(), flow_refusals.begin(), flow_refusals.end());
    }
    for (const std::string& refusal : refusals)
        if (!refusal.empty())
            return refusal;
    return std::string();
}

void CTrafficController::InitPerspectiveFilter(const PerspectiveFilterParams& p)
{
    const int w = m_w;
    const int h = m_h;
    const int hz = TruncateClamped(static_cast<double>(p.zoom * static_cast<float>(h)));
    const int wz = TruncateClamped(static_cast<double>(p.zoom * static_cast<float>(w)));
    const int top = TruncateClamped(static_cast<double>(static_cast<float>(wz) * p.top_factor));
    const int bottom = TruncateClamped(static_cast<double>(static_cast<float>(wz) * p.bottom_factor));
    const int sx = TruncateClamped(static_cast<double>(static_cast<float>(wz) * p.shift_x));
    const int t = TruncateClamped(static_cast<double>(static_cast<float>(wz) * p.translation));
    const int sy = TruncateClamped(static_cast<double>(static_cast<float>(hz) * p.shift_y));
    for (long long value : {static_cast<long long>(hz), static_cast<long long>(top), static_cast<long long>(bottom),
                            static_cast<long long>(sx) + t, static_cast<long long>(sy)})
        if (value > kMaxPerspectivePixels || value < -kMaxPerspectivePixels)
            FailInit("Parameter " + GetFullParameterName(m_params.perspective_filter.GetName(), GetContext()) + " = " +
                     logged_text::LoggedValue(m_params.perspective_filter.GetTextAsRead()) +
                     " cannot work: its zoom, factors, shifts and translation must keep the picture within " +
                     std::to_string(kMaxPerspectivePixels) + " pixels");

    const kiv::SPOINT source[4] = {{0, 0}, {w - 1, 0}, {w - 1, h - 1}, {0, h - 1}};
    const kiv::SPOINT destination[4] = {
        {w / 2 - top / 2 + sx + t, h / 2 - hz / 2 + sy},
        {w / 2 + top / 2 - 1 + sx + t, h / 2 - hz / 2 + sy},
        {w / 2 + bottom / 2 - 1 + sx, h / 2 + hz / 2 - 1 + sy},
        {w / 2 - bottom / 2 + sx, h / 2 + hz / 2 - 1 + sy},
    };
    m_perspective.InitTableAndDestinationRegion(source, destination, w, h, 1, w, true, m_perspective_region);
    if (!m_perspective.IsForwardValid() || !m_perspective.IsInverseValid())
        FailInit("the perspective_filter transform cannot be solved");
}

float CTrafficController::GetMaximalPathInObjectRadius() const
{
    return m_tracker.EstimateMaxDiameterToMinTypicalTrackLength(m_target_radius);
}

void CTrafficController::RequireInitialised() const
{
    KIV_CHECK(m_initialised && m_blur, "TrafficControllerNotInitialised_261209_132001")
        << "CTrafficController: ProcessImage before a successful InitImage";
}

// Grey conversion: the analysis works on one 8-bit grey image whatever the camera delivers. Rows
// follow the format's row order; with the tracker's y measured upward, positions and counting
// lines come out in the frame's own row order.
void CTrafficController::RgbToGrayCustom(const kiv::VideoFormat& format, const unsigned char* source,
                                         avector<unsigned char>& destination)
{
    const int w = format.width;
    const int h = format.height;
    destination.resize(static_cast<std::size_t>(w) * static_cast<std::size_t>(h));
    const std::ptrdiff_t bpl = format.bytes_per_line;
    const int bpp = format.bytes_per_pixel;
    for (int y = 0; y < h; ++y) {
        const int source_row = format.row_order == 1 ? y : h - 1 - y;
        const unsigned char* in = source + static_cast<std::ptrdiff_t>(source_row) * bpl;
        unsigned char* out = destination.data() + static_cast<std::size_t>(y) * static_cast<std::size_t>(w);
        if (format.pixel_format == 1) {
            if (bpp == 1) {
                std::memcpy(out, in, static_cast<std::size_t>(w));
            } else {
                for (int x = 0; x < w; ++x) out[x] = in[static_cast<std::ptrdiff_t>(x) * bpp];
            }
        } else {
            for (int x = 0; x < w; ++x) {
                const unsigned char* p = in + static_cast<std::ptrdiff_t>(x) * bpp;
                out[x] = static_cast<unsigned char>((117 * p[0] + 601 * p[1] + 306 * p[2] + 512) >> 10);
            }
        }
    }
}

// Brightness watch: a scene that is too dark, too bright or changes brightness abruptly makes the
// background difference unreliable; the mean of one pixel in nine is cheap and enough to warn the
// operator. The warnings change nothing in the counting.
int CTrafficController::BrightnessMean(const avector<unsigned char>& image, int width, int height)
{
    if (width < 2 || height < 2)
        return 0;
    long long sum = 0;
    for (int y = 1; y < height; y += 3) {
        const unsigned char* row = image.data() + static_cast<std::size_t>(y) * static_cast<std::size_t>(width);
        for (int x = 1; x < width; x += 3) sum += row[x];
    }
    const long long count = static_cast<long long>((height - 2) / 3 + 1) * ((width - 2) / 3 + 1);
    return static_cast<int>(sum / count);
}

void CTrafficController::WatchBrightness(int mean, long long time)
{
    StatSpecialValueInt("grey intensity mean", mean, kStatBrightness);
    const auto changes = m_brightness.ProcessNextValueAndGetAlarmChanges(mean, time);
    // A warning is logged when it starts, and its end only once it has stayed off for a while, so
    // that a flickering light gives one warning and not one line per frame. A rise and a fall of a
    // flicker are one unsteady state: the first of them is logged.
    using Monitor = AlgoBlocks::Monitor<double>;
    const std::uint32_t kinds[kBrightnessKinds] = {Monitor::kTooHigh, Monitor::kTooLow,
                                                   Monitor::kFastIncrease | Monitor::kFastDecrease};
    for (int k = 0; k < kBrightnessKinds; ++k) {
        BrightnessReport& report = m_brightness_reports[k];
        const std::uint32_t bits = changes.current & kinds[k];
        if (bits) {
            report.last_seen = time;
            if (report.reported)
                continue;
            report.reported = true;
            if (bits & Monitor::kTooHigh)
                Log(kKivLogWarning) << "Frame brightness: Too_High (" << mean << ").";
            else if (bits & Monitor::kTooLow)
                Log(kKivLogWarning) << "Frame brightness: Too_Low (" << mean << ").";
            else if (bits & Monitor::kFastIncrease)
                Log(kKivLogWarning) << "Frame brightness: Too_FastIncrease (" << mean << " now).";
            else
                Log(kKivLogWarning) << "Frame brightness: Too_FastDecrease (" << mean << " now).";
            continue;
        }
        if (!report.reported || time - report.last_seen < kBrightnessRecoveryTicks)
            continue;
        report.reported = false;
        if (kinds[k] == Monitor::kTooHigh)
            Log(kKivLogWarning) << "Frame brightness: not_Too_High (" << mean << ").";
        else if (kinds[k] == Monitor::kTooLow)
            Log(kKivLogWarning) << "Frame brightness: not_Too_Low (" << mean << ").";
    }
}

// Perspective: a camera that is not looking straight down sees the passage as a trapezoid; the
// frame is resampled so that it looks like a top view and a person has about the same size
// everywhere.
void CTrafficController::ApplyPerspectiveFilter(avector<unsigned char>& image)
{
    if (!m_perspective.IsForwardValid())
        return;  // the image stays as it is
    const std::vector<int>& table = m_perspective.ForwardTable();
    if (table.empty()) {
        m_perspective.Process(image.data(), m_perspective_scratch.data(), m_w, m_h, 1, m_w, m_w, m_h, m_w);
    } else {
        const std::size_t n = std::min(table.size(), m_perspective_scratch.size());
        for (std::size_t i = 0; i < n; ++i)
            m_perspective_scratch[i] = table[i] < 0 ? 255 : image[static_cast<std::size_t>(table[i])];
    }
    image.swap(m_perspective_scratch);
}

// Background subtraction: people are what differs from the slowly learnt empty scene. The
// difference image feeds the extremum search, and the share of changed pixels is the "anything
// moves" measure the algorithm thread compares with its threshold.
void CTrafficController::SubtractBackground(avector<unsigned char>& image)
{
    if (!m_background.IsInitialised()) {
        m_background.Init(image.data(), m_alpha, m_w, m_h, 1, m_w, true, 2);
    } else if (m_uniform) {
        m_background.Update(image.data());
    } else {
        m_background.Update(image.data(), m_perspective_region);
    }
    const std::vector<uint32_t>& background = m_background.Background();
    const long long changed =
        SubtractBackgroundPixels(background.data(), image.data(), std::min(background.size(), image.size()));
    const long long model_pixels = static_cast<long long>(m_background.Width()) * m_background.Height();
    m_changed_percent = model_pixels > 0 ? static_cast<float>(changed * 100.0 / model_pixels) : 0.f;
    if (m_init.callback && changed != m_changed_pixels)
        m_init.callback(changed, m_changed_percent);
    m_changed_pixels = changed;
}

long long CTrafficController::SubtractBackgroundPixels(const uint32_t* background, unsigned char* image, std::size_t n)
{
    constexpr int kShift = CSimpleBackgroundSubtractor::kFractionBits;
    long long changed = 0;
    std::size_t i = 0;
#if CV_SIMD
    if (AlgoLibrary::ActiveKernelPath() == AlgoLibrary::KernelPath::kVector) {
        const std::size_t lanes = static_cast<std::size_t>(cv::v_uint8::nlanes);
        const std::size_t words = static_cast<std::size_t>(cv::v_uint32::nlanes);
        const cv::v_uint8 below = cv::vx_setall_u8(static_cast<unsigned char>(kChangedPixelThreshold - 1));
        const cv::v_uint8 one = cv::vx_setall_u8(1);
        for (; i + lanes <= n; i += lanes) {
            const uint32_t* b = background + i;
            // Levels above 255 (not reached by an average of bytes) saturate, as in the scalar path.
            const cv::v_uint16 low =
                cv::v_pack(cv::v_shr<kShift>(cv::vx_load(b)), cv::v_shr<kShift>(cv::vx_load(b + words)));
            const cv::v_uint16 high = cv::v_pack(cv::v_shr<kShift>(cv::vx_load(b + 2 * words)),
                                                 cv::v_shr<kShift>(cv::vx_load(b + 3 * words)));
            const cv::v_uint8 difference = cv::v_absdiff(cv::vx_load(image + i), cv::v_pack(low, high));
            cv::v_store(image + i, difference);
            changed += cv::v_reduce_sum((difference > below) & one);
        }
        cv::vx_cleanup();
    }
#endif
    for (; i < n; ++i) {
        const int level = static_cast<int>(std::min<uint32_t>(background[i] >> kShift, 255u));
        const int difference = std::abs(static_cast<int>(image[i]) - level);
        image[i] = static_cast<unsigned char>(difference);
        changed += difference >= kChangedPixelThreshold;
    }
    return changed;
}

// Extremum marking: after the blur, a person's head and shoulders become one smooth hill in the
// difference image; its top, found within the keypoint radius, marks one candidate per person.
void CTrafficController::MarkExtremums(const avector<unsigned char>& image, CGrayImage<int>& marks)
{
    marks.Fill(0);
    const int r = m_keypoint_radius;
    if (m_mark_running) {
        m_mark_extremums.MarkExtremumsRunningWindowEntireImage(image, m_w, m_h, marks, r, r / 2);
    } else if (m_uniform) {
        const AlgoLibrary::RectangularFilterRegion<kiv::SRECT> whole{{0, 0, m_w, m_h}, m_w, m_h};
        MarkExtremumsEx<false, true>(image, marks, whole, r, std::max(r, 10));
    } else {
        MarkExtremumsEx<false, true>(image, marks, m_perspective_region, r, std::max(r, 10));
    }
}

// Structure sums of the blurred difference around the region points: a hill that falls off in
// every direction (a person) has a large smaller eigenvalue, a ridge along an edge of changed light
// a small one.
void CTrafficController::CalcGradientAroundPoints(const avector<unsigned char>& image, int width, int height,
                                                  avector<int64_t>& a, avector<int64_t>& b, avector<int64_t>& c, int r,
                                                  const std::vector<kiv::SPOINT>& points)
{
    const std::size_t pixels = static_cast<std::size_t>(width) * static_cast<std::size_t>(height);
    for (avector<int64_t>* sums : {&a, &b, &c})
        if (sums->size() < pixels)
            sums->resize(pixels);
    for (const kiv::SPOINT& point : points) {
        if (point.x < 0 || point.y < 0 || point.x >= width || point.y >= height)
            continue;
        int64_t sa = 0, sb = 0, sc = 0;
        const int j_end = std::min(point.y + r + 1, height - 1);
        const int i_begin = std::max(point.x - r, 0);
        const int i_end = std::min(point.x + r + 1, width - 1);
        for (int j = std::max(point.y - r, 0); j < j_end; ++j) {
            const unsigned char* row = image.data() + static_cast<std::size_t>(j) * static_cast<std::size_t>(width);
            const unsigned char* next = row + width;
            for (int i = i_begin; i < i_end; ++i) {
                const int d1 = next[i + 1] - row[i];
                const int d2 = next[i] - row[i + 1];
                sa += d1 * d1;
                sb += d1 * d2;
                sc += d2 * d2;
            }
        }
        const std::size_t index = static_cast<std::size_t>(point.x) + static_cast<std::size_t>(point.y) * width;
        a[index] = sa;
        b[index] = sb;
        c[index] = sc;
    }
}

float CTrafficController::Lambda(int64_t a, int64_t b, int64_t c, int r)
{
    const double n = 2.0 * r + 1.0;
    const double n2 = n * n;
    const float t = static_cast<float>((static_cast<double>(a) + static_cast<double>(c)) / (2.0 * n2));
    const double determinant = static_cast<double>(a) * static_cast<double>(c) - static_cast<double>(b) * b;
    const float d = static_cast<float>(determinant / (n2 * n2));
    const double root = std::sqrt(std::fabs(static_cast<double>(t) * t - static_cast<double>(d)));
    return static_cast<float>((t - root) * 0.5);
}

// Key points: one per labelled region, kept only where the hill is well localised in both
// directions (lambda_thr), each with its region's mark so that the tracker joins points of one
// region only.
void CTrafficController::FillKeypoints(const std::list<CRegion>& regions, const avector<unsigned char>& image,
                                       const CGrayImage<int>& marks, avector<KPoint>& keypoints)
{
    keypoints.clear();
    m_region_points.clear();
    for (const CRegion& region : regions) m_region_points.push_back({region.cx, region.cy});
    const bool filter = m_lambda_thr > 0.f;
    const int r = m_keypoint_radius;
    if (filter)
        CalcGradientAroundPoints(image, m_w, m_h, m_sum_a, m_sum_b, m_sum_c, r, m_region_points);
    for (const kiv::SPOINT& point : m_region_points) {
        if (point.x < 0 || point.y < 0 || point.x >= m_w || point.y >= m_h)
            continue;
        float lambda = 1.f;
        if (filter) {
            const std::size_t index = static_cast<std::size_t>(point.x) + static_cast<std::size_t>(point.y) * m_w;
            lambda = Lambda(m_sum_a[index], m_sum_b[index], m_sum_c[index], r);
        }
        if (lambda >= m_lambda_thr)
            keypoints.push_back({point.x, point.y, lambda, marks.At(point.x, point.y)});
    }
}

// Neighbouring key points of one region closer than the keypoint radius belong to one person:
// they are merged, so that a person gives one path rather than several.
void CTrafficController::UniteNeighbours(avector<KPoint>& keypoints, int r)
{
    const std::size_t n = keypoints.size();
    for (std::size_t i = 0; i < n; ++i) {
        KPoint& p = keypoints[i];
        if (p.x == -1)
            continue;
        for (std::size_t j = i + 1; j < n; ++j) {
            KPoint& q = keypoints[j];
            if (q.x == -1 || q.mark != p.mark)
                continue;
            if (std::abs(p.x - q.x) <= r && std::abs(p.y - q.y) <= r) {
                p.x = (p.x + q.x) / 2;
                p.y = (p.y + q.y) / 2;
                q.x = -1;
            }
        }
    }
    keypoints.erase(std::remove_if(keypoints.begin(), keypoints.end(), [](const KPoint& k) { return k.x == -1; }),
                    keypoints.end());
}

// One frame through the pipeline. Each stage is timed under its statistics name, and with
// generate_debug_info it leaves a copy of its result in the debug information.
void CTrafficController::ProcessImage(const unsigned char* frame, long long time)
{
    RequireInitialised();
    KIV_CHECK(frame != nullptr, "TrafficControllerFrame_261209_132000") << "CTrafficController: null frame";

    StatSpecialValueInt("image_time", time, kStatTime);
    const auto total = StatScopedTimeCalculator("total_frame");
    {
        const auto timer = StatScopedTimeCalculator("delete_unused_objects");
        DeleteUnusedObjects();
        StatValueInt("object count without new", static_cast<long long>(m_objects.size()));
    }
    {
        const auto timer = StatScopedTimeCalculator("rgb_to_custom_gray");
        RgbToGrayCustom(m_format, frame, m_work);
        std::copy(m_work.begin(), m_work.end(), m_source_grey.begin());
        if (m_debug_enabled)
            m_debug.grey.assign(m_work.begin(), m_work.end());
    }
    // Pre-smoothing: a 3 x 3 mean takes the sensor noise out before anything is compared.
    if (m_pre_smooth) {
        const auto timer = StatScopedTimeCalculator("pre_smooth");
        // The 3 x 3 mean writes no border pixel: the border rows and columns of the smoothed
        // image are 0 (the scratch image comes back from the swap holding the last frame).
        ClearBorder(m_scratch, m_w, m_h);
        AlgoLibrary::filter_smoothness(m_work, m_scratch, m_w, m_h, 1, -1);
        m_work.swap(m_scratch);
    }
    {
        const auto timer = StatScopedTimeCalculator("compute_brightness");
        WatchBrightness(BrightnessMean(m_work, m_w, m_h), time);
    }
    {
        const auto timer = StatScopedTimeCalculator("perspective_filter");
        if (!m_uniform)
            ApplyPerspectiveFilter(m_work);
        std::copy(m_work.begin(), m_work.end(), m_tracking.begin());
    }
    {
        const auto timer = StatScopedTimeCalculator("subtract_background");
        SubtractBackground(m_work);
        if (m_debug_enabled)
            m_debug.difference.assign(m_work.begin(), m_work.end());
    }
    // Blur at the size of a person, so that one person becomes one hill of the difference image.
    {
        const auto timer = StatScopedTimeCalculator("gaussian_blur");
        m_blur->ProcessGray(m_work.data(), m_w, m_h);
        if (m_debug_enabled)
            m_debug.blurred.assign(m_work.begin(), m_work.end());
    }
    {
        const auto timer = StatScopedTimeCalculator("mark_extremums");
        MarkExtremums(m_work, m_extremums);
        std::copy(m_extremums.pixels.begin(), m_extremums.pixels.end(), m_labels.image.pixels.begin());
        if (m_debug_enabled) {
            m_debug.extremums.Resize(m_w, m_h);
            std::copy(m_extremums.pixels.begin(), m_extremums.pixels.end(), m_debug.extremums.pixels.begin());
        }
    }
    // Regions: the pixels around each local maximum are labelled, one region per hill.
    {
        const auto timer = StatScopedTimeCalculator("fill_regions");
        CLabeller(kMarkLocalMaximum, m_label_rect, m_label_rect, 0).CreateRegions(m_labels);
        StatValueInt("region count", static_cast<long long>(m_labels.regions.size()));
        if (m_debug_enabled) {
            m_debug.labels.image.Resize(m_w, m_h);
            std::copy(m_labels.image.pixels.begin(), m_labels.image.pixels.end(), m_debug.labels.image.pixels.begin());
            m_debug.labels.regions = m_labels.regions;
        }
    }
    {
        const auto timer = StatScopedTimeCalculator("fill_keypoints");
        FillKeypoints(m_labels.regions, m_work, m_extremums, m_keypoints);
        StatValueInt("keypoint count", static_cast<long long>(m_keypoints.size()));
    }
    {
        const auto timer = StatScopedTimeCalculator("unite_neighbours");
        UniteNeighbours(m_keypoints, m_keypoint_radius);
        StatValueInt("unite-kp count", static_cast<long long>(m_keypoints.size()));
        m_debug.keypoints.assign(m_keypoints.begin(), m_keypoints.end());
    }
    // Tracking on the perspective-corrected frame (not the difference image), where a person's
    // texture moves with the person from one frame to the next.
    {
        const auto timer = StatScopedTimeCalculator("tracking_points");
        m_tracker.TrackingPoints(m_tracking, time, m_keypoints);
    }
    // Objects: the valid paths become points in input-image coordinates, grouped into objects,
    // each remembering on which side of every counting line it has settled.
    {
        const auto timer = StatScopedTimeCalculator("make_objects");
        const std::vector<IPoint>& points = m_tracker.GetPoints();
        m_points.assign(points.begin(), points.end());
        StatValueInt("features count", static_cast<long long>(m_points.size()));
        DeleteInfoPointsByNext(m_points);
        StatValueInt("alive-next features count", static_cast<long long>(m_points.size()));
        ReinitInfoPoints();
        ProcessFeaturePoints(m_points);
        StatSpecialValueInt("m_last_info_id", m_last_info_id, kStatTime);
        CompileObjects(m_points);
        StatValueInt("m_objects_info.size", static_cast<long long>(m_objects_info.size()));
        DeleteInfoPointsByErase(m_points);
        StatValueInt("not-erased features count", static_cast<long long>(m_points.size()));
        UpdateObjectsInContainer();
        StatValueInt("object count including new", static_cast<long long>(m_objects.size()));
    }
    // Optic flow: a crossing counts only for an object whose own pixels moved consistently, which
    // tells a walking person from a change of light that moved a hill.
    if (m_optic_flow_enabled) {
        const auto timer = StatScopedTimeCalculator("optic_flow");
        m_optic_flow.Process(m_source_grey.data(), ConstNullEndIterator(m_objects));
        ApplyOpticFlow(m_optic_flow.m_good_flow);
    }
    {
        const auto timer = StatScopedTimeCalculator("update_intersections");
        UpdateIntersections();
        if (m_debug_enabled)
            m_debug.objects = m_objects;
    }
}
