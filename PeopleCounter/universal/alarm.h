#pragma once

#include <boost/chrono/duration.hpp>
#include <boost/chrono/system_clocks.hpp>
#include <boost/chrono/time_point.hpp>
#include <boost/ratio.hpp>

// Time point of a frame and of the alarms raised in it: nanoseconds on the system clock.
using AlgoTimePoint =
    boost::chrono::time_point<boost::chrono::system_clock, boost::chrono::duration<long long, boost::nano>>;

// What an alarm reports.
enum AlarmType : int {
    kIncoming = 0,  // a pass inward
    kOutgoing = 1,  // a pass outward
    kMovedOut = 2,  // an object that had raised an alarm has left the scene
};

// The name under which an alarm type is logged; null for a value that is no AlarmType.
inline const char* AlarmTypeName(int type)
{
    switch (type) {
        case kIncoming:
            return "Incoming";
        case kOutgoing:
            return "Outgoing";
        case kMovedOut:
            return "MovedOut";
        default:
            return nullptr;
    }
}

// One counting event, as it leaves the algorithms.
struct Alarm {
    // Room for line ids; an alarm carries at most kMaxCrossedLines - 1 of them.
    static constexpr int kMaxCrossedLines = 32;

    long long object_id = 0;
    int type = kIncoming;  // an AlarmType
    AlgoTimePoint time{};
    int object_height = 0;  // 0 when the analyser measures none
    int crossed_lines_count = 0;
    int crossed_lines[kMaxCrossedLines] = {};  // +id inward, -id outward; unused entries 0
};
