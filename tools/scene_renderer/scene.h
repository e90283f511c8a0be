#pragma once

#include <string>
#include <vector>

namespace scene {

// The camera rig: one camera (or a horizontal stereo pair) looking straight down at the floor.
// Lengths are centimetres, the focal length is in pixels of the rendered view. The left camera
// stands above the floor origin; the right one `baseline` further along the image's x axis.
// Floor coordinates (x, y) grow along the image's columns and rows.
struct Rig {
    int width = 320;  // one view, pixels
    int height = 240;
    double focal = 200.0;  // pixels
    double mount_height = 260.0;
    double baseline = 15.0;
    bool stereo = true;
};

// One person walking a straight path at constant speed, facing along it, optionally standing at
// its end for a while and walking back. The body has adult proportions for its height (see the
// renderer): an elongated head whose top is at `height`, a neck, rounded shoulders and arms.
struct Person {
    double x0 = 0.0, y0 = 0.0;  // start on the floor, cm
    double x1 = 0.0, y1 = 0.0;  // end on the floor, cm
    double speed = 4.0;         // cm per frame
    double height = 180.0;      // top of the head, cm
    int start_frame = 0;
    bool dark = false;      // darker clothes and hair (the single-camera scenes use it)
    int return_after = -1;  // frames standing at the end before walking back to the start; -1: no return

    // Where the person stands at a frame; false before the start and after the end of the walk.
    bool PositionAt(int frame, double& x, double& y) const;
    int LastFrame() const;
};

// A horizontal counting line across the whole picture at a relative row (0 top, 1 bottom),
// drawn from left to right: moving down through it is "in", moving up "out".
struct CountingLine {
    int id = 1;
    double row = 0.5;
};

struct Scene {
    Rig rig;
    std::vector<Person> people;
    CountingLine line;
    int frames = 100;
    unsigned seed = 1;  // floor texture
};

// One pass of the ground truth: the person's head crossed the line in a direction at a frame.
struct Crossing {
    int person = 0;  // index into Scene::people
    int frame = 0;   // first frame on the far side
    bool incoming = true;
    int line_id = 1;
    double height = 0.0;
};

// Every crossing of the scene's line by the people's heads as the left camera sees them, in
// frame order.
std::vector<Crossing> GroundTruth(const Scene& scene);

// Row of the left view (pixels, fractional) where the top of a person's head appears.
double HeadRowInView(const Rig& rig, double floor_y, double head_height);

}  // namespace scene
