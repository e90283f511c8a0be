#pragma once

#include <cmath>
#include <functional>
#include <opencv2/core.hpp>

#include "StereoAnalyzer/StereoPeopleCounter/id_generator.h"
#include "StereoAnalyzer/StereoPeopleCounter/tracker/tracks_holder.h"

// Features of the table tracker: the point and a velocity given by the test.
struct PointFeatures : tracker::CommonTrackFeatures {
    cv::Point2f m_velocity;
};

// A tracker whose penalties come from a function of the test (by default: distance to the
// track's point, accepted below 5 pixels) and whose objects carry a fixed velocity. It exercises
// the frame loop, the assignment and the track storage without any image features.
class TableTracker : public tracker::TracksHolder<tracker::TrackWithFeatures<PointFeatures>, PointFeatures> {
public:
    using Holder = tracker::TracksHolder<tracker::TrackWithFeatures<PointFeatures>, PointFeatures>;

    explicit TableTracker(stereo::IDGenerator& generator) : Holder(generator) {}

    std::function<double(int object, int track)> penalty;
    cv::Point2f velocity{0.f, 0.f};

    int MaxDroppedFrames() const { return m_max_dropped_frames(); }
    tracker::TrackWithFeatures<PointFeatures>& TrackAt(int index) { return GetTrackRef(index); }

protected:
    void InitDerived(cv::Size) override {}
    void FillBuffersDerived(const cv::Mat_<uchar>&, const cv::Mat_<uchar>&) override {}
    void FinishFrameProcessingDerived() override {}
    void CalculatePenaltyMatrixForDroppedTracksAndNonAssignedObjects() override {}

    void CalculateAndAddFeature(const cv::Point& point) override
    {
        PointFeatures features;
        static_cast<tracker::CommonTrackFeatures&>(features) = CalculateFeaturesBase(point);
        features.m_velocity = velocity;
        AddObject(features);
    }

    void CalculatePenaltyMatrix() override
    {
        for (int o = 0; o < CurrFrameObjectsNum(); ++o) {
            for (int t = 0; t < TracksNum(); ++t) {
                if (penalty) {
                    GetPenaltyValue(o, t) = penalty(o, t);
                } else {
                    const cv::Point d = GetNewObjectRef(o).m_point - GetTrackRef(t).m_features.m_point;
                    GetPenaltyValue(o, t) = std::sqrt(static_cast<double>(d.dot(d))) + 5.0;
                }
            }
        }
    }
};
