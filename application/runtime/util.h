#pragma once

#include <cstdint>
#include <ctime>
#include <optional>
#include <string>

namespace util {

// Seconds since the epoch, 64 bits wide also where time_t has 32 (the device): right after 2038.
std::int64_t SecondsSinceEpoch();

// The local calendar time of `seconds` since the epoch, right after 2038 on the device too.
std::tm LocalCalendarTime(std::int64_t seconds);

// The current local calendar time, cut to whole seconds.
std::tm localtime();

// True when an input file stream opened on the path is in good state.
bool CheckFileExistence(const std::string& path);

// The first entry of a "?"-separated list of paths that is not a readable regular file (an empty
// entry included), or nothing when every entry is one.
std::optional<std::string> FirstUnusableFile(const std::string& path_list);

// Hands the heap's free memory back to the system (glibc keeps what was freed for later use,
// however much it is). Costs a walk over the heap: for after a large amount was freed.
void ReturnFreeHeapMemory();

// Deletes `path` when it names a regular file (not a directory, link or device); anything
// else, a missing path included, is left alone.
void RemoveRegularFile(const std::string& path);

}  // namespace util
