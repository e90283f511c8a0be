#include "StereoAnalyzer/StereoPeopleCounter/tracker/track.h"

#include <cmath>

namespace tracker {

Track::Track(int id, int start_frame) : m_id(id), m_path(kPathCapacity), m_path_start_frame(start_frame) {}

void Track::Start(const CommonTrackFeatures& features, bool detected)
{
    m_path_start = features.m_point;
    AddPathElem(features, m_path_start_frame, detected);
}

void Track::AddPathElem(const CommonTrackFeatures& features, int frame, bool detected)
{
    m_path.push_back(TrackHistoryElem{features.m_point, features.m_aux, frame, detected});
}

cv::Point Track::GetPathEndPoint() const
{
    return m_path.empty() ? m_path_start : m_path.back().point;
}

int Track::GetPathEndFrame() const
{
    return m_path.empty() ? m_path_start_frame : m_path.back().frame;
}

bool Track::CalculateIfValid(int min_frames, int min_path_length) const
{
    const cv::Point start = GetPathStartPoint();
    const cv::Point end = GetPathEndPoint();
    const double dx = static_cast<double>(end.x) - start.x;
    const double dy = static_cast<double>(end.y) - start.y;
    return m_valid_frames_num >= min_frames && std::sqrt(dx * dx + dy * dy) > min_path_length;
}

void Track::AnalyzeTrack(int min_frames, int min_path_length)
{
    m_is_valid = CalculateIfValid(min_frames, min_path_length);
}

cv::Point2f Track::CalculatePredictedTrackVelocity() const
{
    double w = 0.0;
    double x = 0.0;
    double y = 0.0;
    const TrackHistoryElem* previous = nullptr;
    for (const TrackHistoryElem& elem : m_path) {
        if (!elem.is_detected)
            continue;
        if (previous) {
            const double gap = static_cast<double>(elem.frame) - previous->frame;
            if (gap != 0.0) {
                w += gap;
                x += gap * ((static_cast<double>(elem.point.x) - previous->point.x) / gap);
                y += gap * ((static_cast<double>(elem.point.y) - previous->point.y) / gap);
            }
        }
        previous = &elem;
    }
    if (w == 0.0)
        return cv::Point2f(0.f, 0.f);
    return cv::Point2f(static_cast<float>(x / w), static_cast<float>(y / w));
}

}  // namespace tracker
