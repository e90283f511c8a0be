#include "tools/height_sweep/checks.h"

#include <iomanip>
#include <sstream>
#include <stdexcept>

namespace sweep {

namespace {

bool SameOutcome(const Outcome& a, const Outcome& b)
{
    return a.missed == b.missed && a.false_counts == b.false_counts && a.lateness == b.lateness;
}

}  // namespace

std::string ChecksText(const std::vector<Setting>& settings, const std::vector<CellResult>& results)
{
    if (results.empty())
        return "";
    const size_t best = Recommended(settings, results);
    const CellResult* chosen = nullptr;
    for (const CellResult& result : results) {
        const Camera& first = results.front().cell.camera;
        if (result.cell.walk != Walk::kAlone || result.cell.camera.mount != first.mount ||
            result.cell.camera.baseline != first.baseline || result.cell.camera.tilt != first.tilt)
            continue;
        if (!chosen)
            chosen = &result;
        if (!SameOutcome(result.outcomes[0], result.outcomes[best])) {
            chosen = &result;
            break;
        }
    }
    if (!chosen)
        chosen = &results.front();
    std::ostringstream out;
    out << "# Outcomes of the height sweep that a test counts again (scripts/height-sweep.sh writes them).\n";
    for (const size_t i : {size_t{0}, best}) {
        const Cell& c = chosen->cell;
        out << c.camera.mount << ' ' << c.camera.baseline << ' ' << std::fixed << std::setprecision(4) << c.camera.tilt
            << ' ' << static_cast<int>(c.walk) << ' ' << c.height << ' ' << c.draw << " | "
            << settings[i].double_median_rad << ' ' << settings[i].med_rad << " | " << OutcomeText(chosen->outcomes[i])
            << (i == best ? " *" : "") << "\n";
        if (best == 0)
            break;
    }
    return out.str();
}

std::vector<Check> ParseChecks(const std::string& text)
{
    std::vector<Check> checks;
    std::istringstream lines(text);
    for (std::string line; std::getline(lines, line);) {
        if (line.empty() || line[0] == '#')
            continue;
        const auto bar = line.find(" | "), second = line.find(" | ", bar + 3);
        if (bar == std::string::npos || second == std::string::npos)
            throw std::runtime_error("Not a check: " + line);
        Check check;
        std::istringstream cell(line.substr(0, bar)), setting(line.substr(bar + 3, second - bar - 3));
        int walk = 0;
        cell >> check.cell.camera.mount >> check.cell.camera.baseline >> check.cell.camera.tilt >> walk >>
            check.cell.height >> check.cell.draw;
        setting >> check.setting.double_median_rad >> check.setting.med_rad;
        std::string outcome = line.substr(second + 3);
        if (outcome.size() > 2 && outcome.compare(outcome.size() - 2, 2, " *") == 0) {
            check.recommended = true;
            outcome.resize(outcome.size() - 2);
        }
        if (!cell || !setting || walk < 0 || walk > static_cast<int>(Walk::kEdge))
            throw std::runtime_error("Not a check: " + line);
        check.cell.walk = static_cast<Walk>(walk);
        check.outcome = ParseOutcome(outcome);
        checks.push_back(check);
    }
    return checks;
}

}  // namespace sweep
