#pragma once

#include <boost/circular_buffer.hpp>
#include <opencv2/core.hpp>

namespace tracker {

// The part of every object's features that the generic tracker code reads: its position.
class CommonTrackFeatures {
public:
    CommonTrackFeatures() = default;
    CommonTrackFeatures(const cv::Point& point, int aux) : m_point(point), m_aux(aux) {}
    CommonTrackFeatures(const CommonTrackFeatures&) = default;
    CommonTrackFeatures& operator=(const CommonTrackFeatures&) = default;
    virtual ~CommonTrackFeatures() = default;

    cv::Point m_point;  // pixels of the processing frame
    int m_aux = 0;      // carried along with the position
};

// One element of a track's path.
struct TrackHistoryElem {
    cv::Point point;
    int aux = 0;
    int frame = 0;             // the tracker's frame number when the element was added
    bool is_detected = false;  // a matched object's position, not a carried one
};

// One tracked object: id, counters, its recent path and its validity verdict. The track holder and
// the tracker core change its counters; the members are open to them.
class Track {
public:
    static constexpr int kPathCapacity = 300;

    Track(const Track&) = delete;
    Track& operator=(const Track&) = delete;
    virtual ~Track() = default;

    // The features of the track's latest position.
    virtual const CommonTrackFeatures& GetCommonFeaturesRef() const = 0;

    cv::Point GetPathStartPoint() const { return m_path_start; }
    // The newest path element's point, the start point for an empty path.
    cv::Point GetPathEndPoint() const;
    int GetPathStartFrame() const { return m_path_start_frame; }
    int GetPathEndFrame() const;

    // Valid: matched in at least min_frames frames and moved more than min_path_length pixels
    // from its start.
    void AnalyzeTrack(int min_frames, int min_path_length);
    bool CalculateIfValid(int min_frames, int min_path_length) const;

    // Pixels per frame between the oldest and the newest detected elements of the path; (0, 0)
    // with fewer than two detected elements.
    cv::Point2f CalculatePredictedTrackVelocity() const;

    void AddPathElem(const CommonTrackFeatures& features, int frame, bool detected);

    int m_id = 0;
    int m_dropped_frames = 0;              // consecutive frames without a matched object
    int m_dropped_frames_near_border = 0;  // of those, frames spent touching the unobservable area
    int m_valid_frames_num = 1;            // frames with a matched object, the start included
    boost::circular_buffer<TrackHistoryElem> m_path;
    cv::Point m_path_start;
    int m_path_start_frame = 0;
    bool m_is_valid = true;

protected:
    // Called by the derived constructor once its features exist: the first path element is taken
    // from `features`.
    Track(int id, int start_frame);
    void Start(const CommonTrackFeatures& features, bool detected);
};

// A track with the features of its latest position, of the same type as a new object's features.
template <typename TFeatures>
class TrackWithFeatures : public Track {
public:
    TrackWithFeatures(const TFeatures& features, int id, int start_frame, bool detected)
        : Track(id, start_frame), m_features(features)
    {
        Start(m_features, detected);
    }

    const CommonTrackFeatures& GetCommonFeaturesRef() const override { return m_features; }

    TFeatures m_features;
};

}  // namespace tracker
