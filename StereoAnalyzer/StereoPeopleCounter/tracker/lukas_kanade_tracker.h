#pragma once

#include <opencv2/core.hpp>
#include <vector>

#include "StereoAnalyzer/StereoPeopleCounter/tracker/tracks_holder.h"

namespace tracker {

// The features of one head point: the grey patch of its disc, the corners found in it and the
// velocity the optic flow measured for the track that carries them. Copies share no pixels.
class LukasKanadeFeatures : public CommonTrackFeatures {
public:
    LukasKanadeFeatures() = default;
    LukasKanadeFeatures(const CommonTrackFeatures& common, const cv::Mat_<cv::Vec2f>& corners,
                        const cv::Mat_<uchar>& patch, const cv::Mat_<uchar>& aux_patch);
    LukasKanadeFeatures(const LukasKanadeFeatures& other);
    LukasKanadeFeatures& operator=(const LukasKanadeFeatures& other);
    ~LukasKanadeFeatures() override = default;

    cv::Mat_<cv::Vec2f> m_corners;  // n x 1, patch coordinates
    cv::Mat_<uchar> m_patch;        // S x S, grey values on the disc, 0 outside
    cv::Mat_<uchar> m_aux_patch;    // S x S, zero
    cv::Point2f m_velocity;         // pixels per frame, measured this frame
};

// Corner detection in a patch with fixed settings, and a scan-order fallback for flat patches.
class CornersDetector {
public:
    // Good-features-to-track corners of `image` within `mask` (same size); when there are none,
    // PickCornersManually. `corners` becomes an n x 1 matrix of (x, y).
    void FindCorners(const cv::Mat& image, const cv::Mat& mask, cv::Mat& corners);
    // Mask pixels in scan order, each more than m_min_distance away from every earlier pick in x or y.
    void PickCornersManually(const cv::Mat& image, const cv::Mat& mask, cv::Mat& corners);

    const int m_max_corners = 1000;
    const double m_quality_level = 0.001;
    const int m_min_distance = 3;
    const int m_block_size = 3;
    const bool m_use_harris_detector = false;

private:
    cv::Mat m_mask;  // work copy of the mask
};

// The tracker the stereo counter runs: objects carry patch features, each track's velocity is the
// median optic-flow shift of the previous frame's corners in its disc, and penalties are distances
// to the position that velocity predicts.
class LukasKanadeTracker : public TracksHolder<TrackWithFeatures<LukasKanadeFeatures>, LukasKanadeFeatures> {
public:
    using Holder = TracksHolder<TrackWithFeatures<LukasKanadeFeatures>, LukasKanadeFeatures>;

    // The generator belongs to the stereo counter, which outlives its tracker.
    explicit LukasKanadeTracker(stereo::IDGenerator& generator);
    ~LukasKanadeTracker() override;

    void InitializeDefaultParameters() override;
    void Draw(cv::Mat_<cv::Vec3b>* picture) override;

    // A track's velocity that no corner measured: (s, s), s = 2 * the larger frame side.
    float AbsentVelocityValue() const;

    // The smallest optic-flow window side that the flow routine accepts.
    static constexpr int kMinFlowWindow = 3;

protected:
    void InitDerived(cv::Size frame_size) override;
    void CalculatePenaltyMatrix() override;
    void CalculatePenaltyMatrixForDroppedTracksAndNonAssignedObjects() override;
    void FillBuffersDerived(const cv::Mat_<uchar>& first, const cv::Mat_<uchar>& second) override;
    void CalculateAndAddFeature(const cv::Point& point) override;
    void FinishFrameProcessingDerived() override;

    void CollectCornersFromPrevFrameIntoOneArray();
    void FillPixelsRegionsArray();
    void CalculateRegionsVelocityUsingMedian();
    void FillPenaltyMatrix();
    void DrawCornersShifts(cv::Mat_<cv::Vec3b>* picture) const;
    void DrawRegionsShifts(cv::Mat_<cv::Vec3b>* picture);

    ParamsLib::BlnValueParam<> m_use_optic_flow_for_dropped_tracks_align;

private:
    // One entry of a pixel's list of covering tracks.
    struct RegionEntry {
        int track;
        int next;  // next entry of the same pixel, -1 at the end
        int pixel;
    };

    bool IsAbsentVelocity(const cv::Point2f& velocity) const;
    cv::Size FlowWindow() const;
    // The median shift aligning the track's patch to the object's by one-level optic flow.
    cv::Point AlignPatches(const LukasKanadeFeatures& track, const LukasKanadeFeatures& object);
    // Whether the median absolute grey difference of the two patches, the object's shifted by
    // `shift`, is below the similarity limit.
    bool PatchesAreSimilar(const cv::Mat_<uchar>& track_patch, const cv::Mat_<uchar>& object_patch,
                           const cv::Point& shift);

    cv::Mat m_region_mask;
    // The tracks whose disc covers each pixel in this frame: one list head per pixel (x + y * width)
    // into an entry pool, so that a corner finds its tracks in constant time.
    std::vector<int> m_pixels_regions;
    std::vector<RegionEntry> m_region_entries;
    std::vector<cv::Point2f> m_prev_frame_corners;
    std::vector<cv::Point2f> m_next_frame_corners;
    std::vector<float> m_flow_errors;
    std::vector<uchar> m_flow_status;
    CornersDetector m_corners_detector;

    // Work lists reused from frame to frame.
    std::vector<std::vector<float>> m_shifts_x;
    std::vector<std::vector<float>> m_shifts_y;
    std::vector<bool> m_unassigned_objects;
    std::vector<cv::Point2f> m_align_corners;
    std::vector<uchar> m_align_status;
    std::vector<float> m_align_errors;
    std::vector<float> m_align_shifts_x;
    std::vector<float> m_align_shifts_y;
    std::vector<int> m_patch_differences;
};

}  // namespace tracker
