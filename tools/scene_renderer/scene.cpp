#include "tools/scene_renderer/scene.h"

#include <algorithm>
#include <cmath>

namespace scene {

namespace {

// Frames a person needs to walk the path once.
int WalkFrames(const Person& person)
{
    if (person.speed <= 0.0)
        return 0;
    return static_cast<int>(std::ceil(std::hypot(person.x1 - person.x0, person.y1 - person.y0) / person.speed));
}

}  // namespace

bool Person::PositionAt(int frame, double& x, double& y) const
{
    if (frame < start_frame || frame > LastFrame())
        return false;
    const double length = std::hypot(x1 - x0, y1 - y0);
    int walked = frame - start_frame;
    if (return_after >= 0 && walked > WalkFrames(*this) + return_after)
        walked = LastFrame() - frame;  // on the way back
    const double travelled = std::min(length, walked * speed);
    const double share = length > 0.0 ? travelled / length : 0.0;
    x = x0 + (x1 - x0) * share;
    y = y0 + (y1 - y0) * share;
    return true;
}

int Person::LastFrame() const
{
    const int walk = WalkFrames(*this);
    return start_frame + (return_after >= 0 ? 2 * walk + return_after : walk);
}

bool ProjectToView(const Rig& rig, int view, double x, double y, double z, double& col, double& row)
{
    // The camera's frame: X along the columns, Y along the rows, Z along the optical axis.
    const double depth = rig.mount_height - z;
    const double c = std::cos(rig.tilt), s = std::sin(rig.tilt);
    const double along = c * depth - s * y;
    if (along <= 1e-6)
        return false;
    col = rig.focal * (x - (view == 0 ? 0.0 : rig.baseline)) / along + (rig.width - 1) / 2.0;
    row = rig.focal * (c * y + s * depth) / along + (rig.height - 1) / 2.0;
    return true;
}

bool RayOfPixel(const Rig& rig, double col, double row, double& dir_x, double& dir_y)
{
    const double a = (col - (rig.width - 1) / 2.0) / rig.focal, b = (row - (rig.height - 1) / 2.0) / rig.focal;
    if (rig.tilt == 0.0) {
        dir_x = a;
        dir_y = b;
        return true;
    }
    // (a, b, 1) in the camera's frame, turned about its x axis.
    const double c = std::cos(rig.tilt), s = std::sin(rig.tilt);
    const double drop = s * b + c;
    if (drop <= 1e-6)
        return false;
    dir_x = a / drop;
    dir_y = (c * b - s) / drop;
    return true;
}

double HeadRowInView(const Rig& rig, double floor_y, double head_height)
{
    double col = 0.0, row = 0.0;
    return ProjectToView(rig, 0, 0.0, floor_y, head_height, col, row) ? row : -1e9;
}

std::vector<Crossing> GroundTruth(const Scene& scene)
{
    std::vector<Crossing> crossings;
    const double line_row = scene.line.row * scene.rig.height;
    for (size_t i = 0; i < scene.people.size(); ++i) {
        const Person& person = scene.people[i];
        double x = 0.0, y = 0.0;
        bool has_previous = false;
        double previous_row = 0.0;
        for (int frame = 0; frame < scene.frames; ++frame) {
            if (!person.PositionAt(frame, x, y)) {
                has_previous = false;
                continue;
            }
            const double row = HeadRowInView(scene.rig, y, person.height);
            if (has_previous) {
                const bool down = previous_row < line_row && row >= line_row;
                const bool up = previous_row >= line_row && row < line_row;
                if (down || up)
                    crossings.push_back({static_cast<int>(i), frame, down, scene.line.id, person.height});
            }
            previous_row = row;
            has_previous = true;
        }
    }
    std::stable_sort(crossings.begin(), crossings.end(),
                     [](const Crossing& a, const Crossing& b) { return a.frame < b.frame; });
    return crossings;
}

}  // namespace scene
