#include "PeopleCounter/universal/universal_people_counter.h"

#include <iterator>
#include <sstream>
#include <stdexcept>

#include "CommonUtilities/ParameterAccess/load_parameters.h"
#include "CommonUtilities/ParameterAccess/parameter_profile.h"
#include "CommonUtilities/algorithm_support/kiv_exception.h"

namespace {

// The most line ids an alarm carries.
constexpr int kAlarmLinesLimit = Alarm::kMaxCrossedLines - 1;

// How many of an object's line ids can be read and carried on.
int CarriedLinesCount(int crossed_lines_count, const int* crossed_lines)
{
    if (!crossed_lines)
        return 0;
    return std::clamp(crossed_lines_count, 0, kAlarmLinesLimit);
}

}  // namespace

UniversalPeopleCounter::UniversalPeopleCounter(const std::string& algo_config,
                                               std::shared_ptr<BlockEntities::Log::ILog> log, double tilt_angle)
    : m_log(std::move(log)),
      m_stats(std::make_shared<BlockEntities::Stats::ReadableText>()),
      m_debug_interfaces(m_log, m_stats, nullptr),
      alarms_(AlarmVector::allocator_type(m_memory)),
      already_reported_ids_(8, std::hash<unsigned long long>(), std::equal_to<unsigned long long>(),
                            ObjectMemoryAllocator(m_memory)),
      m_algo_config(algo_config),
      m_start_time(boost::posix_time::microsec_clock::universal_time()),
      m_last_report_time(m_start_time)
{
    (void)tilt_angle;  // only the stereo analyser takes the tilt
    already_reported_ids_.max_load_factor(1.0f);
    SetDebugInterfacesImpl(m_debug_interfaces);
}

UniversalPeopleCounter::~UniversalPeopleCounter() = default;

void UniversalPeopleCounter::InitImage(const kiv::VideoFormat& format)
{
    m_width = format.width;
    m_height = format.height;
}

void UniversalPeopleCounter::GetAlarms(AlarmVector& out)
{
    out.clear();
    StatValueInt("requested alarms_", static_cast<long long>(alarms_.size()));
    // The caller's vector may draw from another pool than ours, so the alarms are moved, not swapped.
    out.insert(out.end(), std::make_move_iterator(alarms_.begin()), std::make_move_iterator(alarms_.end()));
    alarms_.clear();
}

void UniversalPeopleCounter::Release()
{
    delete this;
}

float UniversalPeopleCounter::GetChangedPixelsPercent() const
{
    throw std::runtime_error("Not implemented");
}

float UniversalPeopleCounter::GetMaximalPathInObjectRadius() const
{
    throw std::runtime_error("Not implemented");
}

void UniversalPeopleCounter::ProcessObject(const CountedObjectView& object, AlgoTimePoint time)
{
    KIV_CHECK(!(object.in && object.out), "UniversalCounterInAndOut_091226_101502");

    PreviousObjectState& state = already_reported_ids_[static_cast<unsigned long long>(object.id)];
    const bool in_changed = state.in != object.in;
    const bool out_changed = state.out != object.out;
    const bool count_changed = state.crossed_lines_count != object.crossed_lines_count;

    bool alarm_due = true;
    int type = kIncoming;
    if (in_changed && !out_changed)
        type = object.in ? kIncoming : kOutgoing;
    else if (in_changed || out_changed || count_changed)
        type = object.out ? kOutgoing : kIncoming;
    else
        alarm_due = false;

    const int carried = CarriedLinesCount(object.crossed_lines_count, object.crossed_lines);
    state.in = object.in;
    state.out = object.out;
    state.crossed_lines_count = object.crossed_lines_count;
    std::fill(std::copy(object.crossed_lines, object.crossed_lines + carried, state.crossed_lines),
              std::end(state.crossed_lines), 0);

    if (!alarm_due)
        return;
    state.alarmed = true;
    AddAlarm(object.id, type, time, object.height, object.crossed_lines_count, state.crossed_lines);
}

void UniversalPeopleCounter::AddMovedOutAlarm(long long id, const PreviousObjectState& state, AlgoTimePoint time)
{
    AddAlarm(id, kMovedOut, time, 0, state.crossed_lines_count, state.crossed_lines);
}

void UniversalPeopleCounter::AddAlarm(long long id, int type, AlgoTimePoint time, int height, int crossed_lines_count,
                                      const int* crossed_lines)
{
    if (crossed_lines_count > kAlarmLinesLimit) {
        Log(kKivLogWarning) << "Object " << id << " crossed " << crossed_lines_count
                            << " lines; its alarm carries the first " << kAlarmLinesLimit << ".";
    }
    Alarm alarm;
    alarm.object_id = id;
    alarm.type = type;
    alarm.time = time;
    alarm.object_height = height;
    alarm.crossed_lines_count = CarriedLinesCount(crossed_lines_count, crossed_lines);
    std::copy(crossed_lines, crossed_lines + alarm.crossed_lines_count, alarm.crossed_lines);
    alarms_.push_back(alarm);
}

bool UniversalPeopleCounter::IsStatisticsReportDue(long long seconds_since_report, long long seconds_since_start)
{
    return seconds_since_report > 600 || (seconds_since_report > 10 && seconds_since_start <= 99);
}

void UniversalPeopleCounter::ProcessStatistics()
{
    StatValueInt("already_reported_ids_", static_cast<long long>(already_reported_ids_.size()));
    StatValueInt("alarms_", static_cast<long long>(alarms_.size()));

    const boost::posix_time::ptime now = boost::posix_time::microsec_clock::universal_time();
    const long long since_report = (now - m_last_report_time).total_seconds();
    const long long since_start = (now - m_start_time).total_seconds();
    if (!IsStatisticsReportDue(since_report, since_start))
        return;
    m_last_report_time = now;
    Log(kKivLogInfo) << "Runtime stats: " << m_stats->GetReadableStatsAsMultilineString();
    m_stats->Clear();
}

void UniversalPeopleCounter::SetContextsAndDebugInterfaces()
{
    BlockEntities::TraverseSetContexts(this);
    BlockEntities::Traverse<BlockEntities::IDebuggable>(this, SetterOfDebugInterfacesIdenticalToMy());
}

void UniversalPeopleCounter::InitParams()
{
    ParamsLib::load_parameters(m_algo_config.c_str(), 0, this, m_log);
    std::ostringstream profile;
    profile << "<current-different-from-default>\n";
    GenerateProfile(profile, this, ParameterSetKind::kDifferentFromDefault);
    profile << "</current-different-from-default>\n\n<current-all>\n";
    GenerateProfile(profile, this, ParameterSetKind::kAll);
    profile << "</current-all>";
    Log(kKivLogTrace) << profile.str();
}
