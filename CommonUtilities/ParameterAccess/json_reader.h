#pragma once

#include <istream>
#include <map>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "CommonUtilities/ParameterAccess/parameter_value_types.h"

// Readers of parameter value texts: numbers, "true"/"false", quoted texts, bracketed points, circles,
// lists, counting lines and the perspective filter's key=value list.

std::istream& operator>>(std::istream& is, ParameterSPOINTType& point);
std::istream& operator>>(std::istream& is, RelativeCircle& circle);
std::istream& operator>>(std::istream& is, PerspectiveFilterParams& params);

namespace ParamsLib {
namespace JSON {

// Skips blanks, tabs and line breaks; marks the end of the input when it reaches it. Does nothing once
// the end was met, so that only a real read past the end fails.
void SkipWhiteSpace(std::istream& is);

// Skips white space; consumes c and returns true when it comes next, else consumes nothing.
bool TryReadCharSep(std::istream& is, char c);

// Skips white space and consumes c, or throws "Bad input: got'x' instead of 'c'".
void ReadCharSep(std::istream& is, char c);

struct Reader {
    // Numbers and every type with a stream extraction operator.
    template <typename T>
    static void ReadT(std::istream& is, T& out)
    {
        SkipWhiteSpace(is);
        is >> out;
    }

    // "[" element { "," element } "]" or "[]"; the list is emptied first.
    template <typename T, typename A>
    static void ReadT(std::istream& is, std::vector<T, A>& out)
    {
        out.clear();
        ReadCharSep(is, '[');
        for (;;) {
            SkipWhiteSpace(is);
            if (is.peek() == ']') {
                is.get();
                SkipWhiteSpace(is);
                return;
            }
            if (!out.empty())
                ReadCharSep(is, ',');
            T element{};
            ReadT(is, element);
            out.push_back(std::move(element));
        }
    }

    static void ReadT(std::istream& is, bool& out);
    // A double-quoted text with \\ and \" as the only escapes.
    static void ReadT(std::istream& is, std::string& out);
    static void ReadT(std::istream& is, AlgoLibrary::TPoint<float>& out);
    // "[" id "," "direction word" "," point list "]".
    static void ReadT(std::istream& is, InputLineFormat& out);
};

// "[" first "," second "]".
template <typename A, typename B>
void ReadBracketedPair(std::istream& is, A& first, B& second)
{
    ReadCharSep(is, '[');
    Reader::ReadT(is, first);
    ReadCharSep(is, ',');
    Reader::ReadT(is, second);
    ReadCharSep(is, ']');
}

// Throws the whole-text check's error for text, the reader having stopped at pos.
[[noreturn]] void ThrowDeserializationFailure(const std::string& text, std::size_t pos, const char* caught);

// Reads one whole value of type T from text; anything left over, or any reader failure, throws
// std::runtime_error with the position where reading stopped marked by "||".
template <typename T>
void ReadFullObjectOrThrowException(const std::string& text, T& out)
{
    std::istringstream is(text);
    is.imbue(std::locale::classic());
    is.exceptions(std::ios_base::failbit | std::ios_base::badbit);
    std::string caught;
    bool thrown = false;
    try {
        SkipWhiteSpace(is);
        Reader::ReadT(is, out);
        SkipWhiteSpace(is);
    } catch (const std::exception& e) {
        thrown = true;
        caught = e.what();
    }
    if (!thrown && !is.fail() && !is.bad() && is.eof())
        return;
    const auto position = is.rdbuf()->pubseekoff(0, std::ios_base::cur, std::ios_base::in);
    std::size_t pos = position < 0 ? text.size() : static_cast<std::size_t>(position);
    if (pos > text.size())
        pos = text.size();
    ThrowDeserializationFailure(text, pos, thrown ? caught.c_str() : nullptr);
}

// Reads dict[key] as one whole value (the perspective filter's numbers are floats).
template <typename T>
void ReadFromDict(const std::map<std::string, std::string>& dict, const std::string& key, T& out)
{
    const auto it = dict.find(key);
    if (it == dict.end())
        throw std::runtime_error("Input parameter data doesn't contain key " + key);
    try {
        ReadFullObjectOrThrowException(it->second, out);
    } catch (const std::exception& e) {
        throw std::runtime_error("Deserialization from dict value failed.    dict key = " + key +
                                 "    error = " + e.what());
    }
}

}  // namespace JSON
}  // namespace ParamsLib
