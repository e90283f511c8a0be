#pragma once

#include <iostream>
#include <mutex>
#include <string>

#include "CommonUtilities/DebugInterfaces/block_log.h"

namespace tools {

// A counter's log for the tools: its warnings and errors (a refused parameter file, for one) go
// to standard error, a line each, also from several threads.
class ErrorLog : public BlockEntities::Log::ILog {
public:
    void Write(KIVLogLevel level, const BlockEntities::Context&, const std::string& text) override
    {
        if (level < kKivLogWarning || level > kKivLogError)
            return;
        static std::mutex mutex;
        std::lock_guard<std::mutex> lock(mutex);
        std::cerr << text << "\n";
    }
};

}  // namespace tools
