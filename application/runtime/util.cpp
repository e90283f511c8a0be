#include "application/runtime/util.h"

#include <chrono>
#include <fstream>

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

}  // namespace util
