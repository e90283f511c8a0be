#include "StereoAnalyzer/StereoPeopleCounter/stereo_people_counter_visualiser.h"

#include "StereoAnalyzer/StereoPeopleCounter/stereo_people_counter.h"

namespace stereo {

StereoPeopleCounterVisualiser::StereoPeopleCounterVisualiser(StereoPeopleCounter* counter) : VisualizerBase(counter) {}

std::shared_ptr<StereoPeopleCounterVisualiser> CreateStereoPeopleCounterVisualiser(StereoPeopleCounter* counter)
{
    return std::make_shared<StereoPeopleCounterVisualiser>(counter);
}

}  // namespace stereo
