#pragma once

#include <string>
#include <vector>

#include "tools/height_sweep/counting.h"
#include "tools/height_sweep/report.h"

namespace sweep {

// A scene of the sweep whose outcome under a setting was stored, to be counted again.
struct Check {
    Cell cell;
    Setting setting;
    Outcome outcome;
    bool recommended = false;  // the setting is the one with the fewest errors
};

// The stored checks: for the first scene of one person alone under the first camera whose outcome
// differs between the defaults and the recommended setting (or the first such scene), its
// outcome under both, one line each:
// "<mount> <baseline> <tilt> <walk> <height> <draw> | <double median rad> <med rad> | <outcome>",
// a trailing " *" marking the recommended setting.
std::string ChecksText(const std::vector<Setting>& settings, const std::vector<CellResult>& results);
// Reads them back; std::runtime_error for a line that is not one.
std::vector<Check> ParseChecks(const std::string& text);

}  // namespace sweep
