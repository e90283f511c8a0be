#pragma once

#include <string>

#include "CommonUtilities/DebugInterfaces/kiv_log_level.h"
#include "CommonUtilities/algorithm_support/context.h"
#include "CommonUtilities/logged_text/logged_value.h"

namespace BlockEntities {
namespace Log {

// The algorithms' log sink: one complete line (without line end) of the block whose context is given.
class ILog {
public:
    virtual void Write(KIVLogLevel level, const Context& context, const std::string& text) = 0;
    virtual ~ILog() = default;
};

// A value from outside (a parameter file's name, a value text, a library's message about them) as
// the algorithms' log lines quote it, by the rule of the service's own log lines
// (logged_text/logged_value.h); LoggedXmlAttribute for a value written as an XML attribute.
using logged_text::kLoggedValueLimit;
using logged_text::LoggedValue;
using logged_text::LoggedXmlAttribute;

// Gives the blocks the level type under the short name LogLevel.
struct LogLevelHolder {
    using LogLevel = KIVLogLevel;
};

}  // namespace Log
}  // namespace BlockEntities
