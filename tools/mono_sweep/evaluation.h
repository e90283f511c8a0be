#pragma once

#include <string>
#include <vector>

#include "tools/mono_sweep/scenes.h"

namespace monosweep {

// One alarm of the counter: the frame it came in, its type (0 Incoming, 1 Outgoing, 2 MovedOut)
// and its object.
struct Alarmed {
    int frame = 0, type = 0;
    long long id = 0;
};

// Errors of one count, summed over scenes.
struct Tally {
    int passes = 0, missed = 0, extra = 0, late_sum = 0, counted = 0, late_max = 0, board = 0, database = 0;
    double seconds = 0;  // in the counter's ProcessImage, on one thread
    int frames = 0;
    // People by how they walk, and how many of them the board ends right for: those who walk
    // through, those who turn back, and of these the ones whose head is out of the picture at the
    // turn.
    int straight = 0, straight_right = 0, turning = 0, turning_right = 0, head_out = 0, head_out_right = 0;
    int shared_objects = 0;  // objects that carry the passes of two people or more
    void Add(const Tally& o);
};

// A scene's count against its truth: the tally, a '1' or '0' for each pass of the truth (counted
// or missed, in the truth's order), the passes themselves ("<person><i|o><frame>") and the alarms
// ("<I|O|M><object>@<frame>"), each list separated by blanks.
struct SceneOutcome {
    Tally tally;
    std::string counted, passes, alarms;
};

// A pass of the truth is counted by the nearest unused alarm of its direction from 10 frames
// before to 40 after it; alarms that count no pass are false. The board nets each object's passes
// as the indicator does when it moves out (an object still in the picture at the end keeps its
// count); the database counts the moved-out objects by their net direction, clamped to one pass.
// Both are compared with the people who ended in or out. A person's board is right when every
// object that counted one of their passes counted theirs alone and those objects leave the board
// showing the person's net movement (nothing for one who turned back).
SceneOutcome Evaluate(const NamedScene& named, const std::vector<Alarmed>& alarms, bool verbose);

}  // namespace monosweep
