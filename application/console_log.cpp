#include "application/console_log.h"

ConsoleLog::ConsoleLog(const LogSource& source) : m_source(source) {}

void ConsoleLog::Write(KIVLogLevel level, const BlockEntities::Context&, const std::string& text)
{
    switch (level) {
        case kKivLogInfo:
            LOG(m_source, info) << text;
            break;
        case kKivLogWarning:
            LOG(m_source, warning) << text;
            break;
        case kKivLogError:
            LOG(m_source, error) << text;
            break;
        default:
            LOG(m_source, trace) << text;
            break;
    }
}
