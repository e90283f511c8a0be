#include "CommonUtilities/DebugInterfaces/block_log.h"

namespace BlockEntities {
namespace Log {

namespace {

// Appends the control character `c` as a log line shows it.
void AppendControl(std::string& out, unsigned char c)
{
    static const char kHex[] = "0123456789abcdef";
    switch (c) {
        case '\n':
            out += "\\n";
            break;
        case '\r':
            out += "\\r";
            break;
        case '\t':
            out += "\\t";
            break;
        default:
            out += "\\x";
            out += kHex[c >> 4];
            out += kHex[c & 0xF];
            break;
    }
}

// Appends `c` as an XML attribute needs it; false for a character XML leaves alone.
bool AppendXmlEscape(std::string& out, char c)
{
    switch (c) {
        case '&':
            out += "&amp;";
            return true;
        case '<':
            out += "&lt;";
            return true;
        case '>':
            out += "&gt;";
            return true;
        case '"':
            out += "&quot;";
            return true;
        case '\'':
            out += "&apos;";
            return true;
        case '\n':
            out += "&#10;";
            return true;
        default:
            return false;
    }
}

std::string Quoted(const std::string& value, std::size_t limit, bool xml)
{
    std::size_t end = value.size();
    if (end > limit) {
        end = limit;
        // Not inside a character of several bytes (UTF-8's continuation bytes are 10xxxxxx).
        while (end > 0 && (static_cast<unsigned char>(value[end]) & 0xC0) == 0x80) --end;
    }
    std::string quoted;
    quoted.reserve(end + 32);
    for (std::size_t i = 0; i < end; ++i) {
        const unsigned char c = static_cast<unsigned char>(value[i]);
        if (xml && AppendXmlEscape(quoted, value[i]))
            continue;
        if (c < 0x20 || c == 0x7F)
            AppendControl(quoted, c);
        else
            quoted += static_cast<char>(c);
    }
    if (end < value.size())
        quoted += "... [cut, " + std::to_string(value.size()) + " bytes]";
    return quoted;
}

}  // namespace

std::string LoggedValue(const std::string& value, std::size_t limit)
{
    return Quoted(value, limit, false);
}

std::string LoggedXmlAttribute(const std::string& value, std::size_t limit)
{
    return Quoted(value, limit, true);
}

}  // namespace Log
}  // namespace BlockEntities
