#pragma once

#include <iosfwd>
#include <string>
#include <vector>

#include "tools/mono_sweep/evaluation.h"

namespace monosweep {

// One scene's outcome under one setting, as the sweep's --per-scene file holds it: the key names
// the camera, working size, circle and scene ("200/260 160x120 x1 wide 17").
struct SceneLine {
    std::string key;
    SceneOutcome outcome;
};

// A line of the file (tab-separated, no line break) and the file's header line.
std::string SceneLineText(const SceneLine& line);
std::string SceneLineHeader();
// Reads a file written with these lines; std::runtime_error naming the line that is not one.
std::vector<SceneLine> ReadSceneLines(std::istream& in, const std::string& name);

// Compares two counts of the same scenes, a base (the counter before a change) and the changed
// one, and reports every scene where they differ (passes lost and gained, false passes, the board,
// the people whose board is right, the alarms) and the totals of both. Scenes missing from either
// are named. Returns how many passes the base counted and the changed counter misses.
int Compare(const std::vector<SceneLine>& base, const std::vector<SceneLine>& changed, std::ostream& report);

}  // namespace monosweep
