#pragma once

#include <string>
#include <vector>

namespace scene {

// The camera rig: one camera (or a horizontal stereo pair) looking down at the floor. Lengths are
// centimetres, the focal length is in pixels of the rendered view. The left camera stands above the
// floor origin; the right one `baseline` further along the image's x axis. Floor coordinates (x, y)
// grow along the image's columns and rows. A tilted rig is turned about the image's x axis, its
// optical axis `tilt` radians from the downward vertical towards the picture's top (negative y),
// as the stereo counter's tilt angle means it.
struct Rig {
    int width = 320;  // one view, pixels
    int height = 240;
    double focal = 200.0;  // pixels
    double mount_height = 260.0;
    double baseline = 15.0;
    double tilt = 0.0;  // radians
    bool stereo = true;
};

// How a person's body differs from the plain one of its height; the defaults draw the plain body.
struct Build {
    double shoulders = 1.0;  // width across the shoulders and arms, times the plain width
    double slope = 1.0;      // how far the shoulders fall off outwards, times the plain fall
    double lean = 0.0;       // forward lean of the whole body, degrees
    double hair = 0.0;       // hair volume, cm around the sides and back of the head (half of it on top)
    int bag = 0;             // 0 none, 1 a backpack, 2 a bag hanging at the right hip
    bool hood = false;       // a hood up over the head
};

// One person walking a straight path at constant speed, facing along it, optionally standing at
// its end for a while and walking back. The body has adult proportions for its height (see the
// renderer): an elongated head whose top is at `height`, a neck, rounded shoulders and arms;
// `build` varies it.
struct Person {
    double x0 = 0.0, y0 = 0.0;  // start on the floor, cm
    double x1 = 0.0, y1 = 0.0;  // end on the floor, cm
    double speed = 4.0;         // cm per frame
    double height = 180.0;      // top of the head, cm
    int start_frame = 0;
    bool dark = false;      // darker clothes and hair (the single-camera scenes use it)
    int return_after = -1;  // frames standing at the end before walking back to the start; -1: no return
    Build build;

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

// Where a point (floor coordinates, height above the floor) appears in a view (0 left, 1 right):
// false when it lies behind the camera.
bool ProjectToView(const Rig& rig, int view, double x, double y, double z, double& col, double& row);

// The ray of a pixel position of a view, as its horizontal travel per centimetre of drop from the
// camera; false when it never reaches the floor.
bool RayOfPixel(const Rig& rig, double col, double row, double& dir_x, double& dir_y);

}  // namespace scene
