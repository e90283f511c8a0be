#include "StereoAnalyzer/StereoPeopleCounter/i_stereo_people_counter.h"

#include <stdexcept>

namespace stereo {

IStereoPeopleCounter* IStereoPeopleCounter::CreateInstance()
{
    throw std::runtime_error("The stereo analyser is not part of this build.");
}

}  // namespace stereo
