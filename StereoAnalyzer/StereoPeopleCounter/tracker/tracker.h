#pragma once

#include <deque>
#include <opencv2/core.hpp>
#include <utility>
#include <vector>

#include "CommonUtilities/algorithm_support/block_light.h"
#include "StereoAnalyzer/StereoPeopleCounter/stereo_counting_obj_data.h"
#include "StereoAnalyzer/StereoPeopleCounter/tracker/track.h"

namespace tracker {

// Rounds half away from zero and clamps to a range that stays far outside any frame, so that a
// coordinate plus the result never overflows; NaN gives 0.
int RoundToPixel(double value);

// The multi-object tracker's frame loop: once per frame it takes the head points, matches them
// to the tracks by a greedy search over a penalty matrix, continues, starts and ends tracks, and
// reports one record per track. Storage lives in TracksHolder, features and penalties in the
// concrete tracker. All calls come from the algorithm thread.
class Tracker : public BlockHighlevel::LightBlock<BlockEntities::IAlgoEntityBase> {
public:
    // The largest "Stereo_max_dropped_frames": a track then keeps at least one detected element in
    // its 300-element path while it is reported.
    static constexpr int kMaxDroppedFramesLimit = Track::kPathCapacity - 2;

    Tracker() = default;
    ~Tracker() override = default;

    void InitializeDefaultParameters() override;

    // (Re)starts the tracker for a frame size. The mask marks unobservable pixels (non-zero) and
    // must have the frame size. Existing tracks are dropped.
    void Init(cv::Size frame_size, const cv::Mat_<uchar>& non_valid_mask, int object_radius, int min_track_frames,
              int min_path_length);

    // One frame: `first` is the frame's grey image, `second` an image of the same size (only its
    // size is read), `points` the head points in frame pixels.
    void UpdateTracksGreedyAlg(const cv::Mat_<uchar>& first, const cv::Mat_<uchar>& second,
                               const std::deque<cv::Point>& points);

    // One record per track, in track order.
    void GetObjects(std::vector<stereo::StereoCountingObjData>& out);

    // Debug drawing of the tracks; nothing for a null picture.
    virtual void Draw(cv::Mat_<cv::Vec3b>* image);

    // The deletion rule: more dropped frames than the track's allowance.
    bool HasToBeDeleted(const Track& track) const;

    // Storage, implemented by TracksHolder.
    virtual Track& GetTrackBaseRef(int index) = 0;
    virtual const Track& GetTrackBaseRefConst(int index) const = 0;
    virtual const std::deque<cv::Point>& GetNotUpdatedTracksCoords() const = 0;
    virtual CommonTrackFeatures& GetNewObjectBaseRef(int index) = 0;
    virtual const CommonTrackFeatures& GetNewObjectBaseRefConst(int index) const = 0;
    virtual int CurrFrameObjectsNum() = 0;
    virtual int TracksNum() = 0;

protected:
    virtual void UpdateTracksWithDroppedFrames();

    virtual void StartNewTracks() = 0;
    virtual void ClearObjectsArray() = 0;
    virtual void UpdateTracksUsingCorrespondenciesAndMarkNonUpdated() = 0;
    virtual void UpdateTracksWithDroppedFramesDerived() = 0;
    virtual void DeleteSpaces(const std::vector<bool>& flags) = 0;
    virtual void AnalyzeTracksToDelete() = 0;
    virtual void GetObjectsImpl(std::vector<stereo::StereoCountingObjData>& out) = 0;

    virtual void InitDerived(cv::Size frame_size) = 0;
    virtual void FillBuffersDerived(const cv::Mat_<uchar>& first, const cv::Mat_<uchar>& second) = 0;
    // Computes the features at `point` and adds exactly one object.
    virtual void CalculateAndAddFeature(const cv::Point& point) = 0;
    virtual void FinishFrameProcessingDerived() = 0;
    // Fills every (object, track) entry; 10.0 or more never matches.
    virtual void CalculatePenaltyMatrix() = 0;
    // Rewrites entries of unassigned objects against tracks with dropped frames.
    virtual void CalculatePenaltyMatrixForDroppedTracksAndNonAssignedObjects() = 0;

    double& GetPenaltyValue(int object, int track);
    const double& GetPenaltyValue(int object, int track) const;
    void InitPenaltyMatrix();
    void FindNonAssignedObjects(std::vector<bool>& flags);
    void FindNonContinuedTracks(std::vector<bool>& flags);
    void ForceTrackToBeDeleted(Track& track) const;
    void AnalyzeTrack(Track& track) const;
    void DeleteOldTracks();
    void FillBuffers(const cv::Mat_<uchar>& first, const cv::Mat_<uchar>& second);
    void CalculateFeaturesOfObjects(const std::deque<cv::Point>& points);
    CommonTrackFeatures CalculateFeaturesBase(const cv::Point& point) const;
    void FinishFrameProcessing();
    void FindObjectCorrespondenciesGreedyAlg();
    void DrawTrack(const Track& track, cv::Mat_<cv::Vec3b>* image) const;

    ParamsLib::IntValueParam<> m_max_dropped_frames;
    ParamsLib::BlnValueParam<> m_track_objects_with_dropped_frames;
    ParamsLib::BlnValueParam<> m_not_continue_non_valid_tracks;
    ParamsLib::FltValueParam<> m_valid_frames_num_multiplier;
    ParamsLib::FltValueParam<> m_valid_frames_num_summand;

    cv::Mat_<uchar> m_curr_image;                       // shares the caller's pixels during one frame
    cv::Mat_<uchar> m_prev_image;                       // copy of the previous frame's first image
    cv::Mat_<uchar> m_non_valid_mask;                   // non-zero: objects cannot be observed there
    std::deque<std::pair<int, int>> m_correspondences;  // (object index, track index)
    cv::Mat m_penalty;                                  // CV_64F, objects x tracks
    int m_object_radius = 0;
    int m_min_track_frames = 0;
    int m_min_path_length = 0;
    int m_frame_num = 0;
    bool m_initialized = false;
    cv::Size m_frame_size;

private:
    void InitBase(cv::Size frame_size, const cv::Mat_<uchar>& non_valid_mask, int object_radius, int min_track_frames,
                  int min_path_length);

    std::vector<bool> m_delete_flags;  // work flags of DeleteOldTracks
};

}  // namespace tracker
