// Debug, marking and input videos of the stereo analyser.

#include "StereoAnalyzer/StereoPeopleCounter/stereo_people_counter.h"

namespace stereo {

void StereoPeopleCounter::InitOutput() {}

void StereoPeopleCounter::StartNewInputVideo() {}

void StereoPeopleCounter::WriteVideoOutput() {}

void StereoPeopleCounter::EndOutput() {}

void StereoPeopleCounter::WriteInputVideo() {}

}  // namespace stereo
