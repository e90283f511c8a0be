#pragma once

#include <string>
#include <vector>

namespace tools {

// One value of an analyser's parameter file: `key=value` in section [section].
struct IniValue {
    std::string section, key, value;
};

// Reads the text of an option such as --set, "SECTION:KEY=VALUE"; std::runtime_error naming the
// option when the text is not one.
IniValue ParseIniValue(const std::string& option, const std::string& text);

// The parameter file `ini` with each value set, in order, where the file's reader looks for it:
// the key's line in its section replaced, or the key added at the end of that section, or a new
// section added at the end of the file. Sections and keys are matched as the reader matches them
// (blanks around them ignored, lines starting with ';' or '#' are comments), so the result never
// holds a section or a key twice.
std::string WithIniValues(const std::string& ini, const std::vector<IniValue>& values);

}  // namespace tools
