#include "CommonUtilities/ParameterAccess/parameters.h"

#include <algorithm>
#include <iomanip>
#include <stdexcept>
#include <string>

namespace ParamsLib {

bool SegmentMeetsPicture(double x0, double y0, double x1, double y1)
{
    // The part of the segment x0 + t (x1 - x0), t in [0, 1], inside each of the four half-planes.
    double enter = 0.0, leave = 1.0;
    const auto clip = [&](double p, double q) {  // keeps the t with p t <= q
        if (p == 0.0)
            return q >= 0.0;
        const double t = q / p;
        if (p < 0.0)
            enter = std::max(enter, t);
        else
            leave = std::min(leave, t);
        return enter <= leave;
    };
    return clip(x0 - x1, x0) && clip(x1 - x0, 1.0 - x0) && clip(y0 - y1, y0) && clip(y1 - y0, 1.0 - y0);
}

void BaseParameter::FillParameterOptions(ParameterOptions& options) const
{
    for (const auto& option : m_options) options.emplace(option.first, option.second);
}

void BaseParameter::ClearBeforeInitWithNewParameters()
{
    m_value_text.clear();
    m_read_text.clear();
    m_options.clear();
    m_info = RequiredParameterInfo();
    m_state = ParameterState::kNotDeclared;
}

std::string BaseParameter::ParseString(bool)
{
    return m_value_text;
}

void BaseParameter::Init(const RequiredParameterInfo& info)
{
    if (m_state != ParameterState::kNotDeclared)
        ClearBeforeInitWithNewParameters();
    if (info.name.empty())
        throw std::logic_error("Parameter name is empty. ");
    m_info = info;
    std::string semantic_type;
    FillSemanticType(semantic_type);
    m_info.semantic_type = semantic_type;
    if (semantic_type.empty())
        throw std::logic_error("Semantic type is empty. ");

    const std::string default_text = m_info.default_value;
    m_value_text = default_text;
    std::string result;
    try {
        result = ParseString(true);
    } catch (const std::exception& e) {
        throw std::logic_error("Parameter " + m_info.name + " error: user supplied default value " + default_text +
                               " leads to deserialization error: " + e.what());
    }
    if (result != default_text) {
        m_options[ParameterOption::kDefaultLimitedWarning] =
            "User supplied default value " + default_text +
            " was not allowed for this parameter type. The default value was limited/truncated to " + result;
        m_info.default_value = result;
    }
    m_state = ParameterState::kDeclared;
}

void BaseParameter::Deserialize(const std::string& text)
{
    if (m_state == ParameterState::kNotDeclared)
        throw std::logic_error("Init not called before deserialization");
    m_value_text = text;
    m_read_text = text;
    try {
        m_value_text = ParseString(false);
        m_state = ParameterState::kDeserialized;
    } catch (const std::exception&) {
        DeserializeFromDefault();
        throw;
    }
}

void BaseParameter::DeserializeFromDefault()
{
    m_value_text = m_info.default_value;
    ParseString(false);
    m_state = ParameterState::kDefaultLoaded;
}

void BaseParameter::CheckInitialized(const char* purpose) const
{
    if (m_state != ParameterState::kDefaultLoaded && m_state != ParameterState::kDeserialized)
        throw std::logic_error("Accessing non-initialized parameter " + m_info.name + "; Purpose:" + purpose);
}

const std::string& BaseParameter::GetCurrentValueText(const char* purpose) const
{
    CheckInitialized(purpose);
    return m_value_text;
}

float TruncateFloatToSixDecimals(float value)
{
    std::stringstream text;
    text.imbue(std::locale::classic());
    text << std::fixed << std::setprecision(6) << static_cast<double>(value);
    float truncated = 0.f;
    if (!(text >> truncated))
        return value;  // NaN and infinities have no decimals to cut
    return truncated;
}

std::vector<std::string> SplitEnumNames(const std::string& list)
{
    std::vector<std::string> names;
    std::string::size_type begin = 0;
    for (;;) {
        const auto comma = list.find(',', begin);
        names.push_back(list.substr(begin, comma == std::string::npos ? std::string::npos : comma - begin));
        if (comma == std::string::npos)
            return names;
        begin = comma + 1;
    }
}

void ParametersSupportHelperBase::ForEachParameterImpl(const std::function<void(BaseParameter&)>& fn)
{
    if (!m_declared) {
        InitializeDefaultParameters();
        m_declared = true;
    }
    for (BaseParameter* parameter : m_parameters) fn(*parameter);
}

void ParametersSupportHelperBase::RegisterParameter(BaseParameter* parameter)
{
    if (std::find(m_parameters.begin(), m_parameters.end(), parameter) == m_parameters.end())
        m_parameters.push_back(parameter);
}

}  // namespace ParamsLib
