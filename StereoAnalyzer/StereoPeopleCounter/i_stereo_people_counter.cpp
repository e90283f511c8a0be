#include "StereoAnalyzer/StereoPeopleCounter/i_stereo_people_counter.h"

#include "StereoAnalyzer/StereoPeopleCounter/stereo_people_counter.h"

namespace stereo {

IStereoPeopleCounter* IStereoPeopleCounter::CreateInstance()
{
    return new StereoPeopleCounter();
}

}  // namespace stereo
