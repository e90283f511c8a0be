#pragma once

#include <mutex>
#include <opencv2/core.hpp>
#include <vector>

#include "tools/scene_renderer/scene.h"

namespace scene {

// A person's body for a height, in centimetres, in the person's own frame: u across the
// shoulders, v along the walking direction, z up from the floor. Adult proportions: the head is
// 0.13 of the height tall and longer than it is wide; the shoulders are a rounded body 0.26 of the
// height wide (arms included) and 24 cm deep whose top is at 0.83 of the height. A build widens or
// narrows the shoulders, slopes them, leans the body forward, adds hair, a hood or a bag.
struct Body {
    explicit Body(double height, const Build& build = Build());

    double height;
    double head_u, head_v, head_z;  // semi-axes of the head's ellipsoid
    double head_centre;             // height of its centre
    double neck_radius;
    double torso_u, torso_v;   // semi-axes of the trunk's cross-section
    double shoulder_top;       // top of the rounded shoulders
    double shoulder_drop;      // vertical semi-axis of their cap
    double arm_radius, arm_u;  // arms hang at ±arm_u
    double arm_top, arm_bottom;
    double half_width;  // across the arms
    double lean;        // forward shift per centimetre of height (tangent of the lean)
    double hood_grow;   // a hood's cloth around the head, 0 without one
    int bag;            // as in Build
    double reach;       // horizontal radius around the feet that holds the whole body
};

// Ray-casts the scene for one frame: a textured floor and the people standing on it, seen from
// above through ideal pinhole cameras (no distortion, parallel axes), so the views come out
// rectified. Each pixel averages 2x2 samples. Every person's hair, clothes (brightness and
// pattern) and skin are drawn from the scene's seed and the person's index. The floor of each view
// is drawn once; a frame casts rays only where people can be.
class Renderer {
public:
    explicit Renderer(const Scene& scene);

    // One grey frame: the left and right views side by side (2·width x height), or the single
    // view when the rig is not stereo.
    cv::Mat RenderFrame(int frame) const;

    // One view of a frame (0 left, 1 right), width x height, 8-bit grey.
    cv::Mat RenderView(int frame, int view) const;

    enum Part { kFloor, kHead, kNeck, kShoulders, kTrunk, kArm, kHood, kBag };

    // The nearest surface along the ray from the floor point (x, y) at the camera's height in
    // direction (dir_x, dir_y, -1), and how far below the camera it is; `part` kFloor when no
    // person is hit.
    struct Hit {
        double t;    // depth below the camera
        int part;    // Part
        int person;  // index into the scene's people, -1 for the floor
    };
    Hit RayAt(int frame, double x, double y, double dir_x = 0.0, double dir_y = 0.0) const;

private:
    struct Standing;

    Hit Cast(double from_x, double from_y, double dir_x, double dir_y, const std::vector<Standing>& people,
             double local[3]) const;
    double Trace(double camera_x, double dir_x, double dir_y, const std::vector<Standing>& people) const;
    std::vector<Standing> StandingAt(int frame) const;
    double Pixel(int view, int col, int row, const std::vector<Standing>& people) const;
    const cv::Mat& Floor(int view) const;

    const Scene& m_scene;
    mutable std::once_flag m_floor_drawn[2];
    mutable cv::Mat m_floor[2];  // each view without people
};

}  // namespace scene
