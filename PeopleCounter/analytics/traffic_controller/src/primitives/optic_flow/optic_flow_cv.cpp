#include "PeopleCounter/analytics/traffic_controller/src/primitives/optic_flow/optic_flow_cv.h"

#include <climits>
#include <cmath>
#include <cstring>
#include <stdexcept>

#include "CommonUtilities/algorithm_support/kiv_exception.h"
#include "CommonUtilities/algorithm_support/rounding.h"
#include "PeopleCounter/analytics/traffic_controller/src/primitives/optic_flow/optic_flow_lk_fixed.h"

namespace {

constexpr int kPyramidLevels = 3;

// Bytes of the pyramid levels 1..levels above a frame, each row padded to 8 bytes.
std::size_t PyramidBytes(cv::Size size, int levels)
{
    std::size_t bytes = 0;
    for (int l = 1; l <= levels; ++l) {
        size = cv::Size((size.width + 1) >> 1, (size.height + 1) >> 1);
        bytes += static_cast<std::size_t>((size.width + 7) & ~7) * static_cast<std::size_t>(size.height);
    }
    return bytes;
}

}  // namespace

COpticFlowCV::COpticFlowCV() = default;

COpticFlowCV::~COpticFlowCV() = default;

void COpticFlowCV::InitializeDefaultParameters()
{
    InitValueParameterDefault(m_params.fixed_point, "", "", "fixed_point", "use fixed point algorithm", "", true);
    InitValueParameterDefault(m_params.cv_term_iter, "", "", "cv_term_iter",
                              "number of iterations for lucas-kanade algorithm", "", 20);
    InitValueParameterDefault(m_params.cv_term_eps, "", "", "cv_term_eps", "lucas-canade algorithm eps", "", 0.02);
    InitValueParameterDefault(m_params.object_radius_multiplier, "", "", "object_radius_multiplier",
                              "object radius for optic flow relative to target radius", "", 0.41666666f);
    InitValueParameterDefault(m_params.point_step_factor, "", "", "point_step_factor",
                              "object_radius / point_step_factor = distance between adjacent points", "", 2);
    InitValueParameterDefault(m_params.window_radius_multiplier, "", "", "window_radius_multiplier",
                              "window radius for a point in lucas-kanade algorithm relative to target radius", "",
                              0.20833333f);
    InitValueParameterDefault(
        m_params.min_point_shift_multiplier, "", "", "min_point_shift_multiplier",
        "minimum shift of point in x and y for the point to be accepted relative to target radius", "", 0.020833f);
}

void COpticFlowCV::Init(int width, int height, float target_radius)
{
    KIV_CHECK(width > 0 && height > 0 && static_cast<long long>(width) * height <= INT_MAX,
              "OpticFlowSize_151012_102001")
        << "COpticFlowCV: bad frame size" << width << height;
    const int step_factor = m_params.point_step_factor();
    // A factor below 1 makes no grid step (a step of 0 never leaves the first object).
    KIV_CHECK(step_factor >= 1, "OpticFlowStep_151012_102002")
        << "COpticFlowCV: point_step_factor must be at least 1, got" << step_factor;

    m_size = cv::Size(width, height);
    m_object_radius = AlgoLibrary::RoundHalfAwayFromZero(target_radius * m_params.object_radius_multiplier());
    m_window_radius = AlgoLibrary::RoundHalfAwayFromZero(target_radius * m_params.window_radius_multiplier());
    m_min_point_shift = target_radius * m_params.min_point_shift_multiplier();
    m_point_step = std::max(1, m_object_radius / step_factor);

    // The previous frame starts black: the first frame's points are followed against it.
    m_frame = cv::Mat(m_size, CV_8UC1, cv::Scalar(0));
    m_prev_frame = cv::Mat(m_size, CV_8UC1, cv::Scalar(0));
    const std::size_t pyramid_bytes = std::max(static_cast<std::size_t>(width) * static_cast<std::size_t>(height),
                                               PyramidBytes(m_size, kPyramidLevels));
    m_pyramid = cv::Mat(1, static_cast<int>(pyramid_bytes), CV_8UC1, cv::Scalar(0));
    m_prev_pyramid = cv::Mat(1, static_cast<int>(pyramid_bytes), CV_8UC1, cv::Scalar(0));
    m_prev_points.assign(kMaxPoints, cv::Point2f());
    m_next_points.assign(kMaxPoints, cv::Point2f());
    m_point_ids.assign(kMaxPoints, 0);
    m_status.assign(kMaxPoints, 0);
    m_point_count = 0;
    m_flags = 0;
    m_good_flow.clear();

    Log(kKivLogInfo) << "\n"
                     << "object_radius = " << m_object_radius << "\n"
                     << "window_radius = " << m_window_radius << "\n"
                     << "min_point_shift = " << m_min_point_shift;
    m_initialized = true;
}

void COpticFlowCV::Process(const unsigned char* image, Objects objects)
{
    if (!m_initialized)
        throw std::logic_error("COpticFlow is not initialized.");
    KIV_CHECK(image != nullptr, "OpticFlowImage_151012_102003") << "COpticFlowCV: no image";
    m_good_flow.clear();
    Objects second_pass = objects;

    // Row by row: the image's rows are exactly `width` bytes; the frame buffer's may be longer.
    for (int y = 0; y < m_size.height; ++y)
        std::memcpy(m_frame.ptr(y), image + static_cast<std::size_t>(y) * static_cast<std::size_t>(m_size.width),
                    static_cast<std::size_t>(m_size.width));

    // Judge each object by the flow of its points over the last frame pair.
    const float min_shift = m_min_point_shift;
    for (const PointWithId* p = objects(); p; p = objects()) {
        int n = 0;
        int moved = 0;
        cv::Point2f sum(0.f, 0.f);
        float length = 0.f;
        for (int i = 0; i < m_point_count; ++i) {
            if (m_point_ids[static_cast<std::size_t>(i)] != p->id)
                continue;
            const cv::Point2f d =
                m_prev_points[static_cast<std::size_t>(i)] - m_next_points[static_cast<std::size_t>(i)];
            ++n;
            if (std::fabs(d.x) >= min_shift || std::fabs(d.y) >= min_shift)
                ++moved;
            sum += d;
            length += std::sqrt(d.x * d.x + d.y * d.y);
        }
        const float resultant = std::sqrt(sum.x * sum.x + sum.y * sum.y);
        m_good_flow[p->id] = 0.5f * length < resultant && moved > n / 2;
    }

    // Seed a grid around each object's centre.
    m_point_count = 0;
    const int r = m_object_radius;
    const int w = m_window_radius;
    for (const PointWithId* p = second_pass(); p; p = second_pass()) {
        if (r < 0)
            continue;
        const long long cx = p->x;
        const long long cy = static_cast<long long>(m_size.height) - 1 - p->y;
        for (int dy = -r; dy <= r; dy += m_point_step) {
            for (int dx = -r; dx <= r; dx += m_point_step) {
                const long long row = cy + dy;
                const long long col = cx + dx;
                if (row - w < 0 || row + w >= m_size.height || col - w < 0 || col + w >= m_size.width ||
                    m_point_count >= kMaxPoints)
                    continue;
                const cv::Point2f seed(static_cast<float>(col), static_cast<float>(row));
                m_prev_points[static_cast<std::size_t>(m_point_count)] = seed;
                m_next_points[static_cast<std::size_t>(m_point_count)] = seed;
                m_point_ids[static_cast<std::size_t>(m_point_count)] = p->id;
                ++m_point_count;
            }
        }
    }

    CalcOpticalFlow(false, second_pass);
}

void COpticFlowCV::CalcOpticalFlow(bool unused, Objects objects)
{
    (void)unused;
    (void)objects;
    if (m_point_count > 0) {
        const cv::TermCriteria criteria(cv::TermCriteria::COUNT + cv::TermCriteria::EPS, m_params.cv_term_iter(),
                                        static_cast<float>(m_params.cv_term_eps()));
        const auto track = m_params.fixed_point() ? &cvCalcOpticalFlowPyrLK_N : &cvCalcOpticalFlowPyrLK_Float;
        track(m_prev_frame, m_frame, &m_prev_pyramid, &m_pyramid, m_prev_points.data(), m_next_points.data(),
              m_point_count, cv::Size(m_window_radius, m_window_radius), kPyramidLevels, m_status.data(), nullptr,
              criteria, m_flags);
        m_flags |= CV_LKFLOW_PYR_A_READY;

        int kept = 0;
        for (int i = 0; i < m_point_count; ++i) {
            const std::size_t from = static_cast<std::size_t>(i);
            if (!m_status[from])
                continue;
            const std::size_t to = static_cast<std::size_t>(kept++);
            m_prev_points[to] = m_prev_points[from];
            m_next_points[to] = m_next_points[from];
            m_point_ids[to] = m_point_ids[from];
        }
        m_point_count = kept;
    } else {
        m_flags &= ~CV_LKFLOW_PYR_A_READY;
    }
    std::swap(m_frame, m_prev_frame);
    std::swap(m_pyramid, m_prev_pyramid);
    std::swap(m_prev_points, m_next_points);
}
