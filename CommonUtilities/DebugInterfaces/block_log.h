#pragma once

#include <cstddef>
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

// A value from outside (a parameter file's name, a value text, a library's message about them) as
// the algorithms' log lines quote it, in the form the service's own log lines use: its control
// characters escaped ("\n", "\t", "\x1b", ...), so that no value can start a line of its own, and a
// value longer than `limit` bytes cut there (at a whole character) with its length named:
// "xxxx... [cut, 10240 bytes]".
constexpr std::size_t kLoggedValueLimit = 256;
std::string LoggedValue(const std::string& value, std::size_t limit = kLoggedValueLimit);

// The same for a value written as an XML attribute inside a logged text: XML's escapes as well
// (& < > " '), and a line break as the character reference "&#10;".
std::string LoggedXmlAttribute(const std::string& value, std::size_t limit = kLoggedValueLimit);

// Gives the blocks the level type under the short name LogLevel.
struct LogLevelHolder {
    using LogLevel = KIVLogLevel;
};

}  // namespace Log
}  // namespace BlockEntities
