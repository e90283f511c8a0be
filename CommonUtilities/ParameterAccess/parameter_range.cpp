#include "CommonUtilities/ParameterAccess/parameter_range.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace ParamsLib {

bool WorkingRange::Contains(double value) const
{
    if (std::isnan(value))
        return false;
    const bool above_low = low_open ? value > low : value >= low;
    const bool below_high = high_open ? value < high : value <= high;
    return above_low && below_high;
}

std::string WorkingRange::Text() const
{
    // Whole bounds are shown in full; bounds derived from the image with six digits.
    const auto bound = [](double value) {
        if (std::isinf(value))
            return std::string(value > 0 ? "inf" : "-inf");
        char text[32];
        if (value == std::floor(value) && std::fabs(value) < 1e15)
            std::snprintf(text, sizeof(text), "%.0f", value);
        else
            std::snprintf(text, sizeof(text), "%.6g", value);
        return std::string(text);
    };
    return std::string(low_open || std::isinf(low) ? "(" : "[") + bound(low) + ", " + bound(high) +
           (high_open || std::isinf(high) ? ")" : "]");
}

std::string NumberText(double value)
{
    if (std::isinf(value))
        return value > 0 ? "inf" : "-inf";
    if (value == std::floor(value) && std::fabs(value) < 1e15) {
        char whole[32];
        std::snprintf(whole, sizeof(whole), "%.0f", value);
        return whole;
    }
    // A value that came from a float is printed as the float was written, not with the digits of
    // its exact binary value.
    const bool single = static_cast<double>(static_cast<float>(value)) == value;
    char text[32];
    for (int precision = 6; precision <= 17; ++precision) {
        std::snprintf(text, sizeof(text), "%.*g", precision, value);
        const double back = std::strtod(text, nullptr);
        if (single ? static_cast<float>(back) == static_cast<float>(value) : back == value)
            break;
    }
    return text;
}

std::string OutOfRangeText(const std::string& full_name, double value, const WorkingRange& range,
                           const std::string& reason, const std::string& shown)
{
    if (range.Contains(value))
        return std::string();
    std::string text = "Parameter " + full_name + " = " + (shown.empty() ? NumberText(value) : shown) +
                       " cannot work: it must lie in " + range.Text();
    if (!reason.empty())
        text += " (" + reason + ")";
    return text;
}

std::string NameAndValue(const BaseParameter& parameter, const BlockEntities::Context& context)
{
    return GetFullParameterName(parameter.GetName(), context) + " = " +
           logged_text::LoggedValue(parameter.GetTextAsRead());
}

}  // namespace ParamsLib
