#pragma once

#include <opencv2/core.hpp>

#include "tools/scene_renderer/scene.h"

namespace scene {

// Ray-casts the scene for one frame: a textured floor and the people standing on it, seen from
// above through ideal pinhole cameras (no distortion, parallel axes), so the views come out
// rectified. Each pixel averages 2x2 samples.
class Renderer {
public:
    explicit Renderer(const Scene& scene);

    // One grey frame: the left and right views side by side (2·width x height), or the single
    // view when the rig is not stereo.
    cv::Mat RenderFrame(int frame) const;

    // One view of a frame (0 left, 1 right), width x height, 8-bit grey.
    cv::Mat RenderView(int frame, int view) const;

private:
    struct Standing {
        double x, y;    // floor position
        double height;  // top of the head
        int index;      // person, seeds the texture
        bool dark;
    };

    double Shade(double px, double py, double pz, const Standing* hit, int part) const;
    double Trace(double camera_x, double dir_x, double dir_y, const std::vector<Standing>& people) const;

    const Scene& m_scene;
};

}  // namespace scene
