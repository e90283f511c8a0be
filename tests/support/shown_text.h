#pragma once

#include <cstddef>
#include <string>

namespace testing_support {

// Whether `text` is valid UTF-8 holding no C0 or C1 control and no bidirectional formatting
// character (U+061C, U+200E, U+200F, U+202A .. U+202E, U+2066 .. U+2069): what a terminal shows as
// it is. A log's own line feeds and tabs pass when `log_layout` is set. Each sequence is decoded
// and its code point checked against the ranges, apart from the service's own quoting.
inline bool ShowsSafely(const std::string& text, bool log_layout = false)
{
    for (std::size_t i = 0; i < text.size();) {
        const unsigned char lead = static_cast<unsigned char>(text[i]);
        const std::size_t length = lead < 0x80                    ? 1
                                   : lead >= 0xC2 && lead <= 0xDF ? 2
                                   : lead >= 0xE0 && lead <= 0xEF ? 3
                                   : lead >= 0xF0 && lead <= 0xF4 ? 4
                                                                  : 0;
        if (length == 0 || i + length > text.size())
            return false;
        unsigned long code = length == 1 ? lead : lead & (0x7Fu >> length);
        for (std::size_t k = 1; k < length; ++k) {
            const unsigned char next = static_cast<unsigned char>(text[i + k]);
            if ((next & 0xC0) != 0x80)
                return false;
            code = (code << 6) | (next & 0x3Fu);
        }
        const unsigned long shortest[] = {0, 0, 0x80, 0x800, 0x10000};
        if (code < shortest[length] || (code >= 0xD800 && code <= 0xDFFF) || code > 0x10FFFF)
            return false;
        const bool layout = log_layout && (code == '\n' || code == '\t');
        if ((code < 0x20 && !layout) || (code >= 0x7F && code <= 0x9F))
            return false;
        if (code == 0x061C || code == 0x200E || code == 0x200F || (code >= 0x202A && code <= 0x202E) ||
            (code >= 0x2066 && code <= 0x2069))
            return false;
        i += length;
    }
    return true;
}

}  // namespace testing_support
