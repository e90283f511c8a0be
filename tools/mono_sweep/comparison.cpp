#include "tools/mono_sweep/comparison.h"

#include <cstdio>
#include <istream>
#include <map>
#include <ostream>
#include <sstream>
#include <stdexcept>

namespace monosweep {

namespace {

// The tally's numbers that a line holds, in order.
std::vector<int*> NumberFields(Tally& t)
{
    return {&t.passes,         &t.missed,  &t.extra,         &t.board,    &t.database,       &t.straight,
            &t.straight_right, &t.turning, &t.turning_right, &t.head_out, &t.head_out_right, &t.shared_objects};
}

std::vector<std::string> Split(const std::string& text, char separator)
{
    std::vector<std::string> fields;
    std::string field;
    std::istringstream in(text);
    while (std::getline(in, field, separator)) fields.push_back(field);
    if (!text.empty() && text.back() == separator)
        fields.emplace_back();
    return fields;
}

}  // namespace

std::string SceneLineHeader()
{
    return "scene\tpasses\tmissed\tfalse\tboard off\tdatabase off\tstraight\tstraight right\tturning\tturning "
           "right\thead out\thead out right\tshared objects\tcounted\tpasses of the truth\talarms";
}

std::string SceneLineText(const SceneLine& line)
{
    Tally t = line.outcome.tally;
    std::string text = line.key;
    for (int* field : NumberFields(t)) text += "\t" + std::to_string(*field);
    return text + "\t" + line.outcome.counted + "\t" + line.outcome.passes + "\t" + line.outcome.alarms;
}

std::vector<SceneLine> ReadSceneLines(std::istream& in, const std::string& name)
{
    std::vector<SceneLine> lines;
    std::string text;
    for (int number = 1; std::getline(in, text); ++number) {
        if (number == 1 && text == SceneLineHeader())
            continue;
        const std::vector<std::string> fields = Split(text, '\t');
        SceneLine line;
        std::vector<int*> numbers = NumberFields(line.outcome.tally);
        bool good = fields.size() == numbers.size() + 4;
        for (size_t k = 0; good && k < numbers.size(); ++k) {
            size_t used = 0;
            try {
                *numbers[k] = std::stoi(fields[k + 1], &used);
            } catch (const std::exception&) {
                used = 0;
            }
            good = used > 0 && used == fields[k + 1].size();
        }
        if (!good)
            throw std::runtime_error(name + ", line " + std::to_string(number) + ": not a line of --per-scene");
        line.key = fields[0];
        line.outcome.counted = fields[numbers.size() + 1];
        line.outcome.passes = fields[numbers.size() + 2];
        line.outcome.alarms = fields[numbers.size() + 3];
        lines.push_back(line);
    }
    return lines;
}

int Compare(const std::vector<SceneLine>& base, const std::vector<SceneLine>& changed, std::ostream& report)
{
    std::map<std::string, const SceneLine*> by_key;
    for (const SceneLine& line : base) by_key[line.key] = &line;
    Tally base_total, changed_total;
    int lost = 0, gained = 0, scenes = 0, differing = 0, losing = 0;
    for (const SceneLine& line : changed) {
        const auto found = by_key.find(line.key);
        if (found == by_key.end()) {
            report << line.key << ": only in the changed count\n";
            continue;
        }
        const SceneLine& old = *found->second;
        by_key.erase(found);
        ++scenes;
        base_total.Add(old.outcome.tally);
        changed_total.Add(line.outcome.tally);
        if (old.outcome.passes != line.outcome.passes) {
            report << line.key << ": the two counts had other scenes (their truths differ)\n";
            continue;
        }
        const std::vector<std::string> passes = Split(line.outcome.passes, ' ');
        std::string lost_passes, gained_passes;
        for (size_t k = 0; k < old.outcome.counted.size() && k < line.outcome.counted.size(); ++k) {
            const std::string pass = k < passes.size() ? passes[k] : "?";
            if (old.outcome.counted[k] == '1' && line.outcome.counted[k] == '0') {
                ++lost;
                lost_passes += " " + pass;
            } else if (old.outcome.counted[k] == '0' && line.outcome.counted[k] == '1') {
                ++gained;
                gained_passes += " " + pass;
            }
        }
        const Tally& a = old.outcome.tally;
        const Tally& b = line.outcome.tally;
        const int right_a = a.straight_right + a.turning_right, right_b = b.straight_right + b.turning_right;
        if (old.outcome.counted == line.outcome.counted && a.extra == b.extra && a.board == b.board &&
            right_a == right_b)
            continue;
        ++differing;
        losing += !lost_passes.empty();
        report << line.key << ":";
        if (!lost_passes.empty())
            report << " LOST" << lost_passes << ";";
        if (!gained_passes.empty())
            report << " gained" << gained_passes << ";";
        report << " false " << a.extra << " -> " << b.extra << "; board off by " << a.board << " -> " << b.board
               << "; people right " << right_a << " -> " << right_b << " of " << b.straight + b.turning << "\n"
               << "    base:    " << old.outcome.alarms << "\n"
               << "    changed: " << line.outcome.alarms << "\n";
    }
    for (const auto& [key, line] : by_key) report << key << ": only in the base count\n";

    const auto row = [&](const char* name, int a, int b) {
        char text[160];
        std::snprintf(text, sizeof text, "| %s | %d | %d |\n", name, a, b);
        report << text;
    };
    const auto share = [&](const char* name, int a_right, int a_all, int b_right, int b_all) {
        char text[160];
        std::snprintf(text, sizeof text, "| %s | %d of %d | %d of %d |\n", name, a_right, a_all, b_right, b_all);
        report << text;
    };
    report << "\n"
           << scenes << " scenes in both counts, " << differing << " differ\n\n"
           << "| | base | changed |\n|---|---|---|\n";
    row("passes of the truth", base_total.passes, changed_total.passes);
    row("missed", base_total.missed, changed_total.missed);
    row("false", base_total.extra, changed_total.extra);
    row("board off the people's net movement by", base_total.board, changed_total.board);
    row("database off by", base_total.database, changed_total.database);
    share("straight walkers whose board is right", base_total.straight_right, base_total.straight,
          changed_total.straight_right, changed_total.straight);
    share("turn-backs whose board is right", base_total.turning_right, base_total.turning, changed_total.turning_right,
          changed_total.turning);
    share("of them, head out of the picture at the turn", base_total.head_out_right, base_total.head_out,
          changed_total.head_out_right, changed_total.head_out);
    row("objects carrying passes of two people or more", base_total.shared_objects, changed_total.shared_objects);
    report << "\nPasses the base counted and the changed counter misses: " << lost << " (in " << losing
           << " scenes); passes it counts that the base missed: " << gained << "\n";
    return lost;
}

}  // namespace monosweep
