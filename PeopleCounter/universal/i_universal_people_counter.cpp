#include "PeopleCounter/universal/i_universal_people_counter.h"

#include <exception>
#include <new>

#include "PeopleCounter/universal/people_counter_mono.h"
#include "PeopleCounter/universal/people_counter_stereo.h"

namespace {

// Runs a counter's construction and turns its failures into a null counter: an exhausted heap
// silently, anything else with its text on the algorithms' log.
template <typename Construct>
IUniversalPeopleCounter* ConstructOrNull(Construct construct, const std::shared_ptr<BlockEntities::Log::ILog>& log)
{
    try {
        return construct();
    } catch (const std::bad_alloc&) {
        return nullptr;
    } catch (const std::exception& error) {
        if (log)
            log->Write(kKivLogError, BlockEntities::Context(), error.what());
        return nullptr;
    }
}

}  // namespace

template <>
IUniversalPeopleCounter* IUniversalPeopleCounter::CreateInstance<kCounterMono>(
    const std::string& algo_config, std::shared_ptr<BlockEntities::Log::ILog> log, double tilt_angle)
{
    return ConstructOrNull(
        [&]() -> IUniversalPeopleCounter* { return new PeopleCounterMono(algo_config, log, tilt_angle); }, log);
}

template <>
IUniversalPeopleCounter* IUniversalPeopleCounter::CreateInstance<kCounterStereo>(
    const std::string& algo_config, std::shared_ptr<BlockEntities::Log::ILog> log, double tilt_angle)
{
    return ConstructOrNull(
        [&]() -> IUniversalPeopleCounter* { return new PeopleCounterStereo(algo_config, log, tilt_angle); }, log);
}
