#include "CommonUtilities/logged_text/logged_value.h"

namespace logged_text {

namespace {

const char kHex[] = "0123456789abcdef";

unsigned char ByteAt(const std::string& text, std::size_t i)
{
    return static_cast<unsigned char>(text[i]);
}

// The length of the valid UTF-8 sequence that starts at `i` (1 to 4), or 0 when the byte there
// starts none: the ranges of the second byte leave out overlong forms, surrogates and code points
// above U+10FFFF.
std::size_t SequenceLength(const std::string& text, std::size_t i)
{
    const unsigned char lead = ByteAt(text, i);
    if (lead < 0x80)
        return 1;
    std::size_t length = 0;
    unsigned char low = 0x80;
    unsigned char high = 0xBF;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        if (lead == 0xE0)
            low = 0xA0;
        else if (lead == 0xED)
            high = 0x9F;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        if (lead == 0xF0)
            low = 0x90;
        else if (lead == 0xF4)
            high = 0x8F;
    } else {
        return 0;
    }
    if (text.size() - i < length)
        return 0;
    const unsigned char second = ByteAt(text, i + 1);
    if (second < low || second > high)
        return 0;
    for (std::size_t k = 2; k < length; ++k)
        if ((ByteAt(text, i + k) & 0xC0) != 0x80)
            return 0;
    return length;
}

// The code point of the valid sequence of `length` bytes at `i`.
char32_t CodePoint(const std::string& text, std::size_t i, std::size_t length)
{
    static const unsigned char kLeadBits[] = {0, 0x7F, 0x1F, 0x0F, 0x07};
    char32_t code = ByteAt(text, i) & kLeadBits[length];
    for (std::size_t k = 1; k < length; ++k) code = (code << 6) | (ByteAt(text, i + k) & 0x3F);
    return code;
}

bool IsBidiFormatting(char32_t code)
{
    return code == 0x061C || code == 0x200E || code == 0x200F || (code >= 0x202A && code <= 0x202E) ||
           (code >= 0x2066 && code <= 0x2069);
}

void AppendHex(std::string& out, const char* prefix, char32_t value, int digits)
{
    out += prefix;
    for (int shift = 4 * (digits - 1); shift >= 0; shift -= 4) out += kHex[(value >> shift) & 0xF];
}

// Appends `c` as an XML attribute needs it; false for a character XML leaves alone.
bool AppendXmlEscape(std::string& out, unsigned char c)
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

void AppendAscii(std::string& out, unsigned char c, bool xml)
{
    if (xml && AppendXmlEscape(out, c))
        return;
    if (c == '\n')
        out += "\\n";
    else if (c == '\r')
        out += "\\r";
    else if (c == '\t')
        out += "\\t";
    else if (c < 0x20 || c == 0x7F)
        AppendHex(out, "\\x", c, 2);
    else
        out += static_cast<char>(c);
}

std::string Quoted(const std::string& value, std::size_t limit, bool xml)
{
    std::string quoted;
    quoted.reserve((value.size() < limit ? value.size() : limit) + 32);
    std::size_t i = 0;
    while (i < value.size()) {
        const std::size_t length = SequenceLength(value, i);
        // A character is kept whole or not at all; a byte that starts no character stands alone.
        if (i + (length ? length : 1) > limit)
            break;
        if (length == 0) {
            AppendHex(quoted, "\\x", ByteAt(value, i), 2);
            ++i;
            continue;
        }
        if (length == 1) {
            AppendAscii(quoted, ByteAt(value, i), xml);
        } else {
            const char32_t code = CodePoint(value, i, length);
            if (code <= 0x9F)
                AppendHex(quoted, "\\x", code, 2);  // C1 control
            else if (IsBidiFormatting(code))
                AppendHex(quoted, "\\u", code, 4);
            else
                quoted.append(value, i, length);
        }
        i += length;
    }
    if (i < value.size())
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

}  // namespace logged_text
