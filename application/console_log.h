#pragma once

#include <string>

#include "CommonUtilities/DebugInterfaces/block_log.h"
#include "application/runtime/logger.h"

// Writes the algorithm library's log lines on a log source of the service (the algorithm thread's).
class ConsoleLog : public BlockEntities::Log::ILog {
public:
    explicit ConsoleLog(const LogSource& source);

    // Level 1 is info, 2 warning, 3 error, anything else trace; the block's context is not printed.
    void Write(KIVLogLevel level, const BlockEntities::Context& context, const std::string& text) override;

private:
    LogSource m_source;
};
