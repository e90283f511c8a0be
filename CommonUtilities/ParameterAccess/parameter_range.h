#pragma once

#include <limits>
#include <string>

#include "CommonUtilities/ParameterAccess/load_parameters.h"
#include "CommonUtilities/algorithm_support/context.h"
#include "CommonUtilities/logged_text/logged_value.h"

namespace ParamsLib {

// The values with which a numeric parameter can work. An open end excludes its bound; an infinite
// bound is no bound.
struct WorkingRange {
    double low = -std::numeric_limits<double>::infinity();
    double high = std::numeric_limits<double>::infinity();
    bool low_open = false;
    bool high_open = false;

    static WorkingRange AtLeast(double low) { return {low, std::numeric_limits<double>::infinity(), false, false}; }
    static WorkingRange Above(double low) { return {low, std::numeric_limits<double>::infinity(), true, false}; }
    static WorkingRange AtMost(double high) { return {-std::numeric_limits<double>::infinity(), high, false, false}; }
    static WorkingRange Below(double high) { return {-std::numeric_limits<double>::infinity(), high, false, true}; }
    static WorkingRange Closed(double low, double high) { return {low, high, false, false}; }

    bool Contains(double value) const;
    // "[1, 1000]", "(0, inf)", ...
    std::string Text() const;
};

// A number as the refusals print it: the shortest text that gives the value back.
std::string NumberText(double value);

// Empty when the value lies in the range; otherwise "Parameter <full name> = <value> cannot work: it
// must lie in <range>" followed by the reason, when one is given. The value is shown as `shown`
// when that is given (the text a parameter file wrote), else as NumberText gives it.
std::string OutOfRangeText(const std::string& full_name, double value, const WorkingRange& range,
                           const std::string& reason = std::string(), const std::string& shown = std::string());

// The same for a loaded numeric parameter of the block with the given context, its value shown as
// the parameter file wrote it, quoted as a log line quotes it (logged_text::LoggedValue).
template <typename P>
std::string CheckWorkingRange(const P& parameter, const BlockEntities::Context& context, const WorkingRange& range,
                              const std::string& reason = std::string())
{
    return OutOfRangeText(GetFullParameterName(parameter.GetName(), context), static_cast<double>(parameter()), range,
                          reason, logged_text::LoggedValue(parameter.GetTextAsRead()));
}

// "<full name> = <value as read>", naming a parameter and its value (quoted) in a refusal.
std::string NameAndValue(const BaseParameter& parameter, const BlockEntities::Context& context);

}  // namespace ParamsLib
