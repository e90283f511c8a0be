// flowtally_render: renders a scene of people walking under an overhead camera (a stereo pair or a
// single camera), with the ground truth of who crossed the counting line in which direction and
// the analysers' parameter file that matches the camera.
//
//   flowtally_render --out DIR [--mode stereo|mono] [--width 320] [--height 240] [--focal 200]
//                    [--mount 260] [--baseline 15] [--tilt 0] [--frames 100] [--seed 1]
//                    [--line-row 0.5] [--line-id 1]
//                    --person x0,y0,x1,y1,speed,height,start[,dark[,return_after]][,key=value...] ...
//
// Writes DIR/frame_00000.png, ... (grey; the two views side by side in stereo), DIR/truth.txt and
// DIR/algo.ini. Floor coordinates are centimetres from the point below the left camera, x along
// the picture's columns, y along its rows; speed is centimetres per frame; a person with
// return_after stands that many frames at the end of the walk and walks back to the start. The
// fields shoulders=, slope=, lean=, hair=, bag= and hood= vary a person's body (scene.h, Build);
// --tilt turns the camera's axis that many radians towards the picture's top.

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <opencv2/imgcodecs.hpp>
#include <stdexcept>
#include <string>

#include "tools/scene_renderer/renderer.h"
#include "tools/scene_renderer/scene_files.h"
#include "tools/support/tool_main.h"

namespace {

using tools::NumberOption;

void WriteText(const std::filesystem::path& path, const std::string& text)
{
    std::ofstream out(path, std::ios::binary);
    out << text;
    if (!out)
        throw std::runtime_error("Can not write " + path.string());
}

int Run(int argc, char** argv)
{
    scene::Scene scene;
    std::string out_dir;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--help") {
            std::cout << "usage: flowtally_render --out DIR [--mode stereo|mono] [--width W] [--height H] "
                         "[--focal F] [--mount CM] [--baseline CM] [--tilt RAD] [--frames N] [--seed S] [--line-row R] "
                         "[--line-id ID] --person x0,y0,x1,y1,speed,height,start[,dark[,return_after]]"
                         "[,shoulders=F][,slope=F][,lean=DEG][,hair=CM][,bag=0|1|2][,hood=0|1] ...\n";
            return 0;
        }
        if (arg.rfind("--", 0) != 0 || i + 1 >= argc)
            throw std::runtime_error("Unknown or incomplete option: " + arg);
        const std::string name = arg.substr(2), value = argv[++i];
        if (name == "out")
            out_dir = value;
        else if (name == "mode") {
            if (value != "stereo" && value != "mono")
                throw std::runtime_error("Option --mode must be stereo or mono: " + value);
            scene.rig.stereo = value == "stereo";
        } else if (name == "width")
            scene.rig.width = static_cast<int>(NumberOption(name, value, 16, 4096));
        else if (name == "height")
            scene.rig.height = static_cast<int>(NumberOption(name, value, 16, 4096));
        else if (name == "focal")
            scene.rig.focal = NumberOption(name, value, 1, 100000);
        else if (name == "mount")
            scene.rig.mount_height = NumberOption(name, value, 50, 10000);
        else if (name == "baseline")
            scene.rig.baseline = NumberOption(name, value, 0.1, 1000);
        else if (name == "tilt")
            scene.rig.tilt = NumberOption(name, value, 0, 0.7);
        else if (name == "frames")
            scene.frames = static_cast<int>(NumberOption(name, value, 1, 1000000));
        else if (name == "seed")
            scene.seed = static_cast<unsigned>(NumberOption(name, value, 0, 4294967295.0));
        else if (name == "line-row")
            scene.line.row = NumberOption(name, value, 0, 1);
        else if (name == "line-id")
            scene.line.id = static_cast<int>(NumberOption(name, value, 1, 1000000));
        else if (name == "person")
            scene.people.push_back(scene::ParsePerson(value));
        else
            throw std::runtime_error("Unknown option: " + arg);
    }
    if (out_dir.empty())
        throw std::runtime_error("Option --out is required");
    for (const scene::Person& person : scene.people)
        if (person.height > scene.rig.mount_height - 30.0)
            throw std::runtime_error("A person must be at least 30 cm below the camera");

    const std::filesystem::path dir(out_dir);
    std::filesystem::create_directories(dir);
    const scene::Renderer renderer(scene);
    char name[32];
    for (int frame = 0; frame < scene.frames; ++frame) {
        std::snprintf(name, sizeof name, "frame_%05d.png", frame);
        if (!cv::imwrite((dir / name).string(), renderer.RenderFrame(frame)))
            throw std::runtime_error("Can not write " + (dir / name).string());
    }
    const auto truth = scene::GroundTruth(scene);
    WriteText(dir / "truth.txt", scene::TruthText(scene, truth));
    WriteText(dir / "algo.ini", scene::AlgoIni(scene));
    std::cout << scene::TruthText(scene, truth);
    return 0;
}

}  // namespace

int main(int argc, char** argv)
{
    return tools::RunTool("flowtally_render", Run, argc, argv);
}
