#include "CommonUtilities/ParameterAccess/parameter_profile.h"

#include <sstream>

namespace {

void WriteAttribute(std::ostream& out, const char* name, const std::string& value)
{
    out << " " << name << "=\"" << EscapeXmlAttribute(value) << "\"";
}

// A current value, which may come from the parameter files: the profile is logged, so the value is
// quoted as a log line quotes one, in XML's form, and shown whole up to the profile's bound.
void WriteCurrentValue(std::ostream& out, const ParamsLib::BaseParameter& parameter)
{
    out << " value=\""
        << logged_text::LoggedXmlAttribute(parameter.GetCurrentValueText("getting current value"), kProfileValueLimit)
        << "\"";
}

}  // namespace

std::string EscapeXmlAttribute(const std::string& text)
{
    std::string escaped;
    escaped.reserve(text.size());
    for (char c : text) {
        switch (c) {
            case '&':
                escaped += "&amp;";
                break;
            case '<':
                escaped += "&lt;";
                break;
            case '>':
                escaped += "&gt;";
                break;
            case '"':
                escaped += "&quot;";
                break;
            case '\'':
                escaped += "&apos;";
                break;
            default:
                escaped += c;
                break;
        }
    }
    return escaped;
}

void DefaultXmlForParamMgr::operator()(ParamsLib::BaseParameter& parameter, const BlockEntities::Context& context) const
{
    using ParamsLib::ParameterOption;
    using ParamsLib::ParameterState;

    const ParamsLib::RequiredParameterInfo& info = parameter.GetRequiredInfo();
    const ParameterState::Enum state = parameter.GetState();
    if (m_kind == ParameterSetKind::kDifferentFromDefault &&
        !(state == ParameterState::kDeserialized &&
          parameter.GetCurrentValueText("getting current value") != info.default_value))
        return;

    ParamsLib::ParameterOptions options;
    parameter.FillParameterOptions(options);
    if (m_kind == ParameterSetKind::kDeclaredDefaults && options.count(ParameterOption::kNotInDefaultProfile))
        return;
    const auto group_option = options.find(ParameterOption::kGroup);
    const std::string group = group_option != options.end() ? group_option->second : context.cached;

    std::ostringstream element;
    element << "\t<param";
    WriteAttribute(element, "name", GetFullParameterName(info.name, context));
    WriteAttribute(element, "type", info.semantic_type);
    WriteAttribute(element, "description", info.brief);
    if (m_kind == ParameterSetKind::kDeclaredDefaults) {
        WriteAttribute(element, "value", info.default_value);
    } else if (state == ParameterState::kDefaultLoaded) {
        WriteCurrentValue(element, parameter);
        WriteAttribute(element, "initializaion_state", "Default");
    } else if (state == ParameterState::kDeserialized) {
        WriteCurrentValue(element, parameter);
        WriteAttribute(element, "default_value", info.default_value);
        WriteAttribute(element, "initializaion_state", "Deserialized");
    } else {
        WriteAttribute(element, "initializaion_state", "undefined");
    }
    const auto minimum = options.find(ParameterOption::kMinimum);
    if (minimum != options.end())
        WriteAttribute(element, "min", minimum->second);
    const auto maximum = options.find(ParameterOption::kMaximum);
    if (maximum != options.end())
        WriteAttribute(element, "max", maximum->second);

    const auto names = options.find(ParameterOption::kEnumNames);
    if (names != options.end()) {
        WriteAttribute(element, "kind", "enum");
        element << ">\n";
        for (const std::string& name : ParamsLib::SplitEnumNames(names->second)) {
            element << "\t\t<enum";
            WriteAttribute(element, "value", name);
            element << "/>\n";
        }
        element << "\t</param>\n";
    } else {
        element << "/>\n";
    }
    (*m_groups)[group].push_back(element.str());
}

void GenerateProfile(std::ostream& out, BlockEntities::IAlgoEntityBase* root, ParameterSetKind::Enum kind)
{
    DefaultXmlForParamMgr::Groups groups;
    ParamsLib::TraverseParameters(root, DefaultXmlForParamMgr(kind, &groups));
    for (const auto& group : groups) {
        out << "<group name=\"" << group.first << "\">\n";
        for (const std::string& element : group.second) out << element;
        out << "</group>\n";
    }
}

void ParameterWarningsReader::operator()(ParamsLib::BaseParameter& parameter,
                                         const BlockEntities::Context& context) const
{
    ParamsLib::ParameterOptions options;
    parameter.FillParameterOptions(options);
    const auto warning = options.find(ParamsLib::ParameterOption::kDefaultLimitedWarning);
    if (warning == options.end())
        return;
    m_out << "Parameter " << parameter.GetName() << " in " << context.cached << ":\n\t" << warning->second << "\n";
}

void GenerateOtherTextualParameterInfo(std::ostream& out, BlockEntities::IAlgoEntityBase* root)
{
    ParamsLib::TraverseParameters(root, ParameterWarningsReader(out));
}
