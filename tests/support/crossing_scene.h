#pragma once

#include <cstdio>
#include <string>

#include <opencv2/imgcodecs.hpp>

#include "tools/scene_renderer/renderer.h"
#include "tools/scene_renderer/scene_files.h"

namespace testing_support {

// Renders a single camera watching one person cross the counting line into `directory` as
// frame_00000.png to frame_00079.png (a pass every 3.2 s when played in a loop at 25 frames a
// second) and returns the counter's parameter file for it.
inline std::string RenderOnePersonCrossing(const std::string& directory)
{
    scene::Scene scene;
    scene.rig = {160, 120, 100.0, 260.0, 15.0, 0.0, false};
    scene.frames = 80;
    scene.people.push_back(scene::ParsePerson("0,-210,0,210,5.5,172,0"));
    const scene::Renderer renderer(scene);
    char name[32];
    for (int frame = 0; frame < scene.frames; ++frame) {
        std::snprintf(name, sizeof name, "/frame_%05d.png", frame);
        cv::imwrite(directory + name, renderer.RenderFrame(frame));
    }
    return scene::AlgoIni(scene);
}

}  // namespace testing_support
