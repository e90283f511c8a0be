#include "CommonUtilities/ParameterAccess/json_reader.h"

#include <locale>

namespace ParamsLib {
namespace JSON {

namespace {

bool IsClassicSpace(int c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

// The next character, failing the stream at the end of the input (so the whole-text check reports
// the stream failure instead of a made-up character).
int PeekOrFail(std::istream& is)
{
    const int c = is.peek();
    if (c == std::char_traits<char>::eof()) {
        is.setstate(std::ios_base::failbit);  // throws when the stream reports failures
        throw std::runtime_error("unexpected end of input");
    }
    return c;
}

}  // namespace

void SkipWhiteSpace(std::istream& is)
{
    if (!is.good())
        return;
    std::streambuf* buffer = is.rdbuf();
    for (;;) {
        const int c = buffer->sgetc();
        if (c == std::char_traits<char>::eof()) {
            is.setstate(std::ios_base::eofbit);
            return;
        }
        if (!IsClassicSpace(c))
            return;
        buffer->sbumpc();
    }
}

bool TryReadCharSep(std::istream& is, char c)
{
    SkipWhiteSpace(is);
    if (is.peek() != std::char_traits<char>::to_int_type(c))
        return false;
    is.get();
    return true;
}

void ReadCharSep(std::istream& is, char c)
{
    SkipWhiteSpace(is);
    const int next = PeekOrFail(is);
    if (next != std::char_traits<char>::to_int_type(c))
        throw std::runtime_error(std::string("Bad input: got'") + static_cast<char>(next) + "' instead of '" + c + "'");
    is.get();
}

void Reader::ReadT(std::istream& is, bool& out)
{
    SkipWhiteSpace(is);
    is >> std::boolalpha >> out;
}

void Reader::ReadT(std::istream& is, std::string& out)
{
    out.clear();
    ReadCharSep(is, '"');
    for (;;) {
        const int c = is.get();
        if (c == std::char_traits<char>::eof())
            throw std::runtime_error("unfinished string");
        if (c == '"') {
            SkipWhiteSpace(is);
            return;
        }
        if (c != '\\') {
            out.push_back(static_cast<char>(c));
            continue;
        }
        const int escaped = is.peek();
        if (escaped == std::char_traits<char>::eof())
            throw std::runtime_error("unfinished string");
        if (escaped != '\\' && escaped != '"')
            throw std::runtime_error(std::string("unknown escaped character in string:'") + static_cast<char>(escaped) +
                                     "'");
        out.push_back(static_cast<char>(is.get()));
    }
}

void Reader::ReadT(std::istream& is, AlgoLibrary::TPoint<float>& out)
{
    ReadBracketedPair(is, out.x, out.y);
}

namespace {

uint8_t GetIntersectionTypeFromName(const std::string& word)
{
    if (word == "\"Incoming\"")
        return kIntersectionIncoming;
    if (word == "\"Outcoming\"")
        return kIntersectionOutcoming;
    if (word == "\"TwoDirections\"")
        return kIntersectionTwoDirections;
    throw std::invalid_argument("GetIntersectionTypeFromName: wrong input");
}

}  // namespace

void Reader::ReadT(std::istream& is, InputLineFormat& out)
{
    ReadCharSep(is, '[');
    int32_t id = 0;
    ReadT(is, id);
    ReadCharSep(is, ',');

    // Blanks inside the word vanish: every character is read with white space skipped before it.
    std::string word;
    char c = 0;
    is >> c;
    word.push_back(c);
    do {
        is >> c;
        if (!is)
            throw std::runtime_error("unexpected end of input");
        word.push_back(c);
    } while (c != '"');
    SkipWhiteSpace(is);
    const uint8_t direction = GetIntersectionTypeFromName(word);

    ReadCharSep(is, ',');
    std::vector<AlgoLibrary::TPoint<float>> points;
    ReadT(is, points);
    ReadCharSep(is, ']');
    out.id = id;
    out.direction = direction;
    out.points = std::move(points);
}

void ThrowDeserializationFailure(const std::string& text, std::size_t pos, const char* caught)
{
    std::string message = "Deserialization failed.";
    if (caught) {
        message += "    io exception:";
        message += caught;
    }
    message += "    parsed string with error position denoted by ||: '";
    message += text.substr(0, pos);
    message += "||";
    message += text.substr(pos);
    message += "'";
    throw std::runtime_error(message);
}

}  // namespace JSON
}  // namespace ParamsLib

std::istream& operator>>(std::istream& is, ParameterSPOINTType& point)
{
    ParamsLib::JSON::ReadBracketedPair(is, point.x, point.y);
    return is;
}

std::istream& operator>>(std::istream& is, RelativeCircle& circle)
{
    ParamsLib::JSON::ReadBracketedPair(is, circle.first, circle.second);
    return is;
}

std::istream& operator>>(std::istream& is, PerspectiveFilterParams& params)
{
    using ParamsLib::JSON::ReadFromDict;
    using ParamsLib::JSON::SkipWhiteSpace;

    std::map<std::string, std::string> dict;
    std::string key;
    std::string value;
    bool to_value = false;
    auto end_pair = [&]() {
        if (!key.empty())
            dict[key] = value;
        key.clear();
        value.clear();
        to_value = false;
    };
    // White space never enters keys or values; trailing white space is accepted. ';' ends every
    // pair; a pair without a key is dropped.
    for (;;) {
        SkipWhiteSpace(is);
        if (is.eof())
            break;
        const int c = is.get();
        if (c == std::char_traits<char>::eof())
            break;
        if (c == ';')
            end_pair();
        else if (c == '=')
            to_value = true;
        else
            (to_value ? value : key).push_back(static_cast<char>(c));
    }
    end_pair();

    PerspectiveFilterParams read;
    ReadFromDict(dict, "zoom", read.zoom);
    ReadFromDict(dict, "top_factor", read.top_factor);
    ReadFromDict(dict, "bottom_factor", read.bottom_factor);
    ReadFromDict(dict, "shift_x", read.shift_x);
    ReadFromDict(dict, "shift_y", read.shift_y);
    ReadFromDict(dict, "translation", read.translation);
    params = read;
    return is;
}
