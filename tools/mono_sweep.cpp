// flowtally_mono_sweep: how the single-camera counter counts rendered scenes of people walking in
// several ways, for camera rigs, working sizes and target circles.
//
//   flowtally_mono_sweep [--rigs 200/260,200/300,160/260] [--works 160x120,320x240]
//                        [--circles 1,1.2] [--jobs 4] [--verbose]
//
// A rig is a focal length in pixels and a mount height in centimetres; every scene is rendered at
// 320x240 for it and scaled to each working size as the service scales the camera's frames. The
// counter reads the parameter file the renderer writes for the rig, with the radius of its target
// circle (an adult's shoulders seen from above) multiplied by each --circles value. The scenes:
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
// For each working size, circle and family the table gives the passes of the ground truth, the
// passes missed, the false passes, how many frames late the counted passes came (mean and
// largest), and how far the board's totals and the database's counts (GetAlarmsCount, once every
// object has moved out) are from the people who passed, summed over both directions, and the
// counter's mean time per frame (ProcessImage alone, one thread; a scene's settings run one after
// another on the same thread, so their times compare even on a busy machine).

#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <map>
#include <memory>
#include <mutex>
#include <opencv2/imgproc.hpp>
#include <random>
#include <sstream>
#include <stdexcept>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "PeopleCounter/universal/i_universal_people_counter.h"
#include "tools/scene_renderer/renderer.h"
#include "tools/scene_renderer/scene_files.h"
#include "tools/support/error_log.h"
#include "tools/support/tool_main.h"

namespace {

constexpr long long kFrameNs = 40'000'000;  // 25 frames per second

struct Options {
    std::vector<std::pair<double, double>> rigs{{200, 260}, {200, 300}, {160, 260}};  // focal, mount
    std::vector<cv::Size> works{{160, 120}, {320, 240}};
    std::vector<double> circles{1.0, 1.2};
    int jobs = 4;
    bool verbose = false;
};

struct NamedScene {
    std::string family, name;
    scene::Scene scene;
};

// Errors of one count, summed over scenes.
struct Tally {
    int passes = 0, missed = 0, extra = 0, late_sum = 0, counted = 0, late_max = 0, board = 0, database = 0;
    double seconds = 0;  // in the counter's ProcessImage, on one thread
    int frames = 0;
    void Add(const Tally& o)
    {
        passes += o.passes;
        missed += o.missed;
        extra += o.extra;
        late_sum += o.late_sum;
        counted += o.counted;
        late_max = std::max(late_max, o.late_max);
        board += o.board;
        database += o.database;
        seconds += o.seconds;
        frames += o.frames;
    }
};

struct Alarmed {
    int frame, type;
    long long id;
};

scene::Person Walker(double x, bool down, double speed, double height, int start, bool dark)
{
    scene::Person p;
    p.x0 = p.x1 = x;
    p.y0 = down ? -210 : 210;
    p.y1 = -p.y0;
    p.speed = speed;
    p.height = height;
    p.start_frame = start;
    p.dark = dark;
    return p;
}

std::vector<NamedScene> Scenes(double focal, double mount)
{
    std::vector<NamedScene> out;
    auto add = [&](const std::string& family, const std::string& name, std::vector<scene::Person> people,
                   unsigned seed) {
        scene::Scene s;
        s.rig.stereo = false;
        s.rig.focal = focal;
        s.rig.mount_height = mount;
        s.seed = seed;
        s.people = std::move(people);
        for (const scene::Person& p : s.people) s.frames = std::max(s.frames, p.LastFrame() + 60);
        out.push_back({family, name, s});
    };
    // People in lanes, one every `every` frames, `pattern` walking down, then as many up.
    auto lanes = [&](const std::string& family, std::vector<double> xs, double speed, int every, int n, int pattern,
                     unsigned seed) {
        std::mt19937 rng(seed);
        std::uniform_real_distribution<double> height(155, 192);
        std::vector<scene::Person> people;
        for (int i = 0; i < n; ++i) {
            const bool down = pattern == 0 || (i / pattern) % 2 == 0;
            people.push_back(
                Walker(xs[static_cast<size_t>(i) % xs.size()], down, speed, height(rng), 10 + every * i, down));
        }
        add(family, family + " " + std::to_string(seed), people, seed);
    };
    for (unsigned seed : {1u, 2u, 3u}) lanes("busy +-70", {-70, 70}, 5, 40, 24, 2, seed);
    lanes("busy +-70", {-70, 70}, 8, 40, 24, 2, 4);
    for (unsigned seed : {1u, 2u}) lanes("busy +-40", {-40, 40}, 5, 40, 24, 2, seed);
    lanes("busy +-40", {-40, 40}, 7, 30, 24, 2, 3);
    for (unsigned seed : {1u, 2u}) lanes("one lane", {0}, 5, 40, 16, 2, seed);
    lanes("one lane", {20}, 6, 35, 16, 0, 3);
    for (double gap : {30.0, 45.0, 60.0})
        for (unsigned seed : {1u, 2u}) {
            std::mt19937 rng(seed * 7 + static_cast<unsigned>(gap));
            std::uniform_real_distribution<double> height(158, 190);
            std::vector<scene::Person> people;
            for (int k = 0; k < 4; ++k) {
                const double x = -gap / 2 + (k % 2 ? 10 : -10);
                people.push_back(Walker(x, true, 5, height(rng), 10 + 100 * k, true));
                people.push_back(Walker(x + gap, false, 5, height(rng), 10 + 100 * k, false));
            }
            add("opposite", "opposite " + std::to_string(static_cast<int>(gap)) + " cm " + std::to_string(seed), people,
                seed);
        }
    for (double gap : {50.0, 60.0, 70.0}) {
        std::mt19937 rng(static_cast<unsigned>(gap));
        std::uniform_real_distribution<double> height(158, 190);
        std::vector<scene::Person> people;
        for (int k = 0; k < 4; ++k) {
            const bool down = k % 2 == 0;
            people.push_back(Walker(-gap / 2, down, 5, height(rng), 10 + 100 * k, down));
            people.push_back(Walker(gap / 2, down, 5, height(rng), 13 + 100 * k, !down));
        }
        add("side", "side " + std::to_string(static_cast<int>(gap)) + " cm", people, 5);
    }
    for (unsigned seed : {11u, 12u, 13u, 14u}) {
        std::mt19937 rng(seed);
        std::uniform_real_distribution<double> x(-60, 60), height(150, 195), speed(3, 8), gap(15, 60);
        std::vector<scene::Person> people;
        double start = 10;
        for (int i = 0; i < 20; ++i) {
            const bool down = rng() % 2;
            scene::Person p = Walker(x(rng), down, speed(rng), height(rng), static_cast<int>(start), rng() % 2);
            p.x1 = p.x0 + x(rng) / 4;
            people.push_back(p);
            start += gap(rng);
        }
        add("random", "random " + std::to_string(seed), people, seed);
    }
    std::vector<scene::Person> turning = {Walker(0, true, 5, 175, 10, true), Walker(30, false, 5, 170, 150, false),
                                          Walker(-20, true, 4, 182, 300, true)};
    const double ends[] = {25, -40, 45};
    const int stands[] = {10, 20, 15};
    for (int i = 0; i < 3; ++i) {
        turning[i].y1 = ends[i];
        turning[i].return_after = stands[i];
    }
    add("turn back", "turn back", turning, 21);
    return out;
}

// The alarms against the ground truth: a pass of the truth is counted by the nearest unused alarm
// of its direction from 10 frames before to 40 after it. The board nets each object's passes as
// the indicator does when it moves out; the database counts the moved-out objects by their net
// direction, clamped to one pass.
Tally Evaluate(const NamedScene& named, const std::vector<Alarmed>& alarms, bool verbose)
{
    Tally t;
    const std::vector<scene::Crossing> truth = scene::GroundTruth(named.scene);
    std::vector<bool> used(alarms.size(), false);
    std::map<int, int> person_net;
    for (const scene::Crossing& c : truth) {
        ++t.passes;
        person_net[c.person] += c.incoming ? 1 : -1;
        int best = -1;
        for (size_t k = 0; k < alarms.size(); ++k) {
            const int late = alarms[k].frame - c.frame;
            if (used[k] || alarms[k].type != (c.incoming ? 0 : 1) || late < -10 || late > 40)
                continue;
            if (best < 0 || std::abs(late) < std::abs(alarms[static_cast<size_t>(best)].frame - c.frame))
                best = static_cast<int>(k);
        }
        if (best < 0) {
            ++t.missed;
            if (verbose)
                std::printf("  %s: person %d %s at frame %d missed\n", named.name.c_str(), c.person,
                            c.incoming ? "in" : "out", c.frame);
            continue;
        }
        used[static_cast<size_t>(best)] = true;
        const int late = alarms[static_cast<size_t>(best)].frame - c.frame;
        t.late_sum += std::max(late, 0);
        t.late_max = std::max(t.late_max, late);
        ++t.counted;
    }
    int people_in = 0, people_out = 0;
    for (const auto& [person, net] : person_net) {
        people_in += net > 0;
        people_out += net < 0;
    }
    int board[2] = {0, 0}, database[2] = {0, 0};
    std::map<long long, std::pair<int, int>> objects;  // net passes, counted direction
    for (size_t k = 0; k < alarms.size(); ++k) {
        const Alarmed& a = alarms[k];
        if (a.type != 2) {
            if (!used[k]) {
                ++t.extra;
                if (verbose)
                    std::printf("  %s: false %s (id %lld) at frame %d\n", named.name.c_str(),
                                a.type == 0 ? "in" : "out", a.id, a.frame);
            }
            auto [entry, added] = objects.try_emplace(a.id, 0, a.type);
            entry->second.first += a.type == 0 ? 1 : -1;
            if (added)
                ++board[a.type];
            continue;
        }
        const auto entry = objects.find(a.id);
        if (entry == objects.end())
            continue;
        const auto [net, direction] = entry->second;
        if (net != (direction == 0 ? 1 : -1))
            --board[direction];
        if (net != 0)
            ++database[net > 0 ? 0 : 1];
        objects.erase(entry);
    }
    t.board = std::abs(board[0] - people_in) + std::abs(board[1] - people_out);
    t.database = std::abs(database[0] - people_in) + std::abs(database[1] - people_out);
    return t;
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
                         "[--jobs N] [--verbose]\n";
            return 0;
        }
        if (arg == "--verbose") {
            options.verbose = true;
            continue;
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
    for (size_t rig = 0; rig < options.rigs.size(); ++rig)
        for (NamedScene& s : Scenes(options.rigs[rig].first, options.rigs[rig].second)) jobs.push_back({rig, s});
    const size_t variants = options.works.size() * options.circles.size();
    std::vector<std::vector<Tally>> tallies(jobs.size(), std::vector<Tally>(variants));
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
                    tallies[job][v] = Evaluate(named, alarms, options.verbose);
                    tallies[job][v].seconds = seconds;
                    tallies[job][v].frames = named.scene.frames;
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

    std::cout << "| focal/mount | working size | circle | scenes | passes | missed | false | late mean/max | board "
                 "errors | database errors | ms per frame |\n|---|---|---|---|---|---|---|---|---|---|---|\n";
    for (size_t rig = 0; rig < options.rigs.size(); ++rig)
        for (size_t v = 0; v < variants; ++v) {
            std::map<std::string, Tally> families;
            Tally all;
            for (size_t job = 0; job < jobs.size(); ++job)
                if (jobs[job].rig == rig) {
                    families[jobs[job].scene.family].Add(tallies[job][v]);
                    all.Add(tallies[job][v]);
                }
            families["all"] = all;
            for (const auto& [family, t] : families) {
                char line[256];
                std::snprintf(
                    line, sizeof line, "| %g/%g | %dx%d | x%g | %s | %d | %d | %d | %.1f/%d | %d | %d | %.2f |\n",
                    options.rigs[rig].first, options.rigs[rig].second, options.works[v / options.circles.size()].width,
                    options.works[v / options.circles.size()].height, options.circles[v % options.circles.size()],
                    family.c_str(), t.passes, t.missed, t.extra,
                    t.counted ? static_cast<double>(t.late_sum) / t.counted : 0.0, t.late_max, t.board, t.database,
                    t.frames ? 1000.0 * t.seconds / t.frames : 0.0);
                std::cout << line;
            }
        }
    return 0;
}

}  // namespace

int main(int argc, char** argv)
{
    return tools::RunTool("flowtally_mono_sweep", Run, argc, argv);
}
