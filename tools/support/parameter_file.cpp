#include "tools/support/parameter_file.h"

#include <sstream>
#include <stdexcept>

namespace tools {

namespace {

std::string Trim(const std::string& text)
{
    const auto first = text.find_first_not_of(" \t\r");
    if (first == std::string::npos)
        return "";
    return text.substr(first, text.find_last_not_of(" \t\r") + 1 - first);
}

void SetValue(std::vector<std::string>& lines, const IniValue& value)
{
    const std::string line = value.key + "=" + value.value;
    bool in_section = false;
    size_t end_of_section = std::string::npos;  // after the section's header or its last setting
    for (size_t i = 0; i < lines.size(); ++i) {
        const std::string text = Trim(lines[i]);
        if (text.empty() || text[0] == ';' || text[0] == '#')
            continue;
        if (text[0] == '[') {
            in_section = Trim(text.substr(1, text.find(']') - 1)) == value.section;
            if (in_section)
                end_of_section = i + 1;
        } else if (in_section) {
            if (Trim(text.substr(0, text.find('='))) == value.key) {
                lines[i] = line;
                return;
            }
            end_of_section = i + 1;
        }
    }
    if (end_of_section != std::string::npos) {
        lines.insert(lines.begin() + static_cast<std::ptrdiff_t>(end_of_section), line);
        return;
    }
    if (!lines.empty() && !Trim(lines.back()).empty())
        lines.emplace_back();
    lines.push_back("[" + value.section + "]");
    lines.push_back(line);
}

}  // namespace

IniValue ParseIniValue(const std::string& option, const std::string& text)
{
    const auto colon = text.find(':');
    const auto equals = text.find('=', colon);
    IniValue value;
    if (colon != std::string::npos && equals != std::string::npos) {
        value.section = Trim(text.substr(0, colon));
        value.key = Trim(text.substr(colon + 1, equals - colon - 1));
        value.value = Trim(text.substr(equals + 1));
    }
    if (value.section.empty() || value.key.empty() || value.section.find_first_of("[]") != std::string::npos ||
        value.key.find_first_of("[;#") == 0 || value.value.find('\n') != std::string::npos)
        throw std::runtime_error("Option --" + option + " takes SECTION:KEY=VALUE: " + text);
    return value;
}

std::string WithIniValues(const std::string& ini, const std::vector<IniValue>& values)
{
    std::vector<std::string> lines;
    std::istringstream in(ini);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    for (const IniValue& value : values) SetValue(lines, value);
    std::string text;
    for (const std::string& line : lines) text += line + "\n";
    return text;
}

}  // namespace tools
