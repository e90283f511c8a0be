#include "StereoAnalyzer/StereoPeopleCounter/tracker/tracker.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <opencv2/imgproc.hpp>
#include <string>

#include "CommonUtilities/algorithm_support/kiv_exception.h"
#include "CommonUtilities/algorithm_support/rounding.h"

namespace tracker {

namespace {

constexpr double kNoMatchPenalty = 10.0;  // an entry at or above it is never matched
constexpr double kTakenPenalty = 20.0;    // row and column of a match
constexpr double kBorderAllowanceShare = 0.2;

}  // namespace

int RoundToPixel(double value)
{
    constexpr int kLimit = 1 << 29;
    return std::clamp(AlgoLibrary::RoundHalfAwayFromZero(value), -kLimit, kLimit);
}

void Tracker::InitializeDefaultParameters()
{
    const std::string valid_frames_text =
        "track_max_dropped_frames = min(max_dropped_frames, valid_frames_num_multiplier * valid_frames_num + "
        "valid_frames_num_summand)";
    InitValueParameterStringDefault(m_max_dropped_frames, "", "", "Stereo_max_dropped_frames",
                                    "if a track has dropped frames number more than m_max_dropped_frames it's deleted",
                                    "", "30");
    m_max_dropped_frames.SetLimits(0, kMaxDroppedFramesLimit);
    InitValueParameterStringDefault(
        m_track_objects_with_dropped_frames, "", "", "track_objects_with_dropped_frames",
        "if true tracking will be proceeded for objects with dropped frames instead of position predicting.", "",
        "true");
    InitValueParameterStringDefault(m_not_continue_non_valid_tracks, "", "", "not_continue_non_valid_tracks",
                                    "if true tracks which don't pass check in function AnalyzeTrack are not continued.",
                                    "", "false");
    InitValueParameterStringDefault(m_valid_frames_num_multiplier, "", "", "valid_frames_num_multiplier",
                                    valid_frames_text.c_str(), "", "3");
    InitValueParameterStringDefault(m_valid_frames_num_summand, "", "", "valid_frames_num_summand",
                                    valid_frames_text.c_str(), "", "30");
}

void Tracker::Init(cv::Size frame_size, const cv::Mat_<uchar>& non_valid_mask, int object_radius, int min_track_frames,
                   int min_path_length)
{
    InitBase(frame_size, non_valid_mask, object_radius, min_track_frames, min_path_length);
    InitDerived(frame_size);
}

void Tracker::InitBase(cv::Size frame_size, const cv::Mat_<uchar>& non_valid_mask, int object_radius,
                       int min_track_frames, int min_path_length)
{
    KIV_CHECK(frame_size.width > 0 && frame_size.height > 0, "Tracker_Init_frame_size")
        << frame_size.width << "x" << frame_size.height;
    KIV_CHECK(non_valid_mask.size() == frame_size, "Tracker_Init_mask_size")
        << "mask " << non_valid_mask.cols << "x" << non_valid_mask.rows << ", frame " << frame_size.width << "x"
        << frame_size.height;
    KIV_CHECK(object_radius >= 0, "Tracker_Init_object_radius") << object_radius;
    non_valid_mask.copyTo(m_non_valid_mask);
    m_object_radius = object_radius;
    m_min_track_frames = min_track_frames;
    m_min_path_length = min_path_length;
    m_frame_size = frame_size;
    if (m_curr_image.size() != frame_size)
        m_curr_image.create(frame_size);
    if (m_prev_image.size() != frame_size)
        m_prev_image.create(frame_size);
    m_frame_num = 0;
    m_correspondences.clear();
    // Tracks of an earlier initialisation are dropped: their path frames belong to the old frame
    // counter and would give zero or negative frame gaps.
    ClearObjectsArray();
    m_delete_flags.assign(static_cast<std::size_t>(TracksNum()), true);
    DeleteSpaces(m_delete_flags);
    m_initialized = true;
}

void Tracker::UpdateTracksGreedyAlg(const cv::Mat_<uchar>& first, const cv::Mat_<uchar>& second,
                                    const std::deque<cv::Point>& points)
{
    KIV_CHECK(m_initialized, "Tracker_UpdateTracksGreedyAlg_not_initialized");
    DeleteOldTracks();
    FillBuffers(first, second);
    CalculateFeaturesOfObjects(points);
    if (CurrFrameObjectsNum() != 0 && TracksNum() != 0) {
        InitPenaltyMatrix();
        CalculatePenaltyMatrix();
        FindObjectCorrespondenciesGreedyAlg();
        CalculatePenaltyMatrixForDroppedTracksAndNonAssignedObjects();
        FindObjectCorrespondenciesGreedyAlg();
    }
    UpdateTracksUsingCorrespondenciesAndMarkNonUpdated();
    StartNewTracks();
    if (m_track_objects_with_dropped_frames())
        UpdateTracksWithDroppedFrames();
    AnalyzeTracksToDelete();
    FinishFrameProcessing();
}

void Tracker::GetObjects(std::vector<stereo::StereoCountingObjData>& out)
{
    GetObjectsImpl(out);
}

double& Tracker::GetPenaltyValue(int object, int track)
{
    return const_cast<double&>(static_cast<const Tracker&>(*this).GetPenaltyValue(object, track));
}

const double& Tracker::GetPenaltyValue(int object, int track) const
{
    KIV_CHECK(object >= 0, "Tracker_GetPenaltyValue_object_negative") << object;
    KIV_CHECK(object < m_penalty.rows, "Tracker_GetPenaltyValue_object_too_big") << object;
    KIV_CHECK(track >= 0, "Tracker_GetPenaltyValue_track_negative") << track;
    KIV_CHECK(track < m_penalty.cols, "Tracker_GetPenaltyValue_track_too_big") << track;
    return m_penalty.at<double>(object, track);
}

void Tracker::InitPenaltyMatrix()
{
    m_penalty.create(CurrFrameObjectsNum(), TracksNum(), CV_64F);
    m_penalty.setTo(cv::Scalar::all(0.0));
}

void Tracker::FindNonAssignedObjects(std::vector<bool>& flags)
{
    flags.assign(static_cast<std::size_t>(CurrFrameObjectsNum()), true);
    for (const auto& match : m_correspondences) flags[static_cast<std::size_t>(match.first)] = false;
}

void Tracker::FindNonContinuedTracks(std::vector<bool>& flags)
{
    const int tracks = TracksNum();
    flags.assign(static_cast<std::size_t>(tracks), true);
    for (int i = 0; i < tracks; ++i) {
        if (HasToBeDeleted(GetTrackBaseRefConst(i)))
            flags[static_cast<std::size_t>(i)] = false;
    }
}

bool Tracker::HasToBeDeleted(const Track& track) const
{
    const int max_dropped = m_max_dropped_frames();
    const double allowance = static_cast<double>(track.m_valid_frames_num) * m_valid_frames_num_multiplier() +
                             static_cast<double>(m_valid_frames_num_summand());
    // NaN or anything above the parameter gives the parameter.
    const int k = std::clamp(AlgoLibrary::RoundHalfAwayFromZero(allowance, max_dropped), 0, std::max(max_dropped, 0));
    const int d = track.m_dropped_frames;
    const int e = track.m_dropped_frames_near_border;
    double share = 1.0;
    if (d >= 1) {
        const double r = static_cast<double>(e) / d;
        KIV_CHECK(r <= 1.0, "Tracker_HasToBeDeleted_near_border_more_than_dropped") << e << " > " << d;
        share = (1.0 - r) + kBorderAllowanceShare * r;
    }
    const int limit = std::clamp(AlgoLibrary::RoundHalfAwayFromZero(k * share), 0, std::max(max_dropped, 0));
    return d > limit;
}

void Tracker::ForceTrackToBeDeleted(Track& track) const
{
    while (!HasToBeDeleted(track)) ++track.m_dropped_frames;
}

void Tracker::AnalyzeTrack(Track& track) const
{
    track.AnalyzeTrack(m_min_track_frames, m_min_path_length);
}

void Tracker::DeleteOldTracks()
{
    const int tracks = TracksNum();
    m_delete_flags.assign(static_cast<std::size_t>(tracks), false);
    for (int i = 0; i < tracks; ++i)
        m_delete_flags[static_cast<std::size_t>(i)] = HasToBeDeleted(GetTrackBaseRefConst(i));
    DeleteSpaces(m_delete_flags);
}

void Tracker::FillBuffers(const cv::Mat_<uchar>& first, const cv::Mat_<uchar>& second)
{
    KIV_CHECK(first.size() == second.size(), "Tracker_FillBuffers_images_size")
        << first.cols << "x" << first.rows << " and " << second.cols << "x" << second.rows;
    // Everything of the frame (regions, masks, previous image) is sized for the initialised frame.
    KIV_CHECK(first.size() == m_frame_size, "Tracker_FillBuffers_frame_size")
        << "image " << first.cols << "x" << first.rows << ", initialised for " << m_frame_size.width << "x"
        << m_frame_size.height;
    m_curr_image = first;
    FillBuffersDerived(first, second);
}

void Tracker::CalculateFeaturesOfObjects(const std::deque<cv::Point>& points)
{
    for (const cv::Point& point : points) CalculateAndAddFeature(point);
}

CommonTrackFeatures Tracker::CalculateFeaturesBase(const cv::Point& point) const
{
    return CommonTrackFeatures(point, 0);
}

void Tracker::UpdateTracksWithDroppedFrames()
{
    ClearObjectsArray();
    CalculateFeaturesOfObjects(GetNotUpdatedTracksCoords());
    UpdateTracksWithDroppedFramesDerived();
}

void Tracker::FinishFrameProcessing()
{
    m_curr_image.copyTo(m_prev_image);
    ++m_frame_num;
    m_correspondences.clear();
    ClearObjectsArray();
    FinishFrameProcessingDerived();
}

void Tracker::FindObjectCorrespondenciesGreedyAlg()
{
    KIV_CHECK(m_penalty.rows == CurrFrameObjectsNum(), "Tracker_Greedy_rows")
        << m_penalty.rows << " != " << CurrFrameObjectsNum();
    KIV_CHECK(m_penalty.cols == TracksNum(), "Tracker_Greedy_cols") << m_penalty.cols << " != " << TracksNum();
    const int rows = m_penalty.rows;
    const int cols = m_penalty.cols;
    while (static_cast<int>(m_correspondences.size()) < rows) {
        double best = std::numeric_limits<double>::infinity();
        int best_row = -1;
        int best_col = -1;
        for (int r = 0; r < rows; ++r) {
            const double* row = m_penalty.ptr<double>(r);
            for (int c = 0; c < cols; ++c) {
                if (row[c] < best) {
                    best = row[c];
                    best_row = r;
                    best_col = c;
                }
            }
        }
        if (best_row < 0 || best >= kNoMatchPenalty)
            break;
        for (int r = 0; r < rows; ++r) m_penalty.at<double>(r, best_col) = kTakenPenalty;
        double* row = m_penalty.ptr<double>(best_row);
        for (int c = 0; c < cols; ++c) row[c] = kTakenPenalty;
        m_correspondences.emplace_back(best_row, best_col);
        Track& track = GetTrackBaseRef(best_col);
        track.m_dropped_frames = 0;
        track.m_dropped_frames_near_border = 0;
    }
}

void Tracker::Draw(cv::Mat_<cv::Vec3b>* image)
{
    if (!image)
        return;
    const bool draw_dropped = m_track_objects_with_dropped_frames();
    const int tracks = TracksNum();
    for (int i = 0; i < tracks; ++i) {
        const Track& track = GetTrackBaseRefConst(i);
        if (track.m_dropped_frames != 0 && !draw_dropped)
            continue;
        DrawTrack(track, image);
    }
}

void Tracker::DrawTrack(const Track& track, cv::Mat_<cv::Vec3b>* image) const
{
    if (!image)
        return;
    KIV_CHECK(!track.m_path.empty(), "Tracker_DrawTrack_empty_path") << track.m_id;
    const cv::Scalar white(255, 255, 255);
    const cv::Scalar blue(255, 0, 0);
    const cv::Scalar cyan(255, 255, 0);
    cv::circle(*image, track.GetPathEndPoint(), m_object_radius, track.m_dropped_frames <= 0 ? white : blue, 1,
               cv::LINE_8);
    for (std::size_t i = 1; i < track.m_path.size(); ++i) {
        const TrackHistoryElem& from = track.m_path[i - 1];
        const TrackHistoryElem& to = track.m_path[i];
        cv::line(*image, from.point, to.point, to.is_detected ? cyan : blue, 1, cv::LINE_8);
    }
    const cv::Point features = track.GetCommonFeaturesRef().m_point;
    cv::putText(*image, std::to_string(track.m_id), cv::Point(features.x + m_object_radius, features.y),
                cv::FONT_HERSHEY_SIMPLEX, 0.25, cv::Scalar(0, 255, 0), 1, cv::LINE_8);
}

}  // namespace tracker
