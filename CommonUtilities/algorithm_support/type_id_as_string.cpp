#include "CommonUtilities/algorithm_support/type_id_as_string.h"

#include <cctype>

namespace {
bool IsIdentifierChar(char c)
{
    return c == '_' || std::isalnum(static_cast<unsigned char>(c));
}
}  // namespace

std::string TypeIdAsString::RemoveMangling(const std::string& name)
{
    if (name.empty())
        return std::string();
    size_t i = name.size() - 1;
    if (name.size() > 1) {
        while (i > 0 && !IsIdentifierChar(name[i]))
            --i;
        while (i > 0 && IsIdentifierChar(name[i]))
            --i;
    }
    while (i < name.size() && !(name[i] == '_' || std::isalpha(static_cast<unsigned char>(name[i]))))
        ++i;
    return name.substr(i);
}
