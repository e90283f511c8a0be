#pragma once

#include <fstream>
#include <string>

namespace testing_support {

// A process that has ended (or is only a zombie waiting for another parent) is no longer alive.
inline bool IsAlive(const std::string& pid)
{
    std::ifstream stat("/proc/" + pid + "/stat");
    std::string skip;
    std::string name;
    std::string state;
    return stat >> skip >> name >> state && state != "Z";
}

}  // namespace testing_support
