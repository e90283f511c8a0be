#include "application/runtime/util.h"

#include <cstdio>
#include <fstream>

#include <sys/stat.h>
#include <time.h>

#if defined(__GLIBC__)
#include <malloc.h>
#endif

namespace util {

// This file is built with a 64-bit time_t (see CMakeLists.txt); no time_t crosses its interface.
static_assert(sizeof(std::time_t) == 8, "util.cpp must be built with a 64-bit time_t");

std::int64_t SecondsSinceEpoch()
{
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    return static_cast<std::int64_t>(now.tv_sec);
}

std::tm LocalCalendarTime(std::int64_t seconds)
{
    const std::time_t time = static_cast<std::time_t>(seconds);
    std::tm result{};
    localtime_r(&time, &result);
    return result;
}

std::tm localtime()
{
    return LocalCalendarTime(SecondsSinceEpoch());
}

void ReturnFreeHeapMemory()
{
#if defined(__GLIBC__)
    malloc_trim(0);
#endif
}

bool CheckFileExistence(const std::string& path)
{
    std::ifstream file(path);
    return file.good();
}

std::optional<std::string> FirstUnusableFile(const std::string& path_list)
{
    std::string::size_type begin = 0;
    for (;;) {
        const auto separator = path_list.find('?', begin);
        const std::string entry =
            path_list.substr(begin, separator == std::string::npos ? std::string::npos : separator - begin);
        struct stat status {};
        if (entry.empty() || ::stat(entry.c_str(), &status) != 0 || !S_ISREG(status.st_mode) ||
            !CheckFileExistence(entry))
            return entry;
        if (separator == std::string::npos)
            return std::nullopt;
        begin = separator + 1;
    }
}

void RemoveRegularFile(const std::string& path)
{
    struct stat status {};
    if (::lstat(path.c_str(), &status) == 0 && S_ISREG(status.st_mode))
        std::remove(path.c_str());
}

}  // namespace util
