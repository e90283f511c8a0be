#include "tools/mono_sweep/scenes.h"

#include <algorithm>
#include <random>

namespace monosweep {

namespace {

scene::Person Walker(double x, bool down, double speed, double height, int start, bool dark)
{
    scene::Person p;
    p.x0 = p.x1 = x;
    p.y0 = down ? -210 : 210;
    p.y1 = -p.y0;
    p.speed = speed;
    p.height = height;
    p.start_frame = start;
    p.dark = dark;
    return p;
}

NamedScene Named(const std::string& family, const std::string& name, double focal, double mount,
                 std::vector<scene::Person> people, unsigned seed)
{
    scene::Scene s;
    s.rig.stereo = false;
    s.rig.focal = focal;
    s.rig.mount_height = mount;
    s.seed = seed;
    s.people = std::move(people);
    for (const scene::Person& p : s.people) s.frames = std::max(s.frames, p.LastFrame() + 60);
    return {family, name, s};
}

}  // namespace

std::vector<NamedScene> StandardScenes(double focal, double mount)
{
    std::vector<NamedScene> out;
    auto add = [&](const std::string& family, const std::string& name, std::vector<scene::Person> people,
                   unsigned seed) { out.push_back(Named(family, name, focal, mount, std::move(people), seed)); };
    // People in lanes, one every `every` frames, `pattern` walking down, then as many up.
    auto lanes = [&](const std::string& family, std::vector<double> xs, double speed, int every, int n, int pattern,
                     unsigned seed) {
        std::mt19937 rng(seed);
        std::uniform_real_distribution<double> height(155, 192);
        std::vector<scene::Person> people;
        for (int i = 0; i < n; ++i) {
            const bool down = pattern == 0 || (i / pattern) % 2 == 0;
            people.push_back(
                Walker(xs[static_cast<size_t>(i) % xs.size()], down, speed, height(rng), 10 + every * i, down));
        }
        add(family, family + " " + std::to_string(seed), people, seed);
    };
    for (unsigned seed : {1u, 2u, 3u}) lanes("busy +-70", {-70, 70}, 5, 40, 24, 2, seed);
    lanes("busy +-70", {-70, 70}, 8, 40, 24, 2, 4);
    for (unsigned seed : {1u, 2u}) lanes("busy +-40", {-40, 40}, 5, 40, 24, 2, seed);
    lanes("busy +-40", {-40, 40}, 7, 30, 24, 2, 3);
    for (unsigned seed : {1u, 2u}) lanes("one lane", {0}, 5, 40, 16, 2, seed);
    lanes("one lane", {20}, 6, 35, 16, 0, 3);
    for (double gap : {30.0, 45.0, 60.0})
        for (unsigned seed : {1u, 2u}) {
            std::mt19937 rng(seed * 7 + static_cast<unsigned>(gap));
            std::uniform_real_distribution<double> height(158, 190);
            std::vector<scene::Person> people;
            for (int k = 0; k < 4; ++k) {
                const double x = -gap / 2 + (k % 2 ? 10 : -10);
                people.push_back(Walker(x, true, 5, height(rng), 10 + 100 * k, true));
                people.push_back(Walker(x + gap, false, 5, height(rng), 10 + 100 * k, false));
            }
            add("opposite", "opposite " + std::to_string(static_cast<int>(gap)) + " cm " + std::to_string(seed), people,
                seed);
        }
    for (double gap : {50.0, 60.0, 70.0}) {
        std::mt19937 rng(static_cast<unsigned>(gap));
        std::uniform_real_distribution<double> height(158, 190);
        std::vector<scene::Person> people;
        for (int k = 0; k < 4; ++k) {
            const bool down = k % 2 == 0;
            people.push_back(Walker(-gap / 2, down, 5, height(rng), 10 + 100 * k, down));
            people.push_back(Walker(gap / 2, down, 5, height(rng), 13 + 100 * k, !down));
        }
        add("side", "side " + std::to_string(static_cast<int>(gap)) + " cm", people, 5);
    }
    for (unsigned seed : {11u, 12u, 13u, 14u}) {
        std::mt19937 rng(seed);
        std::uniform_real_distribution<double> x(-60, 60), height(150, 195), speed(3, 8), gap(15, 60);
        std::vector<scene::Person> people;
        double start = 10;
        for (int i = 0; i < 20; ++i) {
            const bool down = rng() % 2;
            scene::Person p = Walker(x(rng), down, speed(rng), height(rng), static_cast<int>(start), rng() % 2);
            p.x1 = p.x0 + x(rng) / 4;
            people.push_back(p);
            start += gap(rng);
        }
        add("random", "random " + std::to_string(seed), people, seed);
    }
    std::vector<scene::Person> turning = {Walker(0, true, 5, 175, 10, true), Walker(30, false, 5, 170, 150, false),
                                          Walker(-20, true, 4, 182, 300, true)};
    const double ends[] = {25, -40, 45};
    const int stands[] = {10, 20, 15};
    for (int i = 0; i < 3; ++i) {
        turning[i].y1 = ends[i];
        turning[i].return_after = stands[i];
    }
    add("turn back", "turn back", turning, 21);
    return out;
}

std::vector<NamedScene> WideScenes(double focal, double mount, int count, unsigned seed)
{
    std::vector<NamedScene> out;
    std::mt19937 rng(seed);
    std::uniform_real_distribution<double> lane(-110, 110), drift(-15, 15), height(150, 195), speed(3, 7.5),
        turn(-60, 150), unit(0, 1);
    std::uniform_int_distribution<int> people_in_scene(1, 6), start(0, 150), stand(0, 40);
    for (int k = 0; k < count; ++k) {
        std::vector<scene::Person> people;
        const int n = people_in_scene(rng);
        for (int i = 0; i < n; ++i) {
            const bool down = unit(rng) < 0.5;
            scene::Person p = Walker(lane(rng), down, speed(rng), height(rng), start(rng), unit(rng) < 0.5);
            p.x1 = p.x0 + drift(rng);
            if (unit(rng) < 0.4) {
                const double past = turn(rng);  // along the walk, from the line
                p.y1 = down ? past : -past;
                p.return_after = stand(rng);
            }
            people.push_back(p);
        }
        const unsigned scene_seed = seed * 1000 + static_cast<unsigned>(k);
        out.push_back(Named("wide", "wide " + std::to_string(k), focal, mount, std::move(people), scene_seed));
    }
    return out;
}

bool HeadOutAtTheTurn(const scene::Rig& rig, const scene::Person& person)
{
    if (person.return_after < 0)
        return false;
    double col = 0, row = 0;
    if (!scene::ProjectToView(rig, 0, person.x1, person.y1, person.height, col, row))
        return true;
    return col < 0 || row < 0 || col > rig.width - 1 || row > rig.height - 1;
}

}  // namespace monosweep
