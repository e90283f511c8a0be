#pragma once

#include <string>

#include "CommonUtilities/DebugInterfaces/kiv_log_level.h"
#include "CommonUtilities/algorithm_support/context.h"

namespace BlockEntities {
namespace Log {

// The algorithms' log sink: one complete line (without line end) of the block whose context is given.
class ILog {
public:
    virtual void Write(KIVLogLevel level, const Context& context, const std::string& text) = 0;
    virtual ~ILog() = default;
};

// Gives the blocks the level type under the short name LogLevel.
struct LogLevelHolder {
    using LogLevel = KIVLogLevel;
};

}  // namespace Log
}  // namespace BlockEntities
