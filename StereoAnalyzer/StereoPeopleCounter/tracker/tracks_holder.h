#pragma once

#include <deque>
#include <memory>
#include <opencv2/core.hpp>
#include <vector>

#include "CommonUtilities/algorithm_support/kiv_exception.h"
#include "StereoAnalyzer/StereoPeopleCounter/circle_iterator.h"
#include "StereoAnalyzer/StereoPeopleCounter/delete_spaces_in_array.h"
#include "StereoAnalyzer/StereoPeopleCounter/id_generator.h"
#include "StereoAnalyzer/StereoPeopleCounter/tracker/tracker.h"

namespace tracker {

// The tracker's storage: the tracks, the objects of the current frame, the tracks carried through
// the frame without a match and their predicted points, and the records handed out.
// TTrack is a TrackWithFeatures<TFeatures>; TFeatures derives from CommonTrackFeatures.
template <typename TTrack, typename TFeatures>
class TracksHolder : public virtual Tracker {
public:
    // The generator belongs to the stereo counter, which outlives its tracker.
    explicit TracksHolder(stereo::IDGenerator& generator) : m_id_generator(generator) {}
    ~TracksHolder() override = default;

    Track& GetTrackBaseRef(int index) override { return GetTrackRef(index); }
    const Track& GetTrackBaseRefConst(int index) const override { return GetTrackRefConst(index); }
    virtual TTrack& GetTrackRef(int index) { return const_cast<TTrack&>(GetTrackRefConst(index)); }
    virtual const TTrack& GetTrackRefConst(int index) const
    {
        KIV_CHECK(index >= 0, "TracksHolder_GetTrack_negative") << index;
        KIV_CHECK(index < static_cast<int>(m_tracks.size()), "TracksHolder_GetTrack_too_big") << index;
        return *m_tracks[static_cast<std::size_t>(index)];
    }

    CommonTrackFeatures& GetNewObjectBaseRef(int index) override { return GetNewObjectRef(index); }
    const CommonTrackFeatures& GetNewObjectBaseRefConst(int index) const override
    {
        return GetNewObjectRefConst(index);
    }
    virtual TFeatures& GetNewObjectRef(int index) { return const_cast<TFeatures&>(GetNewObjectRefConst(index)); }
    virtual const TFeatures& GetNewObjectRefConst(int index) const
    {
        KIV_CHECK(index >= 0, "TracksHolder_GetNewObject_negative") << index;
        KIV_CHECK(index < static_cast<int>(m_new_objects.size()), "TracksHolder_GetNewObject_too_big") << index;
        return m_new_objects[static_cast<std::size_t>(index)];
    }

    const std::deque<cv::Point>& GetNotUpdatedTracksCoords() const override { return m_not_updated_coords; }
    int CurrFrameObjectsNum() override { return static_cast<int>(m_new_objects.size()); }
    int TracksNum() override { return static_cast<int>(m_tracks.size()); }

    virtual void AddObject(const TFeatures& features) { m_new_objects.push_back(features); }

protected:
    void ClearObjectsArray() override { m_new_objects.clear(); }
    void DeleteSpaces(const std::vector<bool>& flags) override { stereo::DeleteSpacesInArray(m_tracks, flags); }

    void UpdateTracksUsingCorrespondenciesAndMarkNonUpdated() override
    {
        m_not_updated.assign(m_tracks.size(), true);
        m_not_updated_coords.clear();
        for (const auto& match : m_correspondences) {
            TTrack& track = *m_tracks[static_cast<std::size_t>(match.second)];
            track.m_features = m_new_objects[static_cast<std::size_t>(match.first)];
            track.AddPathElem(track.m_features, m_frame_num, true);
            ++track.m_valid_frames_num;
            m_not_updated[static_cast<std::size_t>(match.second)] = false;
        }
        const bool carry = m_track_objects_with_dropped_frames();
        const bool drop_non_valid = m_not_continue_non_valid_tracks();
        for (std::size_t i = 0; i < m_tracks.size(); ++i) {
            if (!m_not_updated[i])
                continue;
            TTrack& track = *m_tracks[i];
            ++track.m_dropped_frames;
            if (!carry)
                continue;
            AnalyzeTrack(track);
            const cv::Point2f velocity = track.m_features.m_velocity;
            const cv::Point predicted(track.m_features.m_point.x + RoundToPixel(velocity.x),
                                      track.m_features.m_point.y + RoundToPixel(velocity.y));
            const bool outside = predicted.x < 0 || predicted.x >= m_curr_image.cols || predicted.y < 0 ||
                                 predicted.y >= m_curr_image.rows;
            if (outside || (drop_non_valid && !track.m_is_valid)) {
                ForceTrackToBeDeleted(track);
                m_not_updated[i] = false;
                continue;
            }
            if (TouchesBorder(predicted))
                ++track.m_dropped_frames_near_border;
            m_not_updated_coords.push_back(predicted);
        }
    }

    void UpdateTracksWithDroppedFramesDerived() override
    {
        // Tracks started in this frame come after the flagged ones and are not carried.
        std::size_t object = 0;
        for (std::size_t i = 0; i < m_not_updated.size(); ++i) {
            if (!m_not_updated[i])
                continue;
            TTrack& track = *m_tracks[i];
            track.m_features = m_new_objects[object];
            track.AddPathElem(track.m_features, m_frame_num, false);
            ++object;
        }
    }

    void StartNewTracks() override
    {
        FindNonAssignedObjects(m_new_object_flags);
        for (std::size_t j = 0; j < m_new_object_flags.size(); ++j) {
            if (!m_new_object_flags[j])
                continue;
            const int id = m_id_generator.GenerateNextObjectID();
            m_tracks.push_back(std::make_shared<TTrack>(m_new_objects[j], id, m_frame_num, true));
        }
    }

    void AnalyzeTracksToDelete() override
    {
        for (auto& track : m_tracks) {
            if (HasToBeDeleted(*track))
                AnalyzeTrack(*track);
        }
    }

    void GetObjectsImpl(std::vector<stereo::StereoCountingObjData>& out) override
    {
        out.clear();
        for (const auto& track : m_tracks) {
            stereo::StereoCountingObjData record{};
            record.object_id = static_cast<int64_t>(track->m_id);
            record.track_ends = HasToBeDeleted(*track);
            record.moving = track->m_is_valid;
            record.tracker_flag = true;
            const cv::Point point = OutputPoint(*track);
            record.point_x = point.x;
            record.point_y = point.y;
            record.box_x1 = point.x - m_object_radius;
            record.box_y1 = point.y - m_object_radius;
            record.box_x2 = point.x + m_object_radius;
            record.box_y2 = point.y + m_object_radius;
            out.push_back(record);
        }
    }

    // The features' position while the track is matched; otherwise its newest detected position,
    // or, once every detected element has left the path, the oldest position the path keeps.
    static cv::Point OutputPoint(const TTrack& track)
    {
        if (track.m_dropped_frames < 1)
            return track.m_features.m_point;
        for (auto it = track.m_path.rbegin(); it != track.m_path.rend(); ++it) {
            if (it->is_detected)
                return it->point;
        }
        return track.m_path.empty() ? track.GetPathStartPoint() : track.m_path.front().point;
    }

    // Whether the disc around `point` touches an unobservable pixel or the frame's outer rows or
    // columns.
    bool TouchesBorder(const cv::Point& point) const
    {
        const int last_x = m_curr_image.cols - 1;
        const int last_y = m_curr_image.rows - 1;
        for (stereo::CircleIterator it(point, m_object_radius, m_curr_image.size()); !it.IsFinished();
             it.MoveToNextPosition()) {
            const cv::Point& p = it.Position();
            if (p.x == 0 || p.y == 0 || p.x == last_x || p.y == last_y || m_non_valid_mask(p.y, p.x) != 0)
                return true;
        }
        return false;
    }

    std::deque<std::shared_ptr<TTrack>> m_tracks;
    std::deque<TFeatures> m_new_objects;
    std::vector<bool> m_not_updated;
    std::deque<cv::Point> m_not_updated_coords;
    stereo::IDGenerator& m_id_generator;

private:
    std::vector<bool> m_new_object_flags;  // work flags of StartNewTracks
};

}  // namespace tracker
