#pragma once

#include <cstddef>
#include <string>

// How a log line shows a text from outside the service: an option, a path, a value of the
// configuration or parameter files, or a library's message about one of them. Every library
// quotes such texts through these two functions, so the rule is the same in every log line.
namespace logged_text {

constexpr std::size_t kLoggedValueLimit = 256;

// The value as valid UTF-8 without a control character, so that it can neither start a line of its
// own nor drive the terminal that shows the log:
// - a line feed, carriage return and tab as "\n", "\r" and "\t"; any other C0 control and DEL as
//   "\x" and two hex digits ("\x1b");
// - a C1 control (U+0080 .. U+009F) as "\x" and its code point's two hex digits ("\x9b");
// - each byte of a sequence that is not valid UTF-8 (a stray continuation byte, a truncated or
//   overlong sequence, a surrogate, a code point above U+10FFFF, the bytes C0, C1, F5 .. FF) as
//   "\x" and the byte's two hex digits;
// - a bidirectional formatting character (U+061C, U+200E, U+200F, U+202A .. U+202E,
//   U+2066 .. U+2069), which reorders what a terminal shows, as "\u" and four hex digits ("\u202e");
// - everything else as it is (backslashes too).
// A value longer than `limit` bytes is cut before the first character (or invalid byte) that
// passes the limit, and its length is named: "2026-08-01xxxx... [cut, 10240 bytes]".
std::string LoggedValue(const std::string& value, std::size_t limit = kLoggedValueLimit);

// The same for a value written as an XML attribute inside a logged text: XML's escapes as well
// (& < > " ' as "&amp;", "&lt;", "&gt;", "&quot;", "&apos;") and a line feed as the character
// reference "&#10;".
std::string LoggedXmlAttribute(const std::string& value, std::size_t limit = kLoggedValueLimit);

}  // namespace logged_text
