#include "tools/mono_sweep/evaluation.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <set>

namespace monosweep {

void Tally::Add(const Tally& o)
{
    passes += o.passes;
    missed += o.missed;
    extra += o.extra;
    late_sum += o.late_sum;
    counted += o.counted;
    late_max = std::max(late_max, o.late_max);
    board += o.board;
    database += o.database;
    seconds += o.seconds;
    frames += o.frames;
    straight += o.straight;
    straight_right += o.straight_right;
    turning += o.turning;
    turning_right += o.turning_right;
    head_out += o.head_out;
    head_out_right += o.head_out_right;
    shared_objects += o.shared_objects;
}

namespace {

// What one object did on the board.
struct ObjectBoard {
    int direction = 0;  // of its first pass: 0 in, 1 out
    int net = 0;        // +1 a pass in, -1 a pass out
    bool moved_out = false;
    bool keeps = true;  // its count stays on the board
    std::set<int> people;
    bool foreign = false;  // a false pass among its own
};

}  // namespace

SceneOutcome Evaluate(const NamedScene& named, const std::vector<Alarmed>& alarms, bool verbose)
{
    SceneOutcome outcome;
    Tally& t = outcome.tally;
    const std::vector<scene::Crossing> truth = scene::GroundTruth(named.scene);
    std::vector<int> person_of(alarms.size(), -1);
    std::map<int, int> person_net;
    for (const scene::Crossing& c : truth) {
        ++t.passes;
        person_net[c.person] += c.incoming ? 1 : -1;
        outcome.passes += (outcome.passes.empty() ? "" : " ") + std::to_string(c.person) + (c.incoming ? "i" : "o") +
                          std::to_string(c.frame);
        int best = -1;
        for (size_t k = 0; k < alarms.size(); ++k) {
            const int late = alarms[k].frame - c.frame;
            if (person_of[k] >= 0 || alarms[k].type != (c.incoming ? 0 : 1) || late < -10 || late > 40)
                continue;
            if (best < 0 || std::abs(late) < std::abs(alarms[static_cast<size_t>(best)].frame - c.frame))
                best = static_cast<int>(k);
        }
        if (best < 0) {
            ++t.missed;
            outcome.counted += '0';
            if (verbose)
                std::printf("  %s: person %d %s at frame %d missed\n", named.name.c_str(), c.person,
                            c.incoming ? "in" : "out", c.frame);
            continue;
        }
        outcome.counted += '1';
        person_of[static_cast<size_t>(best)] = c.person;
        const int late = alarms[static_cast<size_t>(best)].frame - c.frame;
        t.late_sum += std::max(late, 0);
        t.late_max = std::max(t.late_max, late);
        ++t.counted;
    }
    int people_in = 0, people_out = 0;
    for (const auto& [person, net] : person_net) {
        people_in += net > 0;
        people_out += net < 0;
    }
    int board[2] = {0, 0}, database[2] = {0, 0};
    std::map<long long, ObjectBoard> present;  // by object id, until it moves out
    std::vector<ObjectBoard> objects;          // every object, once it moved out or at the end
    for (size_t k = 0; k < alarms.size(); ++k) {
        const Alarmed& a = alarms[k];
        static const char kType[] = "IOM";
        outcome.alarms += (outcome.alarms.empty() ? "" : " ") + std::string(1, kType[std::min(a.type, 2)]) +
                          std::to_string(a.id) + "@" + std::to_string(a.frame);
        if (a.type != 2) {
            if (person_of[k] < 0) {
                ++t.extra;
                if (verbose)
                    std::printf("  %s: false %s (id %lld) at frame %d\n", named.name.c_str(),
                                a.type == 0 ? "in" : "out", a.id, a.frame);
            }
            auto [entry, added] = present.try_emplace(a.id);
            ObjectBoard& object = entry->second;
            if (added) {
                object.direction = a.type;
                ++board[a.type];
            }
            object.net += a.type == 0 ? 1 : -1;
            if (person_of[k] >= 0)
                object.people.insert(person_of[k]);
            else
                object.foreign = true;
            continue;
        }
        const auto entry = present.find(a.id);
        if (entry == present.end())
            continue;
        ObjectBoard object = entry->second;
        object.moved_out = true;
        if (object.net != (object.direction == 0 ? 1 : -1)) {
            object.keeps = false;
            --board[object.direction];
        }
        if (object.net != 0)
            ++database[object.net > 0 ? 0 : 1];
        objects.push_back(object);
        present.erase(entry);
    }
    for (const auto& [id, object] : present) objects.push_back(object);
    t.board = std::abs(board[0] - people_in) + std::abs(board[1] - people_out);
    t.database = std::abs(database[0] - people_in) + std::abs(database[1] - people_out);

    for (const ObjectBoard& object : objects) t.shared_objects += object.people.size() > 1;
    for (size_t p = 0; p < named.scene.people.size(); ++p) {
        const int person = static_cast<int>(p);
        bool own = true;
        int shown[2] = {0, 0};  // in, out
        for (const ObjectBoard& object : objects) {
            if (!object.people.count(person))
                continue;
            own = own && object.people.size() == 1 && !object.foreign;
            shown[object.direction] += object.keeps;
        }
        const auto found = person_net.find(person);
        const int net = found == person_net.end() ? 0 : found->second;
        const bool right = own && shown[0] == (net > 0 ? 1 : 0) && shown[1] == (net < 0 ? 1 : 0);
        const scene::Person& walker = named.scene.people[p];
        if (verbose && !right)
            std::printf("  %s: person %d (%s) board wrong: %s, shown %d in %d out for a net %+d\n", named.name.c_str(),
                        person,
                        walker.return_after < 0                     ? "walking through"
                        : HeadOutAtTheTurn(named.scene.rig, walker) ? "turning back, head out"
                                                                    : "turning back",
                        own ? "own objects" : "an object shared", shown[0], shown[1], net);
        if (walker.return_after < 0) {
            ++t.straight;
            t.straight_right += right;
            continue;
        }
        ++t.turning;
        t.turning_right += right;
        if (HeadOutAtTheTurn(named.scene.rig, walker)) {
            ++t.head_out;
            t.head_out_right += right;
        }
    }
    return outcome;
}

}  // namespace monosweep
