#pragma once

#include <memory>

#include "CommonUtilities/DebugInterfaces/visualizer_base.h"

namespace stereo {

class StereoPeopleCounter;

// The stereo analyser's debug pictures and bitmaps, drawn from the analyser's buffers.
class StereoPeopleCounterVisualiser
    : public BlockEntities::DebugDraw::VisualizerBase<StereoPeopleCounterVisualiser, StereoPeopleCounter> {
public:
    explicit StereoPeopleCounterVisualiser(StereoPeopleCounter* counter);
};

// A visualiser of the counter (not owned; the counter outlives it).
std::shared_ptr<StereoPeopleCounterVisualiser> CreateStereoPeopleCounterVisualiser(StereoPeopleCounter* counter);

}  // namespace stereo
