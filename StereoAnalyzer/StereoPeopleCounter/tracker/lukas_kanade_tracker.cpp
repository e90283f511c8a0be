#include "StereoAnalyzer/StereoPeopleCounter/tracker/lukas_kanade_tracker.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <opencv2/imgproc.hpp>
#include <opencv2/video/tracking.hpp>

#include "CommonUtilities/algorithm_support/kiv_exception.h"

namespace tracker {

namespace {

constexpr double kPenaltyOffset = 10.0;
constexpr double kTakenPenalty = 20.0;
constexpr double kFlowMatchRadius = 1.5;       // in object radii
constexpr double kPredictedMatchRadius = 3.0;  // in object radii
constexpr double kSecondPassBonus = 10000.0;
constexpr int kSimilarPatchDifference = 40;
constexpr int kFlowMaxLevel = 3;
constexpr double kHarrisFree = 0.04;
const cv::TermCriteria kFlowCriteria(cv::TermCriteria::COUNT | cv::TermCriteria::EPS, 30, 0.01);
constexpr double kFlowMinEigThreshold = 0.0001;

// The element at index n / 2 of the values in ascending order; the values are reordered.
float UpperMedian(std::vector<float>& values)
{
    auto middle = values.begin() + static_cast<std::ptrdiff_t>(values.size() / 2);
    std::nth_element(values.begin(), middle, values.end());
    return *middle;
}

double Distance(const cv::Point& a, const cv::Point& b)
{
    const double dx = static_cast<double>(a.x) - b.x;
    const double dy = static_cast<double>(a.y) - b.y;
    return std::sqrt(dx * dx + dy * dy);
}

// Truncates toward zero into a range far outside any picture; NaN gives 0.
int TruncateToPixel(float value)
{
    constexpr float kLimit = 1 << 29;
    if (std::isnan(value))
        return 0;
    return static_cast<int>(std::max(-kLimit, std::min(kLimit, value)));
}

}  // namespace

LukasKanadeFeatures::LukasKanadeFeatures(const CommonTrackFeatures& common, const cv::Mat_<cv::Vec2f>& corners,
                                         const cv::Mat_<uchar>& patch, const cv::Mat_<uchar>& aux_patch)
    : CommonTrackFeatures(common),
      m_corners(corners.clone()),
      m_patch(patch.clone()),
      m_aux_patch(aux_patch.clone()),
      m_velocity(0.f, 0.f)
{
}

LukasKanadeFeatures::LukasKanadeFeatures(const LukasKanadeFeatures& other)
    : CommonTrackFeatures(other),
      m_corners(other.m_corners.clone()),
      m_patch(other.m_patch.clone()),
      m_aux_patch(other.m_aux_patch.clone()),
      m_velocity(other.m_velocity)
{
}

LukasKanadeFeatures& LukasKanadeFeatures::operator=(const LukasKanadeFeatures& other)
{
    if (this == &other)
        return *this;
    CommonTrackFeatures::operator=(other);
    other.m_corners.copyTo(m_corners);
    other.m_patch.copyTo(m_patch);
    other.m_aux_patch.copyTo(m_aux_patch);
    m_velocity = other.m_velocity;
    return *this;
}

void CornersDetector::FindCorners(const cv::Mat& image, const cv::Mat& mask, cv::Mat& corners)
{
    KIV_CHECK(image.size() == mask.size(), "CornersDetector_FindCorners_mask_size");
    cv::goodFeaturesToTrack(image, corners, m_max_corners, m_quality_level, static_cast<double>(m_min_distance), mask,
                            m_block_size, m_use_harris_detector, kHarrisFree);
    if (corners.empty())
        PickCornersManually(image, mask, corners);
    else
        corners = corners.reshape(2, static_cast<int>(corners.total()));  // one corner per row
}

void CornersDetector::PickCornersManually(const cv::Mat& image, const cv::Mat& mask, cv::Mat& corners)
{
    mask.copyTo(m_mask);
    const int r = m_min_distance;
    const int rows = std::min(image.rows, m_mask.rows);
    const int cols = std::min(image.cols, m_mask.cols);
    int count = 0;
    for (int y = 0; y < rows && count < m_max_corners; ++y) {
        for (int x = 0; x < cols && count < m_max_corners; ++x) {
            if (m_mask.at<uchar>(y, x) == 0)
                continue;
            ++count;
            const int y0 = std::max(y - r, 0);
            const int y1 = std::min(y + r, m_mask.rows - 1);
            const int x0 = std::max(x - r, 0);
            const int x1 = std::min(x + r, m_mask.cols - 1);
            m_mask(cv::Range(y0, y1 + 1), cv::Range(x0, x1 + 1)).setTo(cv::Scalar::all(0));
            m_mask.at<uchar>(y, x) = 255;
        }
    }
    corners.create(count, 1, CV_32FC2);
    int written = 0;
    for (int y = 0; y < rows && written < count; ++y) {
        for (int x = 0; x < cols && written < count; ++x) {
            if (m_mask.at<uchar>(y, x) == 0)
                continue;
            corners.at<cv::Vec2f>(written, 0) = cv::Vec2f(static_cast<float>(x), static_cast<float>(y));
            ++written;
        }
    }
}

LukasKanadeTracker::LukasKanadeTracker(stereo::IDGenerator& generator) : Holder(generator) {}

LukasKanadeTracker::~LukasKanadeTracker() = default;

void LukasKanadeTracker::InitializeDefaultParameters()
{
    Tracker::InitializeDefaultParameters();
    InitValueParameterStringDefault(m_use_optic_flow_for_dropped_tracks_align, "", "",
                                    "Stereo_use_optic_flow_for_dropped_tracks_align",
                                    "If true, optic flow is used to align non-asigned objects and dropped frames.May "
                                    "be time-consuming and may not improve quality.",
                                    "", "false");
}

float LukasKanadeTracker::AbsentVelocityValue() const
{
    return 2.f * static_cast<float>(std::max(m_frame_size.width, m_frame_size.height));
}

bool LukasKanadeTracker::IsAbsentVelocity(const cv::Point2f& velocity) const
{
    const float s = AbsentVelocityValue();
    return velocity.x == s && velocity.y == s;
}

cv::Size LukasKanadeTracker::FlowWindow() const
{
    const int side = std::max(m_object_radius, kMinFlowWindow);
    return cv::Size(side, side);
}

void LukasKanadeTracker::InitDerived(cv::Size frame_size)
{
    m_pixels_regions.assign(static_cast<std::size_t>(frame_size.area()), -1);
    m_region_entries.clear();
    m_prev_frame_corners.clear();
    m_next_frame_corners.clear();
    m_flow_status.clear();
    m_flow_errors.clear();
}

void LukasKanadeTracker::CalculateAndAddFeature(const cv::Point& point)
{
    const int radius = m_object_radius;
    const int side = 2 * radius + 1;
    cv::Mat_<uchar> patch = cv::Mat_<uchar>::zeros(side, side);
    const cv::Mat_<uchar> aux_patch = cv::Mat_<uchar>::zeros(side, side);
    m_region_mask.create(side, side, CV_8UC1);
    m_region_mask.setTo(cv::Scalar::all(0));
    for (stereo::CircleIterator it(point, radius, m_curr_image.size()); !it.IsFinished(); it.MoveToNextPosition()) {
        const cv::Point& p = it.Position();
        const int lx = p.x - point.x + radius;
        const int ly = p.y - point.y + radius;
        m_region_mask.at<uchar>(ly, lx) = 255;
        patch(ly, lx) = m_curr_image(p.y, p.x);
    }
    cv::Mat corners;
    m_corners_detector.FindCorners(patch, m_region_mask, corners);
    AddObject(LukasKanadeFeatures(CalculateFeaturesBase(point), corners, patch, aux_patch));
}

void LukasKanadeTracker::FillBuffersDerived(const cv::Mat_<uchar>& /*first*/, const cv::Mat_<uchar>& /*second*/)
{
    m_prev_frame_corners.clear();
    m_next_frame_corners.clear();
    m_flow_status.clear();
    m_flow_errors.clear();
    CollectCornersFromPrevFrameIntoOneArray();
    FillPixelsRegionsArray();
    if (!m_prev_frame_corners.empty()) {
        cv::calcOpticalFlowPyrLK(m_prev_image, m_curr_image, m_prev_frame_corners, m_next_frame_corners, m_flow_status,
                                 m_flow_errors, FlowWindow(), kFlowMaxLevel, kFlowCriteria, 0, kFlowMinEigThreshold);
    }
    CalculateRegionsVelocityUsingMedian();
}

void LukasKanadeTracker::CollectCornersFromPrevFrameIntoOneArray()
{
    const float max_x = static_cast<float>(m_curr_image.cols - 1);
    const float max_y = static_cast<float>(m_curr_image.rows - 1);
    for (const auto& track : m_tracks) {
        const LukasKanadeFeatures& features = track->m_features;
        const float dx = static_cast<float>(features.m_point.x - m_object_radius);
        const float dy = static_cast<float>(features.m_point.y - m_object_radius);
        for (int k = 0; k < features.m_corners.rows; ++k) {
            const cv::Vec2f corner = features.m_corners(k, 0);
            m_prev_frame_corners.emplace_back(std::min(std::max(corner[0] + dx, 0.f), max_x),
                                              std::min(std::max(corner[1] + dy, 0.f), max_y));
        }
    }
}

void LukasKanadeTracker::FillPixelsRegionsArray()
{
    const int width = m_curr_image.cols;
    for (std::size_t i = 0; i < m_tracks.size(); ++i) {
        for (stereo::CircleIterator it(m_tracks[i]->m_features.m_point, m_object_radius, m_curr_image.size());
             !it.IsFinished(); it.MoveToNextPosition()) {
            const int pixel = it.Position().x + it.Position().y * width;
            m_region_entries.push_back(
                RegionEntry{static_cast<int>(i), m_pixels_regions[static_cast<std::size_t>(pixel)], pixel});
            m_pixels_regions[static_cast<std::size_t>(pixel)] = static_cast<int>(m_region_entries.size() - 1);
        }
    }
}

void LukasKanadeTracker::CalculateRegionsVelocityUsingMedian()
{
    const std::size_t tracks = m_tracks.size();
    if (m_shifts_x.size() < tracks) {
        m_shifts_x.resize(tracks);
        m_shifts_y.resize(tracks);
    }
    for (std::size_t t = 0; t < tracks; ++t) {
        m_shifts_x[t].clear();
        m_shifts_y[t].clear();
    }
    const int width = m_curr_image.cols;
    const int height = m_curr_image.rows;
    const auto inside = [&](const cv::Point2f& p) {
        return p.x >= 0.f && p.x < static_cast<float>(width) && p.y >= 0.f && p.y < static_cast<float>(height);
    };
    for (std::size_t k = 0; k < m_flow_status.size(); ++k) {
        const cv::Point2f p = m_prev_frame_corners[k];
        const cv::Point2f q = m_next_frame_corners[k];
        if (!m_flow_status[k] || !inside(p) || !inside(q))
            continue;
        const int px = std::min(RoundToPixel(p.x), width - 1);
        const int py = std::min(RoundToPixel(p.y), height - 1);
        for (int e = m_pixels_regions[static_cast<std::size_t>(px + py * width)]; e >= 0;
             e = m_region_entries[static_cast<std::size_t>(e)].next) {
            const std::size_t t = static_cast<std::size_t>(m_region_entries[static_cast<std::size_t>(e)].track);
            m_shifts_x[t].push_back(q.x - p.x);
            m_shifts_y[t].push_back(q.y - p.y);
        }
    }
    const float s = AbsentVelocityValue();
    for (std::size_t t = 0; t < tracks; ++t) {
        cv::Point2f& velocity = m_tracks[t]->m_features.m_velocity;
        if (m_shifts_x[t].empty())
            velocity = cv::Point2f(s, s);
        else
            velocity = cv::Point2f(UpperMedian(m_shifts_x[t]), UpperMedian(m_shifts_y[t]));
    }
}

void LukasKanadeTracker::CalculatePenaltyMatrix()
{
    FillPenaltyMatrix();
}

void LukasKanadeTracker::FillPenaltyMatrix()
{
    const int tracks = TracksNum();
    const int objects = CurrFrameObjectsNum();
    const double offset = kPenaltyOffset - kFlowMatchRadius * m_object_radius;
    for (int t = 0; t < tracks; ++t) {
        const auto& track = *m_tracks[static_cast<std::size_t>(t)];
        const cv::Point2f v = track.m_features.m_velocity;
        const bool no_prediction = track.m_dropped_frames > 0 || IsAbsentVelocity(v);
        const cv::Point predicted(track.m_features.m_point.x + RoundToPixel(v.x),
                                  track.m_features.m_point.y + RoundToPixel(v.y));
        for (int o = 0; o < objects; ++o) {
            GetPenaltyValue(o, t) =
                no_prediction ? kTakenPenalty
                              : Distance(m_new_objects[static_cast<std::size_t>(o)].m_point, predicted) + offset;
        }
    }
}

void LukasKanadeTracker::CalculatePenaltyMatrixForDroppedTracksAndNonAssignedObjects()
{
    FindNonAssignedObjects(m_unassigned_objects);
    const bool carry = m_track_objects_with_dropped_frames();
    const bool align = carry ? false : m_use_optic_flow_for_dropped_tracks_align();
    const int tracks = TracksNum();
    const int objects = CurrFrameObjectsNum();
    for (int t = 0; t < tracks; ++t) {
        const auto& track = *m_tracks[static_cast<std::size_t>(t)];
        if (track.m_dropped_frames <= 0 || track.m_features.m_corners.rows < 1)
            continue;
        for (int o = 0; o < objects; ++o) {
            if (!m_unassigned_objects[static_cast<std::size_t>(o)])
                continue;
            const LukasKanadeFeatures& object = m_new_objects[static_cast<std::size_t>(o)];
            bool similar = true;
            cv::Point predicted;
            double threshold = 0.0;
            if (carry) {
                const cv::Point2f v = track.m_features.m_velocity;
                predicted = cv::Point(track.m_features.m_point.x + RoundToPixel(v.x),
                                      track.m_features.m_point.y + RoundToPixel(v.y));
                threshold = kFlowMatchRadius * m_object_radius;
            } else {
                const cv::Point shift = align ? AlignPatches(track.m_features, object) : cv::Point(0, 0);
                similar = PatchesAreSimilar(track.m_features.m_patch, object.m_patch, shift);
                const cv::Point2f w = track.CalculatePredictedTrackVelocity();
                const double steps = static_cast<double>(track.m_dropped_frames) + 1.0;
                predicted = cv::Point(track.m_features.m_point.x + RoundToPixel(steps * w.x),
                                      track.m_features.m_point.y + RoundToPixel(steps * w.y));
                threshold = kPredictedMatchRadius * m_object_radius;
            }
            const double d = Distance(object.m_point, predicted);
            if (d < threshold && similar)
                GetPenaltyValue(o, t) = d - kSecondPassBonus;
        }
    }
}

cv::Point LukasKanadeTracker::AlignPatches(const LukasKanadeFeatures& track, const LukasKanadeFeatures& object)
{
    const int side = track.m_patch.rows;
    cv::calcOpticalFlowPyrLK(track.m_patch, object.m_patch, track.m_corners, m_align_corners, m_align_status,
                             m_align_errors, FlowWindow(), 0, kFlowCriteria, 0, kFlowMinEigThreshold);
    m_align_shifts_x.clear();
    m_align_shifts_y.clear();
    for (std::size_t k = 0; k < m_align_status.size(); ++k) {
        const cv::Point2f q = m_align_corners[k];
        const int qx = RoundToPixel(q.x);
        const int qy = RoundToPixel(q.y);
        if (!m_align_status[k] || qx < 0 || qx > side - 1 || qy < 0 || qy > side - 1)
            continue;
        const cv::Vec2f p = track.m_corners(static_cast<int>(k), 0);
        m_align_shifts_x.push_back(q.x - p[0]);
        m_align_shifts_y.push_back(q.y - p[1]);
    }
    if (m_align_shifts_x.empty())
        return cv::Point(0, 0);
    return cv::Point(RoundToPixel(UpperMedian(m_align_shifts_x)), RoundToPixel(UpperMedian(m_align_shifts_y)));
}

bool LukasKanadeTracker::PatchesAreSimilar(const cv::Mat_<uchar>& track_patch, const cv::Mat_<uchar>& object_patch,
                                           const cv::Point& shift)
{
    m_patch_differences.clear();
    const int dx = shift.x;
    const int dy = shift.y;
    const int x_end = std::min(track_patch.cols - 1 - std::max(dx, 0), object_patch.cols - 1 - dx);
    const int y_end = std::min(track_patch.rows - 1 - std::max(dy, 0), object_patch.rows - 1 - dy);
    for (int y = std::max(-dy, 0); y <= y_end; ++y) {
        for (int x = std::max(-dx, 0); x <= x_end; ++x)
            m_patch_differences.push_back(std::abs(int{object_patch(y + dy, x + dx)} - int{track_patch(y, x)}) + 1);
    }
    if (m_patch_differences.empty())
        return false;
    auto middle = m_patch_differences.begin() + static_cast<std::ptrdiff_t>(m_patch_differences.size() / 2);
    std::nth_element(m_patch_differences.begin(), middle, m_patch_differences.end());
    return *middle < kSimilarPatchDifference;
}

void LukasKanadeTracker::FinishFrameProcessingDerived()
{
    for (const RegionEntry& entry : m_region_entries) m_pixels_regions[static_cast<std::size_t>(entry.pixel)] = -1;
    m_region_entries.clear();
    // The corner arrays stay until the next flow step, so that the debug picture drawn after the
    // frame shows the corner shifts.
}

void LukasKanadeTracker::Draw(cv::Mat_<cv::Vec3b>* picture)
{
    Tracker::Draw(picture);
    DrawCornersShifts(picture);
    DrawRegionsShifts(picture);
}

void LukasKanadeTracker::DrawCornersShifts(cv::Mat_<cv::Vec3b>* picture) const
{
    if (!picture)
        return;
    for (std::size_t k = 0; k < m_flow_status.size(); ++k) {
        if (!m_flow_status[k])
            continue;
        const cv::Point2f p = m_prev_frame_corners[k];
        const cv::Point2f q = m_next_frame_corners[k];
        cv::line(*picture, cv::Point(TruncateToPixel(p.x), TruncateToPixel(p.y)),
                 cv::Point(TruncateToPixel(q.x), TruncateToPixel(q.y)), cv::Scalar(255, 255, 255), 1, cv::LINE_8);
    }
}

void LukasKanadeTracker::DrawRegionsShifts(cv::Mat_<cv::Vec3b>* picture)
{
    if (!picture)
        return;
    for (const auto& track : m_tracks) {
        const cv::Point2f v = track->m_features.m_velocity;
        if (IsAbsentVelocity(v))
            continue;
        const cv::Point from = track->m_features.m_point;
        const cv::Point to(from.x + RoundToPixel(v.x), from.y + RoundToPixel(v.y));
        cv::line(*picture, from, to, cv::Scalar(255, 0, 255), 1, cv::LINE_8);
    }
}

}  // namespace tracker
