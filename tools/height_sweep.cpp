// flowtally_height_sweep: how many passes the stereo counter misses, how late it counts them and
// how many it counts that did not happen, for candidate radii of its two medians, over rendered
// people of every height, build and walk, under several cameras.
//
//   flowtally_height_sweep [--mounts 260,300] [--baselines 15,20,25] [--tilted 260/20/0.15,300/20/0.15]
//                          [--walks alone,side-by-side,passing,edge] [--heights 150-200] [--draws 3]
//                          [--radii 25,20,15,10,8,10/8] [--noise-seconds 73] [--jobs 4]
//                          [--out FILE] [--checks FILE] [--set SECTION:KEY=VALUE ...]
//
// Every camera (each mount with each baseline, upright, and the tilted ones, mount/baseline/tilt
// in radians) sees every walk of a person of every height (5 cm steps), --draws times with other
// random lanes, speeds, second persons, builds, clothes and floors; each scene is the renderer's
// picture (320x240 per view, focal length 200 pixels) scaled to the counter's working size
// (160x120 per view) as the service scales it, and is counted once per column of --radii: a
// radius of "Stereo_double_median_rad" (25 is the default), optionally with one of
// "Stereo_med_rad" after a slash (16 is the default), everything else at its defaults; --set sets
// a parameter in every run (in the section of the renderer's parameter file that holds it, or in a
// section of its own). The same options give the same figures on every run. --noise-seconds
// of random pixels are counted at every upright camera and setting (0: none).
//
// Prints the report in Markdown (--out writes it to a file as well); --checks writes the outcomes
// of a few scenes, for the test that counts them again.

#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <fstream>
#include <iomanip>
#include <iostream>
#include <mutex>
#include <sstream>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "tools/height_sweep/checks.h"
#include "tools/height_sweep/counting.h"
#include "tools/height_sweep/report.h"
#include "tools/height_sweep/variety.h"
#include "tools/support/parameter_file.h"
#include "tools/support/tool_main.h"

namespace {

using tools::IntListOption;

struct Options {
    std::vector<int> mounts{260, 300};
    std::vector<int> baselines{15, 20, 25};
    std::vector<sweep::Camera> tilted{{260, 20, 0.15}, {300, 20, 0.15}};
    std::vector<sweep::Walk> walks{std::begin(sweep::kWalks), std::end(sweep::kWalks)};
    std::vector<sweep::Setting> settings{{0, 0}, {20, 0}, {15, 0}, {10, 0}, {8, 0}, {10, 8}};
    int height_from = 150, height_to = 200;
    int draws = 3;
    int noise_seconds = 73;
    int jobs = 4;
    std::string out, checks;
    std::vector<tools::IniValue> settings_added;  // --set, in order
};

std::vector<std::string> Fields(const std::string& text, char separator)
{
    std::vector<std::string> fields;
    std::istringstream in(text);
    for (std::string field; std::getline(in, field, separator);) fields.push_back(field);
    return fields;
}

// The values a setting's runs set in the parameter file: its radii, then every --set.
std::vector<tools::IniValue> Values(const sweep::Setting& setting, const Options& options)
{
    std::vector<tools::IniValue> values = sweep::SettingValues(setting);
    values.insert(values.end(), options.settings_added.begin(), options.settings_added.end());
    return values;
}

Options Parse(int argc, char** argv)
{
    Options options;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (i + 1 >= argc)
            throw std::runtime_error("Unknown or incomplete option: " + arg);
        const std::string value = argv[++i];
        if (arg == "--mounts")
            options.mounts = IntListOption("mounts", value, 210, 1000);
        else if (arg == "--baselines")
            options.baselines = IntListOption("baselines", value, 5, 60);
        else if (arg == "--tilted") {
            options.tilted.clear();
            if (value != "none")
                for (const std::string& camera : Fields(value, ',')) {
                    const std::vector<std::string> parts = Fields(camera, '/');
                    if (parts.size() != 3)
                        throw std::runtime_error("Option --tilted takes MOUNT/BASELINE/RADIANS,... or none: " + value);
                    options.tilted.push_back({IntListOption("tilted", parts[0], 210, 1000)[0],
                                              IntListOption("tilted", parts[1], 5, 60)[0],
                                              tools::NumberOption("tilted", parts[2], 0.0, 0.44)});
                }
        } else if (arg == "--walks") {
            options.walks.clear();
            for (const std::string& name : Fields(value, ',')) {
                const auto* walk = std::find_if(std::begin(sweep::kWalks), std::end(sweep::kWalks), [&](sweep::Walk w) {
                    std::string known = sweep::WalkName(w);
                    std::replace(known.begin(), known.end(), ' ', '-');
                    return name == known || (w == sweep::Walk::kEdge && name == "edge");
                });
                if (walk == std::end(sweep::kWalks))
                    throw std::runtime_error("Option --walks takes alone, side-by-side, passing, edge: " + value);
                options.walks.push_back(*walk);
            }
        } else if (arg == "--radii") {
            options.settings.clear();
            for (const std::string& column : Fields(value, ',')) {
                const auto slash = column.find('/');
                sweep::Setting setting;
                setting.double_median_rad = IntListOption("radii", column.substr(0, slash), 1, 200)[0];
                if (slash != std::string::npos)
                    setting.med_rad = IntListOption("radii", column.substr(slash + 1), 1, 200)[0];
                if (setting.double_median_rad == 25 && setting.med_rad == 0)
                    setting.double_median_rad = 0;  // the defaults
                options.settings.push_back(setting);
            }
            if (options.settings.empty())
                throw std::runtime_error("Option --radii is empty");
        } else if (arg == "--heights") {
            const auto dash = value.find('-');
            if (dash == std::string::npos)
                throw std::runtime_error("Option --heights takes FROM-TO: " + value);
            options.height_from = IntListOption("heights", value.substr(0, dash), 100, 250)[0];
            options.height_to = IntListOption("heights", value.substr(dash + 1), options.height_from, 250)[0];
        } else if (arg == "--draws")
            options.draws = IntListOption("draws", value, 1, 100)[0];
        else if (arg == "--noise-seconds")
            options.noise_seconds = IntListOption("noise-seconds", value, 0, 3600)[0];
        else if (arg == "--jobs")
            options.jobs = IntListOption("jobs", value, 1, 64)[0];
        else if (arg == "--out")
            options.out = value;
        else if (arg == "--checks")
            options.checks = value;
        else if (arg == "--set")
            options.settings_added.push_back(tools::ParseIniValue("set", value));
        else
            throw std::runtime_error("Unknown option: " + arg);
    }
    // The second person of a pair is drawn from 150 to 200 cm.
    const int tallest = std::max(options.height_to, 200);
    for (int mount : options.mounts)
        if (mount < tallest + 30)
            throw std::runtime_error("Every mount must be at least 30 cm above the tallest person");
    for (const sweep::Camera& camera : options.tilted)
        if (camera.mount < tallest + 30)
            throw std::runtime_error("Every mount must be at least 30 cm above the tallest person");
    return options;
}

void WriteFile(const std::string& path, const std::string& text)
{
    std::ofstream file(path);
    file << text;
    if (!file)
        throw std::runtime_error("Can not write " + path);
}

int Run(int argc, char** argv)
{
    for (int i = 1; i < argc; ++i)
        if (std::string(argv[i]) == "--help") {
            std::cout << "usage: flowtally_height_sweep [--mounts 260,300] [--baselines 15,20,25] "
                         "[--tilted 260/20/0.15,300/20/0.15|none] [--walks alone,side-by-side,passing,edge] "
                         "[--heights 150-200] [--draws 3] [--radii 25,20,15,10,8,10/8] [--noise-seconds 73] "
                         "[--jobs 4] [--out FILE] [--checks FILE] [--set SECTION:KEY=VALUE ...]\n";
            return 0;
        }
    const Options options = Parse(argc, argv);

    sweep::Variety variety;
    for (int mount : options.mounts)
        for (int baseline : options.baselines) variety.cameras.push_back({mount, baseline, 0.0});
    const size_t upright = variety.cameras.size();
    variety.cameras.insert(variety.cameras.end(), options.tilted.begin(), options.tilted.end());
    variety.walks = options.walks;
    variety.height_from = options.height_from;
    variety.height_to = options.height_to;
    variety.draws = options.draws;

    std::vector<sweep::CellResult> results;
    for (const sweep::Camera& camera : variety.cameras)
        for (const sweep::Walk walk : variety.walks)
            for (int height = options.height_from; height <= options.height_to; height += 5)
                for (int draw = 1; draw <= options.draws; ++draw) results.push_back({{camera, walk, height, draw}, {}});
    std::vector<sweep::NoiseResult> noise;
    if (options.noise_seconds > 0)
        for (size_t i = 0; i < upright; ++i)
            noise.push_back({variety.cameras[i], std::vector<int>(options.settings.size(), 0)});
    const int noise_frames = options.noise_seconds * 25;

    const std::filesystem::path dir =
        std::filesystem::temp_directory_path() / ("flowtally_height_sweep_" + std::to_string(getpid()));
    std::filesystem::create_directories(dir);
    // The jobs: the noise of each camera and setting first (the longest), then the scenes.
    const size_t noise_jobs = noise.size() * options.settings.size();
    const size_t jobs = noise_jobs + results.size();
    std::atomic<size_t> next{0};
    std::atomic<size_t> done{0};
    std::mutex report;
    std::string failure;
    auto worker = [&] {
        for (size_t job = next++; job < jobs; job = next++) {
            try {
                const std::string name = "algo_" + std::to_string(job) + ".ini";
                if (job < noise_jobs) {
                    sweep::NoiseResult& result = noise[job / options.settings.size()];
                    const size_t setting = job % options.settings.size();
                    scene::Scene camera;
                    camera.rig.mount_height = result.camera.mount;
                    camera.rig.baseline = result.camera.baseline;
                    result.phantoms[setting] = sweep::PhantomPasses(
                        camera, noise_frames, Values(options.settings[setting], options), dir.string(), name);
                } else {
                    sweep::CellResult& result = results[job - noise_jobs];
                    const scene::Scene s = sweep::MakeScene(result.cell);
                    const std::vector<cv::Mat> frames = sweep::WorkingFrames(s);
                    const auto truth = scene::GroundTruth(s);
                    for (const sweep::Setting& setting : options.settings)
                        result.outcomes.push_back(
                            sweep::Score(truth, sweep::Count(s, frames, Values(setting, options), dir.string(), name)));
                }
                const size_t finished = ++done;
                std::lock_guard<std::mutex> lock(report);
                if (finished % 50 == 0 || finished == jobs)
                    std::cerr << finished << " of " << jobs << " counted\n";
            } catch (const std::exception& error) {
                std::lock_guard<std::mutex> lock(report);
                failure = error.what();
                next = jobs;
            }
        }
    };
    std::vector<std::thread> threads;
    for (int i = 0; i < options.jobs; ++i) threads.emplace_back(worker);
    for (std::thread& thread : threads) thread.join();
    if (!failure.empty())
        throw std::runtime_error(failure + " (the parameter files are kept in " + dir.string() + ")");
    std::filesystem::remove_all(dir);

    std::string added;
    for (const tools::IniValue& value : options.settings_added)
        added += (added.empty() ? "[" : ", [") + value.section + "] " + value.key + "=" + value.value;
    const std::string text = sweep::Report(variety, options.settings, results, noise, noise_frames, added);
    std::cout << text;
    if (!options.out.empty())
        WriteFile(options.out, text);
    if (!options.checks.empty())
        WriteFile(options.checks, sweep::ChecksText(options.settings, results));
    return 0;
}

}  // namespace

int main(int argc, char** argv)
{
    return tools::RunTool("flowtally_height_sweep", Run, argc, argv);
}
