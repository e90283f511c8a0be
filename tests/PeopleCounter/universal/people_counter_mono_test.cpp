#include "PeopleCounter/universal/people_counter_mono.h"

#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "CommonUtilities/DebugInterfaces/recording_log.h"
#include "CommonUtilities/ParameterAccess/temp_ini_dir.h"
#include "tools/scene_renderer/renderer.h"
#include "tools/scene_renderer/scene_files.h"

namespace {

using CounterPtr = std::unique_ptr<IUniversalPeopleCounter, AlgoLibrary::ReleaseDeleter>;

constexpr long long k1998Ns = 883612800LL * 1000000000LL;
constexpr long long kFrameNs = 40000000LL;  // 25 frames per second

AlgoTimePoint FrameTime(int frame)
{
    return AlgoTimePoint(AlgoTimePoint::duration(k1998Ns + 1000000000LL + frame * kFrameNs));
}

scene::Scene MonoScene(int frames)
{
    scene::Scene s;
    s.rig.stereo = false;
    s.rig.width = 160;
    s.rig.height = 120;
    s.rig.focal = 100.0;
    s.frames = frames;
    return s;
}

struct SceneRun {
    std::vector<Alarm> alarms;
    std::vector<std::string> log;
};

// Renders the scene and runs it through a single-camera counter built by the factory with the
// parameter file the renderer writes for the scene; `extra_ini` is appended to that file.
SceneRun RunScene(const scene::Scene& s, double brightness_gain_after = -1, int gain_frame = 0,
                  const std::string& extra_ini = "")
{
    TempIniDir dir;
    const std::string ini = dir.Write("algo.ini", scene::AlgoIni(s) + extra_ini);
    auto log = std::make_shared<RecordingLog>();
    CounterPtr counter(IUniversalPeopleCounter::CreateInstance<kCounterMono>(ini, log, 0.0));
    SceneRun run;
    if (!counter) {
        for (const auto& line : log->lines) ADD_FAILURE() << line.text;
        return run;
    }
    counter->InitImage({s.rig.width, s.rig.height, 1, s.rig.width, 0, 1});
    const scene::Renderer renderer(s);
    AlarmVector alarms;
    for (int frame = 0; frame < s.frames; ++frame) {
        cv::Mat image = renderer.RenderFrame(frame);
        if (brightness_gain_after > 0 && frame >= gain_frame)
            image.convertTo(image, CV_8U, brightness_gain_after);
        counter->ProcessImage(image, FrameTime(frame));
        counter->GetAlarms(alarms);
        for (const Alarm& alarm : alarms) {
            run.alarms.push_back(alarm);
        }
    }
    for (const auto& line : log->lines) run.log.push_back(line.text);
    return run;
}

TEST(PeopleCounterMonoTest, CountsPeopleWalkingThroughTheLineOneAtATime)
{
    scene::Scene s = MonoScene(360);
    s.people.push_back(scene::ParsePerson("0,-200,0,200,5,180,10,1"));
    s.people.push_back(scene::ParsePerson("30,200,30,-200,5,175,100,1"));
    s.people.push_back(scene::ParsePerson("-40,-200,-40,200,5,185,190,1"));
    s.people.push_back(scene::ParsePerson("20,200,20,-200,5,170,280,1"));
    const SceneRun run = RunScene(s);
    std::map<int, int> by_type;
    for (const Alarm& alarm : run.alarms) ++by_type[alarm.type];
    EXPECT_EQ(by_type[0], 2);
    EXPECT_EQ(by_type[1], 2);
    EXPECT_EQ(by_type[2], 4);
}

TEST(PeopleCounterMonoTest, AlongTheLineStandingStillAndBrightnessChangeGiveNoAlarm)
{
    {
        scene::Scene s = MonoScene(150);
        s.people.push_back(scene::ParsePerson("-260,0,260,0,5,180,10,1"));
        EXPECT_TRUE(RunScene(s).alarms.empty()) << "along";
    }
    {
        scene::Scene s = MonoScene(150);
        s.people.push_back(scene::ParsePerson("0,0,0,1,0.01,180,10,1"));
        EXPECT_TRUE(RunScene(s).alarms.empty()) << "still";
    }
    {
        scene::Scene s = MonoScene(150);
        EXPECT_TRUE(RunScene(s, 1.5, 50).alarms.empty()) << "brighter";
        EXPECT_TRUE(RunScene(s, 0.6, 50).alarms.empty()) << "darker";
    }
}

}  // namespace
