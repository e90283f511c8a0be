// The one quoting of outside texts in log lines, which every library uses.
#include "CommonUtilities/logged_text/logged_value.h"

#include <gtest/gtest.h>

#include <string>

#include "support/shown_text.h"

namespace {

using logged_text::kLoggedValueLimit;
using logged_text::LoggedValue;
using logged_text::LoggedXmlAttribute;
using testing_support::ShowsSafely;

TEST(LoggedValueTest, ControlsInvalidBytesAndDirectionMarksAreEscapedAndTheRestShownAsItIs)
{
    const struct {
        std::string value;
        const char* logged;
    } cases[] = {
        {"plain text, a\\b 100%", "plain text, a\\b 100%"},
        {"line\nbreak\r\ttab", "line\\nbreak\\r\\ttab"},
        {std::string("nul\0bell\a", 9) + "\x1b[31mdel\x7f", "nul\\x00bell\\x07\\x1b[31mdel\\x7f"},
        // Valid characters of 2, 3 and 4 bytes, the first after the C1 range and the last of all.
        {"\xc3\xa4 \xe2\x82\xac \xf0\x9d\x84\x9e \xc2\xa0 \xf4\x8f\xbf\xbf \xed\x9f\xbf",
         "\xc3\xa4 \xe2\x82\xac \xf0\x9d\x84\x9e \xc2\xa0 \xf4\x8f\xbf\xbf \xed\x9f\xbf"},
        // C1 controls by their code points: CSI (here erasing the line), NEL, the first and the last.
        {"\xc2\x9bK \xc2\x85 \xc2\x80 \xc2\x9f", "\\x9bK \\x85 \\x80 \\x9f"},
        // Bytes of no character, each shown alone: a raw CSI byte, stray continuation bytes, bytes
        // that never occur, overlong forms, surrogates, code points above U+10FFFF.
        {"\x9bK \x80\xbf \xc0\xc1\xf5\xff", "\\x9bK \\x80\\xbf \\xc0\\xc1\\xf5\\xff"},
        {"\xc0\xaf \xe0\x80\xaf \xf0\x80\x80\xaf", "\\xc0\\xaf \\xe0\\x80\\xaf \\xf0\\x80\\x80\\xaf"},
        {"\xed\xa0\x80 \xed\xbf\xbf \xf4\x90\x80\x80", "\\xed\\xa0\\x80 \\xed\\xbf\\xbf \\xf4\\x90\\x80\\x80"},
        // Truncated sequences: inside the text the next character stays whole, at its end too.
        {"\xe2\x82q \xf0\x9f\x98 \xe2\x82\xac \xe2", "\\xe2\\x82q \\xf0\\x9f\\x98 \xe2\x82\xac \\xe2"},
        // The bidirectional formatting characters; their neighbours are shown as they are.
        {"\xe2\x80\xaeLIVE \xd8\x9c \xe2\x80\x8e\xe2\x80\x8f \xe2\x80\xaa\xe2\x80\xad \xe2\x81\xa6\xe2\x81\xa9",
         "\\u202eLIVE \\u061c \\u200e\\u200f \\u202a\\u202d \\u2066\\u2069"},
        {"\xe2\x80\x8d \xe2\x80\xaf \xe2\x81\xa5 \xe2\x81\xaa", "\xe2\x80\x8d \xe2\x80\xaf \xe2\x81\xa5 \xe2\x81\xaa"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.logged);
        EXPECT_EQ(LoggedValue(c.value), c.logged);
        EXPECT_TRUE(ShowsSafely(LoggedValue(c.value)));
        // A quoted text passes the quoting unchanged: a text quoted where it was made (an
        // exception's) can be quoted again where it is logged.
        EXPECT_EQ(LoggedValue(c.logged), c.logged);
    }
}

// Every text of one or two bytes, and every three-byte text that starts with a byte of a
// three-byte character and ends at a bound of a byte range, comes out as valid UTF-8 without a
// control or a direction mark.
TEST(LoggedValueTest, EveryShortTextComesOutSafe)
{
    int unsafe = 0;
    for (int first = 0; first < 256; ++first) {
        for (int second = -1; second < 256; ++second) {
            std::string value(1, static_cast<char>(first));
            if (second >= 0)
                value += static_cast<char>(second);
            unsafe += !ShowsSafely(LoggedValue(value));
            if (first >= 0xE0 && first <= 0xEF && second >= 0)
                for (const int third : {0x00, 0x7F, 0x80, 0x8F, 0x90, 0x9F, 0xA0, 0xBF, 0xC0, 0xFF})
                    unsafe += !ShowsSafely(LoggedValue(value + static_cast<char>(third)));
        }
    }
    EXPECT_EQ(unsafe, 0);
}

TEST(LoggedValueTest, LongValueIsCutAtWholeCharactersWithItsLength)
{
    // At the limit nothing is cut; one byte more cuts it there.
    EXPECT_EQ(LoggedValue(std::string(kLoggedValueLimit, 'x')), std::string(kLoggedValueLimit, 'x'));
    EXPECT_EQ(LoggedValue(std::string(kLoggedValueLimit + 1, 'x')),
              std::string(kLoggedValueLimit, 'x') + "... [cut, 257 bytes]");
    EXPECT_EQ(LoggedValue(std::string(10240, '7'), 8), "77777777... [cut, 10240 bytes]");
    // A character across the limit is left out whole; an escaped one counts its own bytes.
    EXPECT_EQ(LoggedValue("abcd\xe2\x82\xacwxyz", 5), "abcd... [cut, 11 bytes]");
    EXPECT_EQ(LoggedValue("abcd\xe2\x82\xacwxyz", 7), "abcd\xe2\x82\xac... [cut, 11 bytes]");
    EXPECT_EQ(LoggedValue("ab\x1b\x1b\x1b", 4), "ab\\x1b\\x1b... [cut, 5 bytes]");
    // Bytes of no character are cut one by one: a long run of them keeps the limit's share.
    EXPECT_EQ(LoggedValue(std::string(20, '\x80'), 3), "\\x80\\x80\\x80... [cut, 20 bytes]");
    EXPECT_EQ(LoggedValue("ab\xe2\x82", 3), "ab\\xe2... [cut, 4 bytes]");
}

TEST(LoggedValueTest, XmlAttributeAddsXmlEscapesAndShowsLineFeedsAsReferences)
{
    EXPECT_EQ(LoggedXmlAttribute("a&b<c>d\"e'f"), "a&amp;b&lt;c&gt;d&quot;e&apos;f");
    EXPECT_EQ(LoggedXmlAttribute("one\ntwo\r\tthree\x1b[31m"), "one&#10;two\\r\\tthree\\x1b[31m");
    EXPECT_EQ(LoggedXmlAttribute("\xc2\x9b \x9b \xe2\x80\xae \xc3\xa4"), "\\x9b \\x9b \\u202e \xc3\xa4");
    EXPECT_TRUE(ShowsSafely(LoggedXmlAttribute("\n\r\xc2\x9b\x9b\xe2\x80\xae")));
    // The limit counts the value's bytes, not those of its escapes.
    EXPECT_EQ(LoggedXmlAttribute("&&&&", 2), "&amp;&amp;... [cut, 4 bytes]");
}

}  // namespace
