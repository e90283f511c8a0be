#include "application/runtime/util.h"

#include <chrono>
#include <cstdio>
#include <fstream>

#include <sys/stat.h>

namespace util {

std::tm localtime()
{
    const std::time_t now = std::chrono::system_clock::to_time_t(std::chrono::system_clock::now());
    std::tm result{};
    localtime_r(&now, &result);
    return result;
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
