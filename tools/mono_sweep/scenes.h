#pragma once

#include <string>
#include <vector>

#include "tools/scene_renderer/scene.h"

namespace monosweep {

struct NamedScene {
    std::string family, name;
    scene::Scene scene;
};

// The standard families, for a camera of that focal length (pixels at 320x240) and mount (cm):
//   busy +-70   24 people, one every 40 frames, lanes alternating at x = -70 and +70 cm (their
//               heads near the picture's sides), two walking down, then two up; 3 draws at 5 cm
//               per frame, 1 at 8;
//   busy +-40   the same with lanes at -40 and +40 cm; 2 draws at 5 cm per frame, 1 at 7 every 30;
//   one lane    16 people in one lane, two down then two up (one draw: all down), every 35-40 frames;
//   opposite    pairs walking in opposite directions, passing each other at the line 30, 45 and
//               60 cm apart, 2 draws each;
//   side        pairs walking side by side 50, 60 and 70 cm apart;
//   random      4 draws of 20 people with random lanes, directions, speeds (3-8 cm per frame),
//               heights (150-195 cm) and gaps (15-60 frames);
//   turn back   three people who cross the line, stand, and walk back.
std::vector<NamedScene> StandardScenes(double focal, double mount);

// `count` scenes of the family "wide", drawn from `seed`: 1 to 6 people each, in lanes anywhere
// from 110 cm left to 110 cm right of the middle (beyond about 70 cm a head walks outside the
// picture and only the body is seen), heights 150-195 cm, speeds 3-7.5 cm per frame, starting in
// the first 150 frames, walking down or up, some slightly diagonally. Two in five turn back: at a
// random place from 60 cm before the line to 150 cm past it (past the picture's edge for the
// farthest: the head out of the picture, the body partly), after standing 0 to 40 frames.
std::vector<NamedScene> WideScenes(double focal, double mount, int count, unsigned seed);

// Whether the person turns back with the head outside the picture of the rig.
bool HeadOutAtTheTurn(const scene::Rig& rig, const scene::Person& person);

}  // namespace monosweep
