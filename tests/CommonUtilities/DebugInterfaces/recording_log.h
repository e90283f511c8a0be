#pragma once

#include <string>
#include <vector>

#include "CommonUtilities/DebugInterfaces/block_log.h"

// A block log sink that keeps every line it is given.
class RecordingLog : public BlockEntities::Log::ILog {
public:
    struct Line {
        KIVLogLevel level;
        std::string context;
        std::string text;
    };

    void Write(KIVLogLevel level, const BlockEntities::Context& context, const std::string& text) override
    {
        lines.push_back({level, context.cached, text});
    }

    std::vector<Line> lines;
};
