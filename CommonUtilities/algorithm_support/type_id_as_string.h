#pragma once

#include <string>
#include <typeinfo>

// Short readable type names from run-time type names: "13GaussBlurType" gives "GaussBlurType".
struct TypeIdAsString {
    static std::string RemoveMangling(const std::string& name);

    template <typename T>
    static std::string ForType()
    {
        return RemoveMangling(typeid(T).name());
    }

    template <typename T>
    static std::string ForObj(const T& object)
    {
        const char* name = typeid(object).name();
        if (*name == '*')
            ++name;
        return RemoveMangling(name);
    }
};
