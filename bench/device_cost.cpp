// device_cost: the service's per-frame paths on a rendered scene, bracketed by marks for counting
// executed instructions under qemu-arm with the qemu-icount plugin (scripts/device-cost.sh builds
// the plugin, runs this program for the device's build and turns the marks into the report).
//
//   device_cost [--frames N] [--work DIR]
//
// At the service's settings: camera frames of 320x240 per view scaled to 160x120 per view as the
// capture slot scales them, the counter built and driven as the algorithm thread does (parameters
// loaded from the file the renderer writes, a copy of each frame handed over, the alarms taken),
// everything on one thread. Three people walk under the camera.
//
// A mark is syscall(4095, tag, action): Linux refuses the unknown call with ENOSYS, so outside the
// counter the program runs as usual; under the plugin each mark writes "M <tag> <instructions so
// far>". Measured regions are bracketed by two marks of one tag:
//   1 the service's resize of one stereo frame        11 the same of one single-camera frame
//   2 the stereo counter (block matcher) built         3 its first pair    4 each later pair
//   5 the stereo counter (semi-global matcher) built   6 its first pair    7 each later pair
//   8 the single-camera counter built                  9 its first frame  10 each later frame
//   12 a loop of two instructions run 1,000,000 times (32-bit ARM only): the plugin's check
//   100 + i: stage i of the stereo analyser (its own statistics timers; names in stages.txt),
//            block matcher, each pair after the first
// Profiles: a mark with action 1 starts a per-block profile and one with action 2 writes it, both
// with tag 1000 + the region's tag (the first and the later pairs or frames: 3, 4, 6, 7, 9 and 10).
// The program writes stages.txt and its memory map, maps.txt, into the work directory.
#include <sys/syscall.h>
#include <tbb/global_control.h>
#include <unistd.h>

#include <fstream>
#include <iostream>
#include <iterator>
#include <map>
#include <memory>
#include <opencv2/core.hpp>
#include <opencv2/core/utility.hpp>
#include <opencv2/imgproc.hpp>
#include <stdexcept>
#include <string>
#include <vector>

#include "CommonUtilities/DebugInterfaces/debug_interfaces.h"
#include "CommonUtilities/ParameterAccess/load_parameters.h"
#include "CommonUtilities/algorithm_support/block_traverse.h"
#include "PeopleCounter/universal/i_universal_people_counter.h"
#include "StereoAnalyzer/StereoPeopleCounter/i_stereo_people_counter.h"
#include "tools/scene_renderer/renderer.h"
#include "tools/scene_renderer/scene_files.h"

namespace {

constexpr long kMarkCall = 4095;
constexpr int kWorkWidth = 160, kWorkHeight = 120;  // the service's algo_width and algo_height
constexpr long long kFrameNs = 40'000'000;          // 25 frames per second

enum Tag : long {
    kStereoResize = 1,
    kBMBuilt = 2,
    kBMFirstPair = 3,
    kBMPair = 4,
    kSGBMBuilt = 5,
    kSGBMFirstPair = 6,
    kSGBMPair = 7,
    kMonoBuilt = 8,
    kMonoFirstFrame = 9,
    kMonoFrame = 10,
    kMonoResize = 11,
    kCheckLoop = 12,
    kFirstStage = 100,
    kProfile = 1000,
};

void Mark(long tag, long action = 0)
{
    syscall(kMarkCall, tag, action);
}

// Counts the code of one call between two marks of the tag.
template <typename Call>
void Counted(long tag, Call call)
{
    Mark(tag);
    call();
    Mark(tag);
}

struct Options {
    int frames = 60;
    std::string work = ".";
};

Options ParseOptions(int argc, char** argv)
{
    Options options;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--frames" && i + 1 < argc)
            options.frames = std::stoi(argv[++i]);
        else if (arg == "--work" && i + 1 < argc)
            options.work = argv[++i];
        else
            throw std::runtime_error("usage: device_cost [--frames N] [--work DIR]");
    }
    if (options.frames < 3)
        throw std::runtime_error("--frames must be at least 3");
    return options;
}

// Three people of 168 to 180 cm crossing the picture, two one way and one the other, all three
// in the picture together from about the 15th frame to the 43rd; in darker clothes for the single
// camera, as its rendered scenes are.
scene::Scene Scene(bool stereo, int frames)
{
    scene::Scene s;
    s.rig.stereo = stereo;
    s.frames = frames;
    const std::string dark = stereo ? "" : ",1";
    for (const char* person : {"0,-110,0,110,4,180,0", "-50,110,-50,-110,4,175,4", "45,-110,45,110,3,168,2"})
        s.people.push_back(scene::ParsePerson(person + dark));
    return s;
}

std::string WriteFile(const std::string& path, const std::string& text)
{
    std::ofstream file(path);
    file << text;
    if (!file)
        throw std::runtime_error("Can not write " + path);
    return path;
}

// The counters' warnings and errors go to standard error.
class ErrorLog : public BlockEntities::Log::ILog {
public:
    void Write(KIVLogLevel level, const BlockEntities::Context&, const std::string& text) override
    {
        if (level >= kKivLogWarning)
            std::cerr << text << "\n";
    }
};

// The camera frames, and the frames the service hands the counter: each scaled as the capture
// slot scales it, the resize of every frame counted under `resizeTag`.
std::vector<cv::Mat> WorkingFrames(const scene::Scene& s, long resizeTag)
{
    const scene::Renderer renderer(s);
    const cv::Size target(kWorkWidth * (s.rig.stereo ? 2 : 1), kWorkHeight);
    std::vector<cv::Mat> frames;
    for (int frame = 0; frame < s.frames; ++frame) {
        const cv::Mat camera = renderer.RenderFrame(frame);
        cv::Mat scaled;
        Counted(resizeTag, [&] { cv::resize(camera, scaled, target, 0, 0, cv::INTER_LINEAR); });
        frames.push_back(scaled);
    }
    return frames;
}

// What the algorithm thread does with one counter: build it, then for every frame hand it a copy
// and take its alarms.
void CountCounter(CounterAlgorithm algorithm, const std::string& ini, const std::vector<cv::Mat>& frames, long builtTag,
                  long firstTag, long frameTag)
{
    std::unique_ptr<IUniversalPeopleCounter, AlgoLibrary::ReleaseDeleter> counter;
    Counted(builtTag, [&] {
        auto log = std::make_shared<ErrorLog>();
        counter.reset(algorithm == kCounterStereo
                          ? IUniversalPeopleCounter::CreateInstance<kCounterStereo>(ini, log, 0.0)
                          : IUniversalPeopleCounter::CreateInstance<kCounterMono>(ini, log, 0.0));
        if (counter)
            counter->InitImage(kiv::VideoFormat{kWorkWidth, kWorkHeight, 1, kWorkWidth, 0, 1});
    });
    if (!counter)
        throw std::runtime_error("The counter refused " + ini);
    AlarmVector alarms;
    auto process = [&](size_t frame) {
        counter->ProcessImage(frames[frame].clone(), AlgoTimePoint(AlgoTimePoint::duration(frame * kFrameNs)));
        counter->GetAlarms(alarms);
    };
    Mark(kProfile + firstTag, 1);
    Counted(firstTag, [&] { process(0); });
    Mark(kProfile + firstTag, 2);
    Mark(kProfile + frameTag, 1);
    for (size_t frame = 1; frame < frames.size(); ++frame) Counted(frameTag, [&] { process(frame); });
    Mark(kProfile + frameTag, 2);
}

// The analyser's statistics timers as marks: the start and the end of each timed stage.
class StageMarks : public BlockEntities::Stats::IStorage {
public:
    void Store(const BlockEntities::Context&, std::vector<BlockEntities::Stats::Item>::const_iterator begin,
               std::vector<BlockEntities::Stats::Item>::const_iterator end) override
    {
        if (!m_on)
            return;
        for (auto item = begin; item != end; ++item) {
            if (item->kind != BlockEntities::Stats::kTimerStart && item->kind != BlockEntities::Stats::kTimerElapsed)
                continue;
            auto found = m_tags.find(item->name);
            if (found == m_tags.end())
                found = m_tags.emplace(item->name, kFirstStage + static_cast<long>(m_tags.size())).first;
            Mark(found->second);
        }
    }

    void SetOn(bool on) { m_on = on; }
    const std::map<std::string, long>& Tags() const { return m_tags; }

private:
    bool m_on = false;
    std::map<std::string, long> m_tags;
};

// The stereo analyser alone with the block matcher, its stages marked, on the same frames.
void CountStages(const std::string& ini, const std::vector<cv::Mat>& frames, const std::string& names)
{
    std::unique_ptr<stereo::IStereoPeopleCounter> analyser(stereo::IStereoPeopleCounter::CreateInstance());
    analyser->GetModifiableContext().SetName("StereoPeopleCounter");
    BlockEntities::TraverseSetContexts(analyser.get());
    auto marks = std::make_shared<StageMarks>();
    const BlockEntities::DebugInterfaces interfaces(std::make_shared<ErrorLog>(), marks, nullptr);
    BlockEntities::Traverse<BlockEntities::IDebuggable>(
        analyser.get(), [&](BlockEntities::IDebuggable* block, const BlockEntities::Context&) {
            block->SetDebugInterfaces(interfaces);
        });
    ParamsLib::load_parameters(ini.c_str(), 0, analyser.get(), nullptr);
    analyser->InitFromParams();
    std::vector<stereo::StereoCountingObjData> objects;
    for (size_t frame = 0; frame < frames.size(); ++frame) {
        marks->SetOn(frame > 0);
        const cv::Mat& pair = frames[frame];
        const int width = pair.cols / 2;
        analyser->ProcessStereoPair(pair(cv::Rect(0, 0, width, pair.rows)), pair(cv::Rect(width, 0, width, pair.rows)),
                                    false, static_cast<long long>(frame) * (kFrameNs / 100));
        analyser->GetObjects(objects);
    }
    std::string text;
    for (const auto& [name, tag] : marks->Tags()) text += std::to_string(tag) + "\t" + name + "\n";
    WriteFile(names, text);
}

std::string AlgoIni(const scene::Scene& s, const std::string& path, const std::string& matcher)
{
    std::string text = scene::AlgoIni(s);
    if (!matcher.empty())
        text += "\n[StereoPeopleCounter]\nStereo_matching_algorithm_name=" + matcher + "\n";
    return WriteFile(path, text);
}

// 2,000,000 instructions between the marks, the loop's two per turn (and nothing else counted on
// a build for another processor).
void CheckLoop()
{
    Mark(kCheckLoop);
#if defined(__arm__)
    unsigned turns = 1000000;
    asm volatile("1: subs %0, %0, #1\n\tbne 1b" : "+r"(turns) : : "cc");
#endif
    Mark(kCheckLoop);
}

}  // namespace

int main(int argc, char** argv)
{
    try {
        const Options options = ParseOptions(argc, argv);
        // One thread: the plugin counts per process.
        cv::setNumThreads(1);
        tbb::global_control one_thread(tbb::global_control::max_allowed_parallelism, 1);
        CheckLoop();

        const scene::Scene stereo = Scene(true, options.frames);
        const std::vector<cv::Mat> pairs = WorkingFrames(stereo, kStereoResize);
        const std::string bm = AlgoIni(stereo, options.work + "/algo_bm.ini", "bm");
        CountCounter(kCounterStereo, bm, pairs, kBMBuilt, kBMFirstPair, kBMPair);
        CountCounter(kCounterStereo, AlgoIni(stereo, options.work + "/algo_sgbm.ini", "sgbm"), pairs, kSGBMBuilt,
                     kSGBMFirstPair, kSGBMPair);
        CountStages(bm, pairs, options.work + "/stages.txt");

        const scene::Scene mono = Scene(false, options.frames);
        const std::vector<cv::Mat> frames = WorkingFrames(mono, kMonoResize);
        CountCounter(kCounterMono, AlgoIni(mono, options.work + "/algo_mono.ini", ""), frames, kMonoBuilt,
                     kMonoFirstFrame, kMonoFrame);

        std::ifstream maps("/proc/self/maps");
        WriteFile(options.work + "/maps.txt", std::string(std::istreambuf_iterator<char>(maps), {}));
    } catch (const std::exception& e) {
        std::cerr << "device_cost: " << e.what() << "\n";
        return 1;
    }
    return 0;
}
