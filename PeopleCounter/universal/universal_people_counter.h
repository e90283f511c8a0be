#pragma once

#include <algorithm>
#include <boost/date_time/posix_time/posix_time_types.hpp>
#include <cstddef>
#include <functional>
#include <memory>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "CommonUtilities/DebugInterfaces/block_log.h"
#include "CommonUtilities/DebugInterfaces/debug_interfaces.h"
#include "CommonUtilities/algorithm_support/block_light.h"
#include "CommonUtilities/algorithm_support/mem_manager.h"
#include "CommonUtilities/algorithm_support/stats_readable_text.h"
#include "PeopleCounter/universal/i_universal_people_counter.h"
#include "PeopleCounter/universal/people_counting_pod_obj_data.h"
#include "StereoAnalyzer/StereoPeopleCounter/stereo_counting_obj_data.h"

// What the alarm logic reads of an analyser's object record.
struct CountedObjectView {
    long long id;
    bool in;
    bool out;
    int crossed_lines_count;
    const int* crossed_lines;  // at least min(count, 32) entries, or null
    int height;
};

inline CountedObjectView ViewOfCountedObject(const PeopleCountingPODObjData& object)
{
    return {object.id,    object.in != 0, object.out != 0, object.crossed_lines_count, object.crossed_lines,
            object.height};
}

inline CountedObjectView ViewOfCountedObject(const stereo::StereoCountingObjData& object)
{
    return {object.object_id,           object.in_flag,       object.out_flag,
            object.crossed_lines_count, object.crossed_lines, object.height};
}

// The common base of the people counters: root of the counter's block tree, owner of its log
// and statistics sinks and of its memory pool, loader of the algorithm parameters, and the alarm
// logic that turns the analyser's per-frame objects into alarms.
class UniversalPeopleCounter : public IUniversalPeopleCounter,
                               public BlockHighlevel::LightBlock<BlockEntities::IAlgoEntityBase> {
public:
    // What is remembered of an object seen in the previous frame.
    struct PreviousObjectState {
        bool in = false;
        bool out = false;
        bool alarmed = false;  // the object has raised at least one alarm
        int crossed_lines_count = 0;
        int crossed_lines[Alarm::kMaxCrossedLines] = {};
    };

    UniversalPeopleCounter(const std::string& algo_config, std::shared_ptr<BlockEntities::Log::ILog> log,
                           double tilt_angle);

    void InitImage(const kiv::VideoFormat& format) override;
    void GetAlarms(AlarmVector& out) override;
    void Release() override;
    float GetChangedPixelsPercent() const override;
    float GetMaximalPathInObjectRadius() const override;

    // The alarm logic, once per frame after the analyser produced its objects. T is
    // PeopleCountingPODObjData or stereo::StereoCountingObjData.
    template <typename T>
    void ProcessData(const std::vector<T>& objects, AlgoTimePoint time);

    // The runtime statistics are reported when more than 600 s passed since the last report, or
    // more than 10 s while the counter is in its first 100 s.
    static bool IsStatisticsReportDue(long long seconds_since_report, long long seconds_since_start);

protected:
    ~UniversalPeopleCounter() override;

    // Names the block tree below this root and hands every block this counter's sinks.
    void SetContextsAndDebugInterfaces();
    // Loads the tree's parameters from the parameter file(s) and logs the parameter profile.
    void InitParams();
    void ProcessStatistics();

    int GetWidth() const { return m_width; }
    int GetHeight() const { return m_height; }
    const std::string& GetParameterFilePath() const { return m_algo_config; }
    const AlgoLibrary::MemManager::MemoryManagerAllocate& GetMemoryManager() const { return m_memory; }

private:
    using ObjectMemoryAllocator =
        AlgoLibrary::MemManager::Allocator<std::pair<const unsigned long long, PreviousObjectState>,
                                           AlgoLibrary::MemManager::TMemoryManager<false>>;
    using ObjectMemory = std::unordered_map<unsigned long long, PreviousObjectState, std::hash<unsigned long long>,
                                            std::equal_to<unsigned long long>, ObjectMemoryAllocator>;

    void ProcessObject(const CountedObjectView& object, AlgoTimePoint time);
    void AddMovedOutAlarm(long long id, const PreviousObjectState& state, AlgoTimePoint time);
    void AddAlarm(long long id, int type, AlgoTimePoint time, int height, int crossed_lines_count,
                  const int* crossed_lines);

    AlgoLibrary::MemManager::MemoryManagerAllocate m_memory;
    std::shared_ptr<BlockEntities::Log::ILog> m_log;
    std::shared_ptr<BlockEntities::Stats::ReadableText> m_stats;
    BlockEntities::DebugInterfaces m_debug_interfaces;
    AlarmVector alarms_;
    ObjectMemory already_reported_ids_;
    int m_width = 0;
    int m_height = 0;
    std::string m_algo_config;
    boost::posix_time::ptime m_start_time;
    boost::posix_time::ptime m_last_report_time;
};

template <typename T>
void UniversalPeopleCounter::ProcessData(const std::vector<T>& objects, AlgoTimePoint time)
{
    for (auto entry = already_reported_ids_.begin(); entry != already_reported_ids_.end();) {
        const auto id = static_cast<long long>(entry->first);
        const bool present = std::any_of(objects.begin(), objects.end(),
                                         [id](const T& object) { return ViewOfCountedObject(object).id == id; });
        if (present) {
            ++entry;
            continue;
        }
        if (entry->second.alarmed)
            AddMovedOutAlarm(id, entry->second, time);
        entry = already_reported_ids_.erase(entry);
    }
    for (const T& object : objects) ProcessObject(ViewOfCountedObject(object), time);
    ProcessStatistics();
}
