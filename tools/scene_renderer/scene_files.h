#pragma once

#include <string>
#include <vector>

#include "tools/scene_renderer/scene.h"

namespace scene {

// The analysers' parameter file that matches the rig: the stereo pair's calibration (ideal
// pinhole cameras at the rendered size, parallel axes, no tilt) and the counting line.
std::string AlgoIni(const Scene& scene);

// The ground truth as text: a header, one line per crossing
// ("<frame> <person> Incoming|Outgoing <line id> <height>"), then the totals.
std::string TruthText(const Scene& scene, const std::vector<Crossing>& crossings);

// Reads a person from "x0,y0,x1,y1,speed,height,start[,dark[,return_after]]", followed by any of
// the build's fields as "key=value" (shoulders, slope, lean, hair, bag, hood; see Build); throws
// std::runtime_error naming the bad field.
Person ParsePerson(const std::string& text);

}  // namespace scene
