#include "PeopleCounter/universal/people_counter_mono.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <map>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "CommonUtilities/DebugInterfaces/recording_log.h"
#include "CommonUtilities/ParameterAccess/temp_ini_dir.h"
#include "CommonUtilities/algorithm_support/kiv_exception.h"
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
    float max_changed_percent = 0.f;
    float max_path = 0.f;
    bool finite_paths = true;  // every frame's motion measure was a finite number
};

// The frames of a scene. The floor stands still, so frames in which the same people stand at the
// same places (nobody, or someone standing still) are the same picture: each is rendered once.
std::vector<cv::Mat> RenderScene(const scene::Scene& s)
{
    const scene::Renderer renderer(s);
    std::map<std::vector<double>, cv::Mat> rendered;
    std::vector<cv::Mat> frames;
    for (int frame = 0; frame < s.frames; ++frame) {
        std::vector<double> places;
        for (std::size_t i = 0; i < s.people.size(); ++i) {
            double x = 0.0, y = 0.0;
            if (s.people[i].PositionAt(frame, x, y))
                places.insert(places.end(), {static_cast<double>(i), x, y});
        }
        auto found = rendered.find(places);
        if (found == rendered.end())
            found = rendered.emplace(places, renderer.RenderFrame(frame)).first;
        frames.push_back(found->second);
    }
    return frames;
}

// Renders the scene and runs it through a single-camera counter built by the factory with the
// parameter file the renderer writes for the scene (followed by `extra_ini`); from `gain_frame` on
// the frames are scaled by `brightness_gain_after` when it is positive. The motion measures are read
// after every frame, as the algorithm thread reads them.
SceneRun RunScene(const scene::Scene& s, double brightness_gain_after = -1, int gain_frame = 0,
                  const std::string& extra_ini = "")
{
    const std::vector<cv::Mat> frames = RenderScene(s);
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
    AlarmVector alarms;
    for (int frame = 0; frame < s.frames; ++frame) {
        const cv::Mat& rendered = frames[static_cast<std::size_t>(frame)];
        cv::Mat image = rendered;
        if (brightness_gain_after > 0 && frame >= gain_frame) {
            image = cv::Mat();  // a picture of its own: frames share theirs
            rendered.convertTo(image, CV_8U, brightness_gain_after);
        }
        counter->ProcessImage(image, FrameTime(frame));
        counter->GetAlarms(alarms);
        run.max_changed_percent = std::max(run.max_changed_percent, counter->GetChangedPixelsPercent());
        const float path = counter->GetMaximalPathInObjectRadius();
        run.finite_paths = run.finite_paths && std::isfinite(path);
        run.max_path = std::max(run.max_path, path);
        run.alarms.insert(run.alarms.end(), alarms.begin(), alarms.end());
    }
    return run;
}

// A counter built by the factory on a parameter file in a temporary directory.
class PeopleCounterMonoTest : public ::testing::Test {
protected:
    CounterPtr Make(const std::string& ini_text)
    {
        const std::string path = m_dir.Write("algo.ini", ini_text);
        return CounterPtr(IUniversalPeopleCounter::CreateInstance<kCounterMono>(path, m_log, 0.0));
    }

    TempIniDir m_dir;
    std::shared_ptr<RecordingLog> m_log = std::make_shared<RecordingLog>();
};

TEST_F(PeopleCounterMonoTest, CountsPeopleWalkingThroughTheLineOneAtATime)
{
    // Each walk starts and ends outside the picture, the next one starting where the last ended.
    // An object moves out once its point is no longer followed, which for the last person (out at
    // the top at frame 253) takes until frame 335: the faint hill the body leaves in the background
    // at the edge holds the point.
    scene::Scene s = MonoScene(340);
    s.people.push_back(scene::ParsePerson("0,-170,0,170,6,180,10,1"));
    s.people.push_back(scene::ParsePerson("30,170,30,-170,6,175,72,1"));
    s.people.push_back(scene::ParsePerson("-40,-170,-40,170,6,185,134,1"));
    s.people.push_back(scene::ParsePerson("20,170,20,-170,6,170,196,1"));
    const SceneRun run = RunScene(s);
    std::map<int, int> by_type;
    for (const Alarm& alarm : run.alarms) ++by_type[alarm.type];
    EXPECT_EQ(by_type[0], 2);
    EXPECT_EQ(by_type[1], 2);
    EXPECT_EQ(by_type[2], 4);

    // Each pass in the order and direction of the ground truth, near its frame, and each passed
    // object moves out later under the same id with the same line.
    const std::vector<scene::Crossing> truth = scene::GroundTruth(s);
    ASSERT_EQ(truth.size(), 4u);
    std::vector<const Alarm*> passes;
    for (const Alarm& alarm : run.alarms)
        if (alarm.type != 2)
            passes.push_back(&alarm);
    ASSERT_EQ(passes.size(), truth.size());
    for (std::size_t i = 0; i < truth.size(); ++i) {
        const Alarm& pass = *passes[i];
        EXPECT_EQ(pass.type, truth[i].incoming ? 0 : 1) << i;
        const long long frame = (pass.time - FrameTime(0)).count() / kFrameNs;
        EXPECT_NEAR(frame, truth[i].frame, 10) << i;
        EXPECT_EQ(pass.object_height, 0);
        ASSERT_EQ(pass.crossed_lines_count, 1);
        EXPECT_EQ(pass.crossed_lines[0], truth[i].incoming ? 1 : -1);
        int moved_out = 0;
        for (const Alarm& alarm : run.alarms)
            if (alarm.type == 2 && alarm.object_id == pass.object_id) {
                ++moved_out;
                EXPECT_GT(alarm.time, pass.time);
                EXPECT_EQ(alarm.crossed_lines[0], pass.crossed_lines[0]);
            }
        EXPECT_EQ(moved_out, 1) << i;
        for (std::size_t j = 0; j < i; ++j) EXPECT_NE(passes[j]->object_id, pass.object_id);
    }
    EXPECT_GT(run.max_changed_percent, 1.f);
    EXPECT_GT(run.max_path, 1.f);
}

TEST_F(PeopleCounterMonoTest, AlongTheLineStandingStillAndBrightnessChangeGiveNoAlarm)
{
    const struct {
        const char* what;
        const char* person;  // nobody if null
        double gain;         // applied from frame 50 when positive
        int frames;
    } cases[] = {{"along", "-260,0,260,0,5,180,10,1", -1, 125},
                 {"still", "0,0,0,0,1,180,10,1,100", -1, 125},  // standing on the line for 100 frames
                 {"brighter", nullptr, 1.5, 100},
                 {"darker", nullptr, 0.6, 100}};
    for (const auto& c : cases) {
        scene::Scene s = MonoScene(c.frames);
        if (c.person)
            s.people.push_back(scene::ParsePerson(c.person));
        EXPECT_TRUE(RunScene(s, c.gain, 50).alarms.empty()) << c.what;
    }
}

TEST_F(PeopleCounterMonoTest, ZeroTrackAgeAndSpeedLimitsKeepTheMotionMeasureAndTheCount)
{
    // A device's parameter file may hold 0 for any of the four limits: a minimum of 0 is reached by
    // every track, and without paths the measure is 0.
    const std::string zero_limits =
        "\n[MonoPeopleCounter--Tracker]\nmin_fast_track_age=0\nmin_fast_track_speed=0\n"
        "min_slow_track_age=0\nmin_slow_track_speed=0\n";
    CounterPtr still = Make(zero_limits);
    ASSERT_TRUE(still);
    still->InitImage({160, 120, 1, 160, 0, 1});
    still->ProcessImage(cv::Mat(120, 160, CV_8UC1, cv::Scalar(90)), FrameTime(0));
    EXPECT_EQ(still->GetMaximalPathInObjectRadius(), 0.f);

    scene::Scene s = MonoScene(80);
    s.people.push_back(scene::ParsePerson("10,-170,10,170,5,180,10,1"));
    const SceneRun run = RunScene(s, -1, 0, zero_limits);
    EXPECT_TRUE(run.finite_paths);
    EXPECT_GT(run.max_path, 1.f);
    const std::vector<scene::Crossing> truth = scene::GroundTruth(s);
    ASSERT_EQ(truth.size(), 1u);
    std::vector<int> passes;
    for (const Alarm& alarm : run.alarms)
        if (alarm.type != 2)
            passes.push_back(alarm.type);
    EXPECT_EQ(passes, (std::vector<int>{truth[0].incoming ? 0 : 1}));
}

TEST_F(PeopleCounterMonoTest, FramesOtherThanTheAnnouncedGreyImageAreRefused)
{
    CounterPtr counter = Make("");
    ASSERT_TRUE(counter);
    const cv::Mat grey(120, 160, CV_8UC1, cv::Scalar(100));
    EXPECT_THROW(counter->ProcessImage(grey, FrameTime(0)), exc::KIVException);  // before InitImage
    counter->InitImage({160, 120, 1, 160, 0, 1});
    const cv::Mat bigger(240, 320, CV_8UC1, cv::Scalar(100));
    const struct {
        const char* name;
        cv::Mat frame;
    } refused[] = {
        {"colour", cv::Mat(120, 160, CV_8UC3, cv::Scalar(100, 100, 100))},
        {"16-bit", cv::Mat(120, 160, CV_16UC1, cv::Scalar(100))},
        {"too wide", cv::Mat(120, 161, CV_8UC1, cv::Scalar(100))},
        {"too low", cv::Mat(119, 160, CV_8UC1, cv::Scalar(100))},
        {"empty", cv::Mat()},
    };
    for (const auto& c : refused)
        EXPECT_THROW(counter->ProcessImage(c.frame, FrameTime(0)), exc::KIVException) << c.name;
    // A view into a larger frame is not continuous: it is copied and analysed.
    const cv::Mat view = bigger(cv::Rect(10, 10, 160, 120));
    ASSERT_FALSE(view.isContinuous());
    EXPECT_NO_THROW(counter->ProcessImage(view, FrameTime(1), true));
    EXPECT_NO_THROW(counter->ProcessImage(grey, FrameTime(2), true));
    EXPECT_TRUE(counter->GetDebugImages().empty());
    EXPECT_EQ(counter->GetChangedPixelsPercent(), 0.f);
    EXPECT_EQ(counter->GetMaximalPathInObjectRadius(), 0.f);
}

TEST_F(PeopleCounterMonoTest, ConstructionLoadsTheControllerParametersAndLogsTheProfileOnce)
{
    CounterPtr counter = Make("[MonoPeopleCounter]\nlambda_thr=0.25\n");
    ASSERT_TRUE(counter);
    std::string profile;
    for (const auto& line : m_log->lines)
        if (line.text.find("<current-all>") != std::string::npos)
            profile = line.text;
    ASSERT_FALSE(profile.empty());
    const auto count = [](const std::string& text, const std::string& in) {
        std::size_t n = 0;
        for (auto at = in.find(text); at != std::string::npos; at = in.find(text, at + 1)) ++n;
        return n;
    };
    const std::string all = profile.substr(profile.find("<current-all>"));
    EXPECT_EQ(count("<group name=\"MonoPeopleCounter\">", profile), 2u);  // once among the changed, once among all
    EXPECT_NE(all.find("<group name=\"MonoPeopleCounter--Tracker\">"), std::string::npos);
    // The controller is listed once among the root's children: each parameter appears once.
    EXPECT_EQ(count("MonoPeopleCounter_lambda_thr\"", all), 1u);
    EXPECT_NE(profile.find("0.25"), std::string::npos);
}

TEST_F(PeopleCounterMonoTest, BadParametersGiveNoCounter)
{
    struct Case {
        const char* name;
        std::string ini;
    };
    for (const Case& c : {Case{"unknown blur", "[MonoPeopleCounter]\ngauss_type=kGaussNone\n"},
                          Case{"unreadable circle", "[MonoPeopleCounter]\ntarget_circle=[[0.5,0.5]\n"}}) {
        m_log->lines.clear();
        EXPECT_FALSE(Make(c.ini)) << c.name;
        ASSERT_EQ(m_log->lines.size(), 1u) << c.name;
        EXPECT_EQ(m_log->lines[0].level, kKivLogError) << c.name;
    }
    // A degenerate person size is refused when the frame format is known, before any frame.
    CounterPtr counter = Make("[MonoPeopleCounter]\ntarget_circle=[[0.5,0.5],[0.5,0.5]]\n");
    ASSERT_TRUE(counter);
    EXPECT_THROW(counter->InitImage({160, 120, 1, 160, 0, 1}), std::runtime_error);
    EXPECT_THROW(counter->ProcessImage(cv::Mat(120, 160, CV_8UC1, cv::Scalar(0)), FrameTime(0)), exc::KIVException);
}

}  // namespace
