#pragma once

#include <string>
#include <vector>

#include "tools/scene_renderer/scene.h"

namespace sweep {

// A camera of the sweep: mount height and stereo baseline (cm), tilt (radians).
struct Camera {
    int mount = 260;
    int baseline = 15;
    double tilt = 0.0;
};

// How the people of a scene walk through the counting line.
enum class Walk {
    kAlone,       // one person, straight down or up a lane near the middle
    kSideBySide,  // two people abreast, the same way
    kPassing,     // two people passing each other near the line, opposite ways
    kEdge,        // one person close to a side edge, or coming in through it at a slant
};

constexpr Walk kWalks[] = {Walk::kAlone, Walk::kSideBySide, Walk::kPassing, Walk::kEdge};

// One scene of the sweep: a camera, a walk, the height of the person it is about, and which of
// the cell's random draws.
struct Cell {
    Camera camera;
    Walk walk = Walk::kAlone;
    int height = 170;
    int draw = 1;
};

const char* WalkName(Walk walk);
std::string CameraName(const Camera& camera);
std::string CellName(const Cell& cell);

// The scene of a cell, the same on every run and machine: the renderer's default picture (320x240
// per view, focal length 200 pixels) from the cell's camera, a counting line across the middle;
// lanes, speeds, the second person's height, every person's build and clothes and the floor are
// drawn from the cell.
scene::Scene MakeScene(const Cell& cell);

// What MakeScene draws, in words, for the report.
std::string DrawsText();

}  // namespace sweep
