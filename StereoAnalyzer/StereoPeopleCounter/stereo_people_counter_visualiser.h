#pragma once

#include <array>
#include <cstddef>
#include <memory>
#include <opencv2/core.hpp>

#include "CommonUtilities/DebugInterfaces/visualizer_base.h"

namespace stereo {

class StereoPeopleCounter;

// The stereo analyser's debug bitmaps, each made on request from the analyser's current state:
// the tracks and objects over the rectified left view, both views' disparities, and the analyser's
// own intermediate pictures. Runs on the algorithm thread, between frames.
class StereoPeopleCounterVisualiser
    : public BlockEntities::DebugDraw::VisualizerBase<StereoPeopleCounterVisualiser, StereoPeopleCounter> {
public:
    explicit StereoPeopleCounterVisualiser(StereoPeopleCounter* counter);

    // The rectified left view in colour with the tracks, the heights of the maxima, the counting
    // lines and a square around every object; null before the first pair.
    cv::Mat* TracksAndObjects();
    // The disparity of a view (0 left, 1 right) in 8 bits at the processing size; empty before the
    // first pair.
    template <int View>
    cv::Mat* Disparity();

private:
    // The address of one of the analyser's pictures, or of one view's element of a pair of them:
    // the member Member of the analyser's state group Group.
    template <typename Group, Group StereoPeopleCounter::*GroupMember, typename M, M Group::*Member>
    cv::Mat* CounterPicture();
    template <std::size_t View, typename Group, Group StereoPeopleCounter::*GroupMember,
              std::array<cv::Mat, 2> Group::*Member>
    cv::Mat* CounterViewPicture();

    std::array<cv::Mat_<uchar>, 2> m_disparity_pictures;
    cv::Mat_<cv::Vec3b> m_tracks_picture;
};

// A visualiser of the counter (not owned; the counter outlives it).
std::shared_ptr<StereoPeopleCounterVisualiser> CreateStereoPeopleCounterVisualiser(StereoPeopleCounter* counter);

}  // namespace stereo
