#include "tools/height_sweep/variety.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <iomanip>
#include <sstream>

namespace sweep {

namespace {

// A small generator whose numbers are the same on every platform (unlike the standard
// distributions).
class Draws {
public:
    explicit Draws(std::uint64_t seed) : m_state(seed * 0x9e3779b97f4a7c15ull + 0x632be59bd9b4e019ull) {}

    double Uniform(double low, double high)
    {
        m_state = m_state * 6364136223846793005ull + 1442695040888963407ull;
        return low + (high - low) * static_cast<double>(m_state >> 40) / 16777216.0;
    }
    bool Chance(double p) { return Uniform(0.0, 1.0) < p; }

private:
    std::uint64_t m_state;
};

std::uint64_t SeedOf(const Cell& cell)
{
    std::uint64_t seed = 1469598103934665603ull;
    for (const std::int64_t part :
         {std::int64_t{cell.camera.mount}, std::int64_t{cell.camera.baseline},
          std::int64_t{std::llround(cell.camera.tilt * 1e4)}, std::int64_t{static_cast<int>(cell.walk)},
          std::int64_t{cell.height}, std::int64_t{cell.draw}})
        seed = (seed ^ static_cast<std::uint64_t>(part)) * 1099511628211ull;
    return seed;
}

// A body and clothes as people come: most plain, some with a bag, a hood, much hair, a stoop.
scene::Build DrawBuild(Draws& draws)
{
    scene::Build build;
    build.shoulders = draws.Uniform(0.85, 1.15);
    build.slope = draws.Uniform(0.6, 1.8);
    build.lean = draws.Uniform(0.0, 8.0);
    build.hair = draws.Chance(0.4) ? draws.Uniform(0.5, 4.0) : 0.0;
    const double bag = draws.Uniform(0.0, 1.0);
    build.bag = bag < 0.6 ? 0 : bag < 0.8 ? 1 : 2;
    build.hood = draws.Chance(0.15);
    return build;
}

// The floor point under a head at a relative position of the left view (0..1 across and down).
void FloorUnderHead(const scene::Rig& rig, double u, double v, double height, double& x, double& y)
{
    double dir_x = 0.0, dir_y = 0.0;
    scene::RayOfPixel(rig, u * rig.width, v * rig.height, dir_x, dir_y);
    x = dir_x * (rig.mount_height - height);
    y = dir_y * (rig.mount_height - height);
}

// Where a person's head enters and leaves the picture, as floor rows, walking down.
void RowsThroughPicture(const scene::Rig& rig, double height, double& y_from, double& y_to)
{
    double x = 0.0;
    FloorUnderHead(rig, 0.5, -0.35, height, x, y_from);
    FloorUnderHead(rig, 0.5, 1.35, height, x, y_to);
}

scene::Person Walker(double x0, double y0, double x1, double y1, double speed, double height, int start, Draws& draws)
{
    scene::Person person;
    person.x0 = x0;
    person.y0 = y0;
    person.x1 = x1;
    person.y1 = y1;
    person.speed = speed;
    person.height = height;
    person.start_frame = start;
    person.dark = draws.Chance(0.25);
    person.build = DrawBuild(draws);
    return person;
}

// Frames for a walker to reach a floor row.
int FramesTo(const scene::Person& person, double y)
{
    const double share = (y - person.y0) / (person.y1 - person.y0);
    return static_cast<int>(
        std::lround(share * std::hypot(person.x1 - person.x0, person.y1 - person.y0) / person.speed));
}

}  // namespace

const char* WalkName(Walk walk)
{
    switch (walk) {
        case Walk::kAlone:
            return "alone";
        case Walk::kSideBySide:
            return "side by side";
        case Walk::kPassing:
            return "passing";
        default:
            return "at a side edge";
    }
}

std::string CameraName(const Camera& camera)
{
    std::ostringstream out;
    out << camera.mount << " cm, baseline " << camera.baseline << " cm";
    if (camera.tilt != 0.0)
        out << ", tilted " << std::fixed << std::setprecision(2) << camera.tilt << " rad";
    return out.str();
}

std::string CellName(const Cell& cell)
{
    return CameraName(cell.camera) + ", " + WalkName(cell.walk) + ", " + std::to_string(cell.height) + " cm, draw " +
           std::to_string(cell.draw);
}

std::string DrawsText()
{
    return "Each draw picks the lane, the speed (4 to 6 cm per frame), the way (down or up), the floor's texture "
           "and, for every person, clothes (a quarter dark) and a build: shoulders 0.85 to 1.15 times the usual "
           "width and 0.6 to 1.8 times as sloped, a forward lean of 0 to 8 degrees, hair up to 4 cm thick on "
           "two in five, a backpack on one in five and a bag at the hip on another, a hood up on one in seven. "
           "Pairs walk 50 to 65 cm apart side by side, or pass each other 45 to 60 cm apart near the line; the "
           "second person is 150 to 200 cm tall. At a side edge, a person walks a lane whose head passes 6 to 14 "
           "% of the picture's width from the edge, or comes in through the edge at a slant and leaves through "
           "the bottom.";
}

scene::Scene MakeScene(const Cell& cell)
{
    Draws draws(SeedOf(cell));
    scene::Scene s;
    s.rig.mount_height = cell.camera.mount;
    s.rig.baseline = cell.camera.baseline;
    s.rig.tilt = cell.camera.tilt;
    s.seed = static_cast<unsigned>(draws.Uniform(1.0, 1e6));
    const scene::Rig& rig = s.rig;
    const double speed = draws.Uniform(4.0, 6.0);
    const bool down = draws.Chance(0.5);
    const double height = cell.height;
    auto add = [&](scene::Person person, bool walks_down) {
        if (!walks_down) {
            std::swap(person.x0, person.x1);
            std::swap(person.y0, person.y1);
        }
        s.people.push_back(person);
    };
    double y_from = 0.0, y_to = 0.0, x = 0.0, y_line = 0.0;
    switch (cell.walk) {
        case Walk::kAlone: {
            FloorUnderHead(rig, draws.Uniform(0.3, 0.7), 0.5, height, x, y_line);
            RowsThroughPicture(rig, height, y_from, y_to);
            add(Walker(x, y_from, x, y_to, speed, height, 0, draws), down);
            break;
        }
        case Walk::kSideBySide:
        case Walk::kPassing: {
            // The second person's height is drawn; both walk lanes `spacing` apart around a lane
            // near the middle, and enter and leave the picture as the shorter of the two does.
            const double other = std::round(draws.Uniform(150.0, 200.0));
            const bool abreast = cell.walk == Walk::kSideBySide;
            const double spacing = abreast ? draws.Uniform(50.0, 65.0) : draws.Uniform(45.0, 60.0);
            const double side = draws.Chance(0.5) ? 1.0 : -1.0;
            FloorUnderHead(rig, draws.Uniform(0.4, 0.6), 0.5, std::max(height, other), x, y_line);
            RowsThroughPicture(rig, std::min(height, other), y_from, y_to);
            const double ahead = abreast ? draws.Uniform(-10.0, 10.0) : 0.0;
            const double other_speed = abreast ? speed : draws.Uniform(4.0, 6.0);
            const scene::Person first =
                Walker(x - side * spacing / 2, y_from, x - side * spacing / 2, y_to, speed, height, 0, draws);
            const scene::Person second = Walker(x + side * spacing / 2, y_from + ahead, x + side * spacing / 2,
                                                y_to + ahead, other_speed, other, 0, draws);
            add(first, down);
            add(second, abreast ? down : !down);
            if (!abreast) {
                // They meet near the line: the later one starts later.
                double unused = 0.0;
                FloorUnderHead(rig, 0.5, 0.5, height, unused, y_line);
                const int meet = FramesTo(s.people[0], y_line) - FramesTo(s.people[1], y_line) +
                                 static_cast<int>(std::lround(draws.Uniform(-5.0, 5.0)));
                (meet > 0 ? s.people[1] : s.people[0]).start_frame = std::abs(meet);
            }
            break;
        }
        case Walk::kEdge: {
            const double side = draws.Chance(0.5) ? 1.0 : -1.0;
            double x0 = 0.0, y0 = 0.0, x1 = 0.0, y1 = 0.0;
            if (draws.Chance(0.5)) {  // a lane close to a side edge
                const double u = 0.5 + side * draws.Uniform(0.36, 0.44);
                FloorUnderHead(rig, u, -0.35, height, x0, y0);
                FloorUnderHead(rig, u, 1.35, height, x1, y1);
            } else {  // in through a side edge at a slant, out through the bottom edge
                FloorUnderHead(rig, 0.5 + side * 0.65, 0.0, height, x0, y0);
                FloorUnderHead(rig, 0.5 - side * 0.05, 1.35, height, x1, y1);
            }
            add(Walker(x0, y0, x1, y1, speed, height, 0, draws), down);
            break;
        }
    }
    int last = 0;
    for (const scene::Person& person : s.people) last = std::max(last, person.LastFrame());
    s.frames = last + 15;
    return s;
}

}  // namespace sweep
