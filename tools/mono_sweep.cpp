// flowtally_mono_sweep: how the single-camera counter counts rendered scenes of people walking in
// several ways, for camera rigs, working sizes and target circles.
//
//   flowtally_mono_sweep [--rigs 200/260,200/300,160/260] [--works 160x120,320x240]
//                        [--circles 1,1.2] [--scenes standard|wide|all] [--wide-scenes 80]
//                        [--per-scene FILE] [--jobs 4] [--verbose]
//   flowtally_mono_sweep --compare BASE CHANGED
//
// A rig is a focal length in pixels and a mount height in centimetres; every scene is rendered at
// 320x240 for it and scaled to each working size as the service scales the camera's frames. The
// counter reads the parameter file the renderer writes for the rig, with the radius of its target
// circle (an adult's shoulders seen from above) multiplied by each --circles value. The standard
// scenes (busy lanes near the picture's sides, one lane, people passing each other, side by side,
// random flows, people turning back) are listed in mono_sweep/scenes.h; --scenes wide counts
// instead --wide-scenes random scenes per rig of 1 to 6 people over the picture's whole width,
// two in five of them turning back somewhere, and --scenes all counts both.
// For each working size, circle and family the first table gives the passes of the ground truth,
// the passes missed, the false passes, how many frames late the counted passes came (mean and
// largest), and how far the board's totals and the database's counts (GetAlarmsCount, once every
// object has moved out) are from the people who passed, summed over both directions, and the
// counter's mean time per frame (ProcessImage alone, one thread; a scene's settings run one after
// another on the same thread, so their times compare even on a busy machine). The second gives,
// per person, how often the board ends right (mono_sweep/evaluation.h).
//
// --per-scene writes every scene's outcome, a line each; --compare reads two such files, counted
// with the same options by the counter before and after a change, and lists every scene where the
// two differ with the totals of both (scripts/mono-compare.sh builds and runs both). It exits with
// 1 when the changed counter misses a pass that the base counted.

#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iostream>
#include <map>
#include <memory>
#include <mutex>
#include <opencv2/imgproc.hpp>
#include <sstream>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "PeopleCounter/universal/i_universal_people_counter.h"
#include "tools/mono_sweep/comparison.h"
#include "tools/mono_sweep/evaluation.h"
#include "tools/mono_sweep/scenes.h"
#include "tools/scene_renderer/renderer.h"
#include "tools/scene_renderer/scene_files.h"
#include "tools/support/error_log.h"
#include "tools/support/tool_main.h"

namespace {

using monosweep::Alarmed;
using monosweep::NamedScene;
using monosweep::Tally;

constexpr long long kFrameNs = 40'000'000;  // 25 frames per second

struct Options {
    std::vector<std::pair<double, double>> rigs{{200, 260}, {200, 300}, {160, 260}};  // focal, mount
    std::vector<cv::Size> works{{160, 120}, {320, 240}};
    std::vector<double> circles{1.0, 1.2};
    std::string scenes = "standard";  // standard, wide or all
    int wide_scenes = 80;             // per rig
    std::string per_scene;            // file of every scene's outcome, or none
    int jobs = 4;
    bool verbose = false;
};

// The per-scene files of --compare, read.
std::vector<monosweep::SceneLine> ReadSceneFile(const std::string& path)
{
    std::ifstream in(path);
    if (!in)
        throw std::runtime_error("Can not read " + path);
    return monosweep::ReadSceneLines(in, path);
}

// The renderer's parameter file with the target circle's radius scaled.
std::string ScaledCircle(std::string ini, double scale)
{
    const std::string key = "target_circle=[[0.5,0.5],[0.5,";
    const auto at = ini.find(key);
    const auto end = ini.find("]]", at);
    if (at == std::string::npos || end == std::string::npos)
        throw std::runtime_error("The renderer's parameter file has no target circle");
    const double radius = 0.5 - std::stod(ini.substr(at + key.size(), end - at - key.size()));
    std::ostringstream circle;
    circle.precision(10);
    circle << key << 0.5 - radius * scale << "]]";
    return ini.replace(at, end + 2 - at, circle.str());
}

std::vector<Alarmed> Count(const NamedScene& named, const std::vector<cv::Mat>& frames, cv::Size work, double circle,
                           const std::string& ini_path, double& seconds)
{
    {
        std::ofstream file(ini_path);
        file << ScaledCircle(scene::AlgoIni(named.scene), circle);
        if (!file)
            throw std::runtime_error("Can not write " + ini_path);
    }
    std::unique_ptr<IUniversalPeopleCounter, AlgoLibrary::ReleaseDeleter> counter(
        IUniversalPeopleCounter::CreateInstance<kCounterMono>(ini_path, std::make_shared<tools::ErrorLog>(), 0.0));
    if (!counter)
        throw std::runtime_error("No counter for " + ini_path);
    counter->InitImage({work.width, work.height, 1, work.width, 0, 1});
    std::vector<Alarmed> alarms;
    AlarmVector got;
    cv::Mat scaled;
    for (size_t frame = 0; frame < frames.size(); ++frame) {
        const bool same = frames[frame].size() == work;
        if (!same)
            cv::resize(frames[frame], scaled, work, 0, 0, cv::INTER_LINEAR);
        const auto time = AlgoTimePoint(
            AlgoTimePoint::duration(883612800LL * 1'000'000'000LL + static_cast<long long>(frame) * kFrameNs));
        const auto start = std::chrono::steady_clock::now();
        counter->ProcessImage(same ? frames[frame] : scaled, time);
        seconds += std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        counter->GetAlarms(got);
        for (const Alarm& a : got) alarms.push_back({static_cast<int>(frame), a.type, a.object_id});
    }
    return alarms;
}

std::vector<double> NumberList(const std::string& name, const std::string& text)
{
    std::vector<double> values;
    std::istringstream in(text);
    std::string field;
    while (std::getline(in, field, ',')) values.push_back(tools::NumberOption(name, field, 0.001, 100000));
    if (values.empty())
        throw std::runtime_error("Option --" + name + " is empty");
    return values;
}

std::vector<std::pair<double, double>> Pairs(const std::string& name, const std::string& text, char separator)
{
    std::string spaced = text;
    std::replace(spaced.begin(), spaced.end(), separator, ',');
    const std::vector<double> values = NumberList(name, spaced);
    if (values.size() % 2 != 0)
        throw std::runtime_error("Option --" + name + " takes pairs A" + separator + "B separated by commas: " + text);
    std::vector<std::pair<double, double>> pairs;
    for (size_t i = 0; i < values.size(); i += 2) pairs.emplace_back(values[i], values[i + 1]);
    return pairs;
}

int Run(int argc, char** argv)
{
    Options options;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--help") {
            std::cout << "usage: flowtally_mono_sweep [--rigs FOCAL/MOUNT,...] [--works WxH,...] [--circles S,...] "
                         "[--scenes standard|wide|all] [--wide-scenes N] [--per-scene FILE] [--jobs N] [--verbose]\n"
                         "       flowtally_mono_sweep --compare BASE CHANGED\n";
            return 0;
        }
        if (arg == "--verbose") {
            options.verbose = true;
            continue;
        }
        if (arg == "--compare") {
            if (argc != 4 || i != 1)
                throw std::runtime_error("--compare takes two files of --per-scene and nothing else");
            return monosweep::Compare(ReadSceneFile(argv[2]), ReadSceneFile(argv[3]), std::cout) > 0 ? 1 : 0;
        }
        if (i + 1 >= argc)
            throw std::runtime_error("Unknown or incomplete option: " + arg);
        const std::string value = argv[++i];
        if (arg == "--rigs") {
            options.rigs = Pairs("rigs", value, '/');
            for (const auto& [focal, mount] : options.rigs)
                if (mount < 230)
                    throw std::runtime_error("Option --rigs: a mount must be at least 230 cm (people up to 195 cm)");
        } else if (arg == "--works") {
            options.works.clear();
            for (const auto& [w, h] : Pairs("works", value, 'x')) {
                if (w != std::floor(w) || h != std::floor(h) || w < 32 || h < 24 || w > 1280 || h > 960)
                    throw std::runtime_error("Option --works takes sizes from 32x24 to 1280x960: " + value);
                options.works.emplace_back(static_cast<int>(w), static_cast<int>(h));
            }
        } else if (arg == "--circles")
            options.circles = NumberList("circles", value);
        else if (arg == "--scenes") {
            if (value != "standard" && value != "wide" && value != "all")
                throw std::runtime_error("Option --scenes takes standard, wide or all: " + value);
            options.scenes = value;
        } else if (arg == "--wide-scenes")
            options.wide_scenes = tools::IntListOption("wide-scenes", value, 1, 10000).at(0);
        else if (arg == "--per-scene")
            options.per_scene = value;
        else if (arg == "--jobs")
            options.jobs = tools::IntListOption("jobs", value, 1, 64).at(0);
        else
            throw std::runtime_error("Unknown option: " + arg);
    }

    const std::filesystem::path dir =
        std::filesystem::temp_directory_path() / ("flowtally_mono_sweep_" + std::to_string(getpid()));
    std::filesystem::create_directories(dir);
    struct Job {
        size_t rig;
        NamedScene scene;
    };
    std::vector<Job> jobs;
    for (size_t rig = 0; rig < options.rigs.size(); ++rig) {
        const auto [focal, mount] = options.rigs[rig];
        if (options.scenes != "wide")
            for (NamedScene& s : monosweep::StandardScenes(focal, mount)) jobs.push_back({rig, s});
        if (options.scenes != "standard")
            for (NamedScene& s : monosweep::WideScenes(focal, mount, options.wide_scenes, 41)) jobs.push_back({rig, s});
    }
    const size_t variants = options.works.size() * options.circles.size();
    std::vector<std::vector<monosweep::SceneOutcome>> outcomes(jobs.size(),
                                                               std::vector<monosweep::SceneOutcome>(variants));
    std::atomic<size_t> next{0};
    std::mutex report;
    std::string failure;
    auto worker = [&] {
        for (size_t job = next++; job < jobs.size(); job = next++) {
            try {
                const NamedScene& named = jobs[job].scene;
                const scene::Renderer renderer(named.scene);
                std::vector<cv::Mat> frames;
                for (int frame = 0; frame < named.scene.frames; ++frame) frames.push_back(renderer.RenderFrame(frame));
                for (size_t v = 0; v < variants; ++v) {
                    const std::string ini = (dir / ("algo_" + std::to_string(job) + ".ini")).string();
                    double seconds = 0;
                    const auto alarms = Count(named, frames, options.works[v / options.circles.size()],
                                              options.circles[v % options.circles.size()], ini, seconds);
                    std::lock_guard<std::mutex> lock(report);
                    outcomes[job][v] = monosweep::Evaluate(named, alarms, options.verbose);
                    outcomes[job][v].tally.seconds = seconds;
                    outcomes[job][v].tally.frames = named.scene.frames;
                }
                std::lock_guard<std::mutex> lock(report);
                std::cerr << named.name << " (focal " << named.scene.rig.focal << ", mount "
                          << named.scene.rig.mount_height << ") done\n";
            } catch (const std::exception& error) {
                std::lock_guard<std::mutex> lock(report);
                failure = error.what();
                next = jobs.size();
            }
        }
    };
    std::vector<std::thread> threads;
    for (int i = 0; i < options.jobs; ++i) threads.emplace_back(worker);
    for (std::thread& thread : threads) thread.join();
    std::filesystem::remove_all(dir);
    if (!failure.empty())
        throw std::runtime_error(failure);

    // "200/260 160x120 x1": a rig, working size and circle.
    const auto setting = [&](size_t rig, size_t v) {
        char text[96];
        std::snprintf(text, sizeof text, "%g/%g %dx%d x%g", options.rigs[rig].first, options.rigs[rig].second,
                      options.works[v / options.circles.size()].width, options.works[v / options.circles.size()].height,
                      options.circles[v % options.circles.size()]);
        return std::string(text);
    };
    if (!options.per_scene.empty()) {
        std::ofstream file(options.per_scene);
        file << monosweep::SceneLineHeader() << "\n";
        for (size_t job = 0; job < jobs.size(); ++job)
            for (size_t v = 0; v < variants; ++v)
                file << monosweep::SceneLineText(
                            {setting(jobs[job].rig, v) + " " + jobs[job].scene.name, outcomes[job][v]})
                     << "\n";
        if (!file)
            throw std::runtime_error("Can not write " + options.per_scene);
    }

    // Every family's tally and the whole, for each rig and variant, under the first columns of
    // its rows ("| 200/260 | 160x120 | x1").
    std::vector<std::pair<std::string, std::map<std::string, Tally>>> tables;
    for (size_t rig = 0; rig < options.rigs.size(); ++rig)
        for (size_t v = 0; v < variants; ++v) {
            std::map<std::string, Tally> families;
            Tally all;
            for (size_t job = 0; job < jobs.size(); ++job)
                if (jobs[job].rig == rig) {
                    families[jobs[job].scene.family].Add(outcomes[job][v].tally);
                    all.Add(outcomes[job][v].tally);
                }
            families["all"] = all;
            std::string columns = "| " + setting(rig, v);
            for (size_t at = columns.find(' ', 2); at != std::string::npos; at = columns.find(' ', at + 3))
                columns.replace(at, 1, " | ");
            tables.emplace_back(columns, families);
        }
    const auto print = [&](const char* header, const std::function<std::string(const Tally&)>& cells) {
        std::cout << header;
        for (const auto& [columns, families] : tables)
            for (const auto& [family, t] : families)
                std::cout << columns << " | " << family << " | " << cells(t) << " |\n";
    };
    print(
        "| focal/mount | working size | circle | scenes | passes | missed | false | late mean/max | board errors | "
        "database errors | ms per frame |\n|---|---|---|---|---|---|---|---|---|---|---|\n",
        [](const Tally& t) {
            char cells[160];
            std::snprintf(cells, sizeof cells, "%d | %d | %d | %.1f/%d | %d | %d | %.2f", t.passes, t.missed, t.extra,
                          t.counted ? static_cast<double>(t.late_sum) / t.counted : 0.0, t.late_max, t.board,
                          t.database, t.frames ? 1000.0 * t.seconds / t.frames : 0.0);
            return std::string(cells);
        });
    print(
        "\nPeople whose board ends right (their objects carry their passes alone and net to their movement):\n\n"
        "| focal/mount | working size | circle | scenes | walking through | turning back | head out at the turn | "
        "objects carrying 2+ people |\n|---|---|---|---|---|---|---|---|\n",
        [](const Tally& t) {
            char cells[160];
            std::snprintf(cells, sizeof cells, "%d of %d | %d of %d | %d of %d | %d", t.straight_right, t.straight,
                          t.turning_right, t.turning, t.head_out_right, t.head_out, t.shared_objects);
            return std::string(cells);
        });
    return 0;
}

}  // namespace

int main(int argc, char** argv)
{
    return tools::RunTool("flowtally_mono_sweep", Run, argc, argv);
}
