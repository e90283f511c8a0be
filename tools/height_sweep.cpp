// flowtally_height_sweep: which heights of people the stereo counter counts, and how late, for a
// camera mount and a radius of the double median.
//
//   flowtally_height_sweep [--mounts 260,300] [--radii 25,20,15,10,10/8] [--heights 150-200]
//                          [--jobs 4] [--out FILE] [--set SECTION:KEY=VALUE ...]
//
// For every mount height and every person height (5 cm steps) one person walks straight down
// through the counting line in the middle of the picture, rendered at the renderer's default rig
// (320x240 per view, focal length 200 pixels, 15 cm baseline) and scaled to the counter's working
// size (160x120 per view) as the service scales it. The stereo counter counts the walk once per
// column: a radius of "Stereo_double_median_rad" (25 is the default), optionally with a radius of
// "Stereo_med_rad" after a slash (16 is the default), everything else at its defaults, with the
// parameter file the renderer writes for the rig; --set adds a parameter to every run. Each cell of
// the printed table (Markdown) says how many frames after the true crossing the one "Incoming"
// came, "missed" when nothing was counted, or the counts when they are wrong.

#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <memory>
#include <mutex>
#include <opencv2/imgproc.hpp>
#include <sstream>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "PeopleCounter/universal/i_universal_people_counter.h"
#include "tools/scene_renderer/renderer.h"
#include "tools/scene_renderer/scene_files.h"
#include "tools/support/tool_main.h"

namespace {

constexpr long long kFrameNs = 40'000'000;  // 25 frames per second
constexpr int kWorkWidth = 160, kWorkHeight = 120;

struct Options {
    std::vector<int> mounts{260, 300};
    // Columns: a radius of the double median, optionally with one of the final median ("10/8").
    std::vector<std::pair<int, int>> radii{{25, 0}, {20, 0}, {15, 0}, {10, 0}, {10, 8}};
    int height_from = 150, height_to = 200;
    int jobs = 4;
    std::string out;
    std::vector<std::pair<std::string, std::string>> settings;  // section, "key=value"
};

// The parameter file with one more line in a section (added at the end when the file has none).
std::string WithLine(std::string ini, const std::string& section, const std::string& line)
{
    const std::string header = "[" + section + "]\n";
    const auto at = ini.find(header);
    if (at == std::string::npos)
        return ini + "\n" + header + line + "\n";
    return ini.insert(at + header.size(), line + "\n");
}

using tools::IntListOption;

// The counters' warnings and errors (a refused parameter file, for one) go to standard error.
class ErrorLog : public BlockEntities::Log::ILog {
public:
    void Write(KIVLogLevel level, const BlockEntities::Context&, const std::string& text) override
    {
        if (level < kKivLogWarning || level > kKivLogError)
            return;
        static std::mutex mutex;
        std::lock_guard<std::mutex> lock(mutex);
        std::cerr << text << "\n";
    }
};

// One person of the given height walking down through the middle of the picture.
scene::Scene Walk(int mount, int height)
{
    scene::Scene s;
    s.rig.mount_height = mount;
    s.people.push_back(scene::ParsePerson("0,-190,0,190,5," + std::to_string(height) + ",0"));
    s.frames = s.people[0].LastFrame() + 10;
    return s;
}

// The frames as the counter gets them from the service.
std::vector<cv::Mat> WorkingFrames(const scene::Scene& s)
{
    const scene::Renderer renderer(s);
    std::vector<cv::Mat> frames;
    for (int frame = 0; frame < s.frames; ++frame) {
        cv::Mat scaled;
        cv::resize(renderer.RenderFrame(frame), scaled, cv::Size(2 * kWorkWidth, kWorkHeight), 0, 0, cv::INTER_LINEAR);
        frames.push_back(scaled);
    }
    return frames;
}

// Counts the frames with one radius; the table cell.
std::string Count(const scene::Scene& s, const std::vector<cv::Mat>& frames, std::pair<int, int> radii,
                  const Options& options, const std::string& dir)
{
    const std::string ini = dir + "/algo_" + std::to_string(static_cast<int>(s.rig.mount_height)) + "_" +
                            std::to_string(static_cast<int>(s.people[0].height)) + "_" + std::to_string(radii.first) +
                            "_" + std::to_string(radii.second) + ".ini";
    {
        std::string text = WithLine(scene::AlgoIni(s), "StereoPeopleCounter",
                                    "Stereo_double_median_rad=" + std::to_string(radii.first));
        if (radii.second > 0)
            text = WithLine(text, "StereoPeopleCounter", "Stereo_med_rad=" + std::to_string(radii.second));
        for (const auto& [section, line] : options.settings) text = WithLine(text, section, line);
        std::ofstream file(ini);
        file << text;
        if (!file)
            throw std::runtime_error("Can not write " + ini);
    }
    std::unique_ptr<IUniversalPeopleCounter, AlgoLibrary::ReleaseDeleter> counter(
        IUniversalPeopleCounter::CreateInstance<kCounterStereo>(ini, std::make_shared<ErrorLog>(), 0.0));
    if (!counter)
        throw std::runtime_error("The stereo counter refused " + ini);
    counter->InitImage({kWorkWidth, kWorkHeight, 1, 2 * kWorkWidth, 0, 0});
    AlarmVector alarms;
    int incoming = 0, outgoing = 0, incoming_frame = -1;
    for (size_t frame = 0; frame < frames.size(); ++frame) {
        counter->ProcessImage(frames[frame], AlgoTimePoint(AlgoTimePoint::duration(frame * kFrameNs)));
        counter->GetAlarms(alarms);
        for (const Alarm& alarm : alarms) {
            if (alarm.type == kIncoming && incoming++ == 0)
                incoming_frame = static_cast<int>(frame);
            outgoing += alarm.type == kOutgoing;
        }
    }
    const auto truth = scene::GroundTruth(s);
    if (incoming == 1 && outgoing == 0 && truth.size() == 1)
        return "+" + std::to_string(incoming_frame - truth[0].frame);
    if (incoming == 0 && outgoing == 0)
        return "missed";
    return "in " + std::to_string(incoming) + ", out " + std::to_string(outgoing);
}

std::string Table(const Options& options, const std::vector<std::vector<std::string>>& cells)
{
    std::ostringstream out;
    for (const auto& [section, line] : options.settings) out << "With [" << section << "] " << line << ":\n\n";
    out << "| mount | height |";
    for (const auto& [radius, med] : options.radii) {
        out << " rad " << radius;
        if (med > 0)
            out << ", med " << med;
        out << (radius == 25 && med == 0 ? " (default)" : "") << " |";
    }
    out << "\n|---|---|";
    for (size_t i = 0; i < options.radii.size(); ++i) out << "---|";
    out << "\n";
    size_t row = 0;
    for (int mount : options.mounts)
        for (int height = options.height_from; height <= options.height_to; height += 5, ++row) {
            out << "| " << mount << " cm | " << height << " cm |";
            for (const std::string& cell : cells[row]) out << " " << cell << " |";
            out << "\n";
        }
    return out.str();
}

int Run(int argc, char** argv)
{
    Options options;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--help") {
            std::cout << "usage: flowtally_height_sweep [--mounts 260,300] [--radii 25,20,15,10,10/8] "
                         "[--heights 150-200] [--jobs 4] [--out FILE] [--set SECTION:KEY=VALUE ...]\n";
            return 0;
        }
        if (i + 1 >= argc)
            throw std::runtime_error("Unknown or incomplete option: " + arg);
        const std::string value = argv[++i];
        if (arg == "--mounts")
            options.mounts = IntListOption("mounts", value, 210, 1000);
        else if (arg == "--radii") {
            options.radii.clear();
            std::istringstream in(value);
            std::string column;
            while (std::getline(in, column, ',')) {
                const auto slash = column.find('/');
                const int radius = IntListOption("radii", column.substr(0, slash), 1, 200)[0];
                const int med =
                    slash == std::string::npos ? 0 : IntListOption("radii", column.substr(slash + 1), 1, 200)[0];
                options.radii.emplace_back(radius, med);
            }
            if (options.radii.empty())
                throw std::runtime_error("Option --radii is empty");
        } else if (arg == "--heights") {
            const auto dash = value.find('-');
            if (dash == std::string::npos)
                throw std::runtime_error("Option --heights takes FROM-TO: " + value);
            options.height_from = IntListOption("heights", value.substr(0, dash), 100, 250)[0];
            options.height_to = IntListOption("heights", value.substr(dash + 1), options.height_from, 250)[0];
        } else if (arg == "--jobs")
            options.jobs = IntListOption("jobs", value, 1, 64)[0];
        else if (arg == "--out")
            options.out = value;
        else if (arg == "--set") {
            const auto colon = value.find(':');
            if (colon == std::string::npos || value.find('=', colon) == std::string::npos)
                throw std::runtime_error("Option --set takes SECTION:KEY=VALUE: " + value);
            options.settings.emplace_back(value.substr(0, colon), value.substr(colon + 1));
        } else
            throw std::runtime_error("Unknown option: " + arg);
    }
    for (int mount : options.mounts)
        if (mount < options.height_to + 30)
            throw std::runtime_error("Every mount must be at least 30 cm above the tallest person");

    const std::filesystem::path dir =
        std::filesystem::temp_directory_path() / ("flowtally_height_sweep_" + std::to_string(getpid()));
    std::filesystem::create_directories(dir);
    struct Job {
        int mount, height;
    };
    std::vector<Job> jobs;
    for (int mount : options.mounts)
        for (int height = options.height_from; height <= options.height_to; height += 5)
            jobs.push_back({mount, height});
    std::vector<std::vector<std::string>> cells(jobs.size());
    std::atomic<size_t> next{0};
    std::mutex report;
    std::string failure;
    auto worker = [&] {
        for (size_t job = next++; job < jobs.size(); job = next++) {
            try {
                const scene::Scene s = Walk(jobs[job].mount, jobs[job].height);
                const std::vector<cv::Mat> frames = WorkingFrames(s);
                for (const auto& radii : options.radii)
                    cells[job].push_back(Count(s, frames, radii, options, dir.string()));
                std::lock_guard<std::mutex> lock(report);
                std::cerr << "mount " << jobs[job].mount << " cm, height " << jobs[job].height << " cm done\n";
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
    if (!failure.empty())
        throw std::runtime_error(failure + " (the parameter files are kept in " + dir.string() + ")");
    std::filesystem::remove_all(dir);

    const std::string table = Table(options, cells);
    std::cout << table;
    if (!options.out.empty()) {
        std::ofstream file(options.out);
        file << table;
        if (!file)
            throw std::runtime_error("Can not write " + options.out);
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv)
{
    return tools::RunTool("flowtally_height_sweep", Run, argc, argv);
}
