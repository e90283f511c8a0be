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

void RemoveRegularFile(const std::string& path)
{
    struct stat status {};
    if (::lstat(path.c_str(), &status) == 0 && S_ISREG(status.st_mode))
        std::remove(path.c_str());
}

}  // namespace util
