#include "application/algo_thread.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <future>
#include <limits>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "PeopleCounter/universal/universal_people_counter.h"
#include "application/runtime/file_error_handler.h"
#include "application/runtime/thread_manager.h"
#include "support/log_capture.h"
#include "support/polling.h"

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

constexpr long long kBaseTimeNs = 883612800LL * 1000000000LL;

// What the counter double reports for the frame with a given timestamp.
struct FrameScript {
    std::vector<stereo::StereoCountingObjData> objects;
    float changed_pixels = 0.0f;
    float path_in_radii = 0.0f;
    std::vector<cv::Mat> debug_images;
};

FrameScript WithObjects(std::vector<stereo::StereoCountingObjData> objects)
{
    FrameScript script;
    script.objects = std::move(objects);
    return script;
}

FrameScript WithMeasures(float changed_pixels, float path_in_radii)
{
    FrameScript script;
    script.changed_pixels = changed_pixels;
    script.path_in_radii = path_in_radii;
    return script;
}

// Shared between a test and the counters that the thread builds on its own thread.
class CounterProbe {
public:
    void Script(unsigned long long timestamp, FrameScript script)
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_scripts[timestamp] = std::move(script);
    }

    FrameScript ScriptFor(unsigned long long timestamp)
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        ++m_frames_entered;
        m_timestamps.push_back(timestamp);
        m_changed.notify_all();
        m_changed.wait(lock, [this] { return !m_stalled; });
        return m_scripts[timestamp];
    }

    void Built(double angle)
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_angles.push_back(angle);
        m_changed.notify_all();
    }

    void Formatted(const kiv::VideoFormat& format)
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_formats.push_back(format);
    }

    void Stall(bool stalled)
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_stalled = stalled;
        m_changed.notify_all();
    }

    bool WaitForFrames(int count)
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        return m_changed.wait_for(lock, 5s, [&] { return m_frames_entered >= count; });
    }

    bool WaitForBuild(double angle)
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        return m_changed.wait_for(lock, 5s, [&] { return !m_angles.empty() && m_angles.back() == angle; });
    }

    std::vector<unsigned long long> Timestamps()
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_timestamps;
    }

    std::vector<double> Angles()
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_angles;
    }

    std::vector<kiv::VideoFormat> Formats()
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_formats;
    }

private:
    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::map<unsigned long long, FrameScript> m_scripts;
    std::vector<double> m_angles;
    std::vector<kiv::VideoFormat> m_formats;
    std::vector<unsigned long long> m_timestamps;
    int m_frames_entered = 0;
    bool m_stalled = false;
};

// A counter whose analyser follows the probe's script, with the real alarm logic behind it.
class ScriptedCounter : public UniversalPeopleCounter {
public:
    ScriptedCounter(std::shared_ptr<CounterProbe> probe, std::shared_ptr<BlockEntities::Log::ILog> log)
        : UniversalPeopleCounter("", std::move(log), 0.0), m_probe(std::move(probe))
    {
    }

    void InitImage(const kiv::VideoFormat& format) override
    {
        UniversalPeopleCounter::InitImage(format);
        m_probe->Formatted(format);
    }
    void ProcessImage(const cv::Mat&, AlgoTimePoint time, bool) override
    {
        const auto timestamp = static_cast<unsigned long long>(time.time_since_epoch().count() - kBaseTimeNs);
        m_script = m_probe->ScriptFor(timestamp);
        ProcessData(m_script.objects, time);
    }
    std::vector<cv::Mat> GetDebugImages() override { return m_script.debug_images; }
    float GetChangedPixelsPercent() const override { return m_script.changed_pixels; }
    float GetMaximalPathInObjectRadius() const override { return m_script.path_in_radii; }

private:
    std::shared_ptr<CounterProbe> m_probe;
    FrameScript m_script;
};

using testing_support::WaitUntil;

stereo::StereoCountingObjData Object(long long id, bool in)
{
    stereo::StereoCountingObjData object{};
    object.object_id = id;
    object.in_flag = in;
    object.height = 170;
    return object;
}

struct Settings {
    bool stereo = false;
    std::string config = "";
    bool debug = false;
    unsigned long long skip_ms = 0;
    double max_valid_angle = 0.4;
    unsigned int motion_sensitivity = 0;
    bool may_drop = true;
    MotionDetectionSubject subject = kMotionOnlyPeople;
};

class AlgoThreadTest : public ::testing::Test {
protected:
    AlgoThreadTest()
    {
        m_manager.m_exception_callback = [this](std::shared_ptr<BaseThread>, const std::exception* error) {
            if (!m_failed.exchange(true))
                m_failure.set_value(error ? error->what() : "");
        };
        const char* tmp = std::getenv("TMPDIR");
        m_dir = fs::path(tmp ? tmp : "/tmp") / ("algo_thread_test_" + std::to_string(::getpid()));
        fs::create_directories(m_dir);
        FileErrorHandler::SetErrorFileDirectory((m_dir / "errors").string());
    }

    ~AlgoThreadTest() override
    {
        m_manager.Terminate();
        std::error_code ignored;
        fs::remove_all(m_dir, ignored);
    }

    std::shared_ptr<AlgoThread> Make(const Settings& settings, AlgoThread::CounterFactory factory = {})
    {
        if (!factory) {
            factory = [probe = m_probe](CounterAlgorithm, const std::string&,
                                        std::shared_ptr<BlockEntities::Log::ILog> log,
                                        double angle) -> IUniversalPeopleCounter* {
                probe->Built(angle);
                return new ScriptedCounter(probe, std::move(log));
            };
        }
        auto thread = std::make_shared<AlgoThread>(
            settings.stereo, settings.config, 4, 2, settings.debug, settings.skip_ms, settings.max_valid_angle,
            settings.motion_sensitivity, "algo", settings.may_drop, settings.subject, m_manager, factory);
        thread->DoOnAlarm([this](const Alarm& alarm) {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_alarms.push_back(alarm);
        });
        thread->DoOnMotion([this] { ++m_motions; });
        thread->DoOnDebugImage([this](const std::vector<cv::Mat>& images, unsigned long long timestamp) {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_debug_emissions.emplace_back(images.size(), timestamp);
        });
        return thread;
    }

    static void Push(AlgoThread& thread, unsigned long long timestamp)
    {
        thread.PushFrame(std::make_shared<cv::Mat>(2, 4, CV_8UC1, cv::Scalar(0)), timestamp);
    }

    std::string WaitForFailure()
    {
        auto future = m_failure.get_future();
        return future.wait_for(5s) == std::future_status::ready ? future.get() : "<no failure>";
    }

    // Stops the thread after it has consumed the frames so far.
    void Stop(AlgoThread& thread, int frames)
    {
        EXPECT_TRUE(m_probe->WaitForFrames(frames));
        thread.Terminate(false);
        m_manager.Terminate();
    }

    // Stops a thread that may be waiting for a frame, handing it one to wake it.
    void StopNow(AlgoThread& thread)
    {
        thread.Terminate(false);
        Push(thread, 0);
        m_manager.JoinThread(thread);
    }

    testing_support::LogCapture m_log;
    ThreadManager m_manager;
    std::atomic<bool> m_failed{false};
    std::promise<std::string> m_failure;
    std::shared_ptr<CounterProbe> m_probe = std::make_shared<CounterProbe>();
    fs::path m_dir;
    std::mutex m_mutex;
    std::vector<Alarm> m_alarms;
    std::vector<std::pair<std::size_t, unsigned long long>> m_debug_emissions;
    std::atomic<int> m_motions{0};
};

TEST_F(AlgoThreadTest, RisingInFlagAlarmsOnceAndVanishingMovesOutFirst)
{
    m_probe->Script(1000, WithObjects({Object(7, true)}));
    m_probe->Script(2000, WithObjects({Object(7, true)}));
    m_probe->Script(3000, WithObjects({Object(8, true)}));
    auto thread = Make({});
    m_manager.AddThread(thread);
    for (unsigned long long ts : {1000ull, 2000ull, 3000ull}) Push(*thread, ts);
    Stop(*thread, 3);

    ASSERT_EQ(m_alarms.size(), 3u);
    EXPECT_EQ(m_alarms[0].type, kIncoming);
    EXPECT_EQ(m_alarms[0].object_id, 7);
    EXPECT_EQ(m_alarms[0].time.time_since_epoch().count(), kBaseTimeNs + 1000);
    EXPECT_EQ(m_alarms[1].type, kMovedOut);
    EXPECT_EQ(m_alarms[1].object_id, 7);
    EXPECT_EQ(m_alarms[1].object_height, 0);
    EXPECT_EQ(m_alarms[2].type, kIncoming);
    EXPECT_EQ(m_alarms[2].object_id, 8);
    EXPECT_EQ(m_log.Count("[algo] Incoming ID 7 nanosecond 1000"), 1);
    EXPECT_EQ(m_log.Count("[algo] MovedOut ID 7 nanosecond 3000"), 1);
    EXPECT_EQ(m_log.Count("[algo] Received first frame with base-clock relative timestamp 1000. Timepoint "
                          "assigned to base clock is 883612800000000000 nanoseconds since Jan 1, 1970"),
              1);
    EXPECT_TRUE(m_log.Contains("[algo] Dropped frames due to slow algorithms: 0"));
    const auto lines = m_log.Lines();
    EXPECT_EQ(std::count_if(lines.begin(), lines.end(),
                            [](const std::string& line) { return line.rfind("[algo] Algo thread FPS: ", 0) == 0; }),
              1);
}

TEST_F(AlgoThreadTest, FramesQueuedDuringTheInitialSkipAreDiscarded)
{
    Settings settings;
    settings.skip_ms = 50;
    auto thread = Make(settings);
    Push(*thread, 1);
    m_manager.AddThread(thread);
    ASSERT_TRUE(m_probe->WaitForBuild(0.0));  // built after the skip emptied the queue
    Push(*thread, 2);
    Stop(*thread, 1);
    EXPECT_EQ(m_probe->Timestamps(), std::vector<unsigned long long>{2});
}

TEST_F(AlgoThreadTest, InvalidAngleRaisesMarkerWithoutCounterUntilAValidAngleArrives)
{
    auto thread = Make({});
    thread->SetAngle(0.5);
    m_manager.AddThread(thread);
    const fs::path marker = m_dir / "errors" / "angle_error";
    EXPECT_TRUE(m_log.WaitFor("[algo, warning] Invalid angle: 0.5"));
    EXPECT_TRUE(WaitUntil([&] { return fs::exists(marker); }));
    EXPECT_TRUE(m_probe->Angles().empty());

    thread->SetAngle(std::numeric_limits<double>::quiet_NaN());  // no reading at all is no valid angle either
    EXPECT_TRUE(m_log.WaitFor("[algo, warning] Invalid angle: nan"));
    EXPECT_TRUE(m_probe->Angles().empty());

    thread->SetAngle(-0.4);  // the limit itself is valid
    ASSERT_TRUE(m_probe->WaitForBuild(-0.4));
    EXPECT_FALSE(fs::exists(marker));
    EXPECT_EQ(m_probe->Angles(), std::vector<double>{-0.4});

    thread->SetAngle(0.1);  // every new angle builds a new counter
    Push(*thread, 1);
    EXPECT_TRUE(m_probe->WaitForBuild(0.1));
}

TEST_F(AlgoThreadTest, UnknownAlarmTypeFailsTheThread)
{
    // A counter that reports an alarm of a type no consumer knows.
    class BadAlarmCounter : public IUniversalPeopleCounter {
    public:
        void InitImage(const kiv::VideoFormat&) override {}
        void GetAlarms(AlarmVector& out) override
        {
            out.clear();
            Alarm alarm;
            alarm.type = 5;
            out.push_back(alarm);
        }
        void Release() override { delete this; }
        void ProcessImage(const cv::Mat&, AlgoTimePoint, bool) override {}
        std::vector<cv::Mat> GetDebugImages() override { return {}; }
        float GetChangedPixelsPercent() const override { return 0.0f; }
        float GetMaximalPathInObjectRadius() const override { return 0.0f; }
    };
    auto thread = Make({},
                       [](CounterAlgorithm, const std::string&, std::shared_ptr<BlockEntities::Log::ILog>,
                          double) -> IUniversalPeopleCounter* { return new BadAlarmCounter; });
    m_manager.AddThread(thread);
    Push(*thread, 1);
    EXPECT_EQ(WaitForFailure(), "Unknown alarm type: 5");
    EXPECT_TRUE(m_alarms.empty());
}

TEST_F(AlgoThreadTest, MissingFramesFailTheThread)
{
    auto thread = Make({});
    m_manager.AddThread(thread);
    EXPECT_EQ(WaitForFailure(), "No frames for too long.");
}

TEST_F(AlgoThreadTest, MonoCounterWithoutItsParameterFileNamesTheFileAndFailsTheThread)
{
    Settings settings;
    settings.config = (m_dir / "missing.ini").string();
    auto thread = Make(settings, &AlgoThread::CreateCounterInstance);
    m_manager.AddThread(thread);
    EXPECT_EQ(WaitForFailure(), "IUniversalPeopleCounter (mono) instance construction failed.");
    EXPECT_TRUE(m_log.Contains("[algo, error] File '" + settings.config +
                               "' does not exist. The single-camera counter can not be built."));
}

TEST_F(AlgoThreadTest, StereoCounterIsBuiltOnlyWhenEveryParameterFileOfTheListIsThere)
{
    const std::string first = (m_dir / "first.ini").string();
    const std::string second = (m_dir / "second.ini").string();
    const std::string missing = (m_dir / "missing.ini").string();
    std::ofstream(first) << "[StereoPeopleCounter]\n";
    std::ofstream(second) << "[StereoPeopleCounter]\n";
    struct Case {
        std::string config;
        std::string refusal;  // empty: the counter is built
    };
    const Case cases[] = {
        {first, ""},
        {first + "?" + second, ""},
        {first + "?" + missing, "[algo, error] File '" + missing + "' does not exist. Not starting algorithms."},
        {missing, "[algo, error] File '" + missing + "' does not exist. Not starting algorithms."},
        {m_dir.string(), "[algo, error] File '" + m_dir.string() + "' does not exist. Not starting algorithms."},
        {first + "?", "[algo, error] Empty entry in the parameter file list '" + first + "?'. Not starting algorithms."},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.config);
        m_probe = std::make_shared<CounterProbe>();
        Settings settings;
        settings.stereo = true;
        settings.config = c.config;
        auto thread = Make(settings);
        m_manager.AddThread(thread);
        if (c.refusal.empty())
            EXPECT_TRUE(m_probe->WaitForBuild(0.0));
        else
            EXPECT_TRUE(m_log.WaitFor(c.refusal));
        // With or without a counter the frames are taken.
        Push(*thread, 1);
        StopNow(*thread);
        EXPECT_EQ(m_probe->Angles().size(), c.refusal.empty() ? 1u : 0u);
    }
    EXPECT_FALSE(m_failed);
}

// At the stop the counter still holds frame 0 and more frames are queued behind it.
TEST_F(AlgoThreadTest, FramesQueuedAtTheStopAreCountedOrReportedAsDropped)
{
    struct Case {
        bool may_drop;
        unsigned long long queued;  // frames pushed behind frame 0
        std::vector<unsigned long long> counted;
        std::string closing_line;
    };
    const Case cases[] = {
        // The capture waits for the algorithms: a frame it handed over is never lost.
        {false, 1, {0, 1}, "[algo] Dropped frames due to slow algorithms: 0"},
        // One frame overwritten in the full queue, and the 200 still queued.
        {true, AlgoThread::kQueueCapacity + 1, {0}, "[algo, warning] Dropped frames due to slow algorithms: 201"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.may_drop);
        m_probe = std::make_shared<CounterProbe>();
        m_probe->Stall(true);
        Settings settings;
        settings.may_drop = c.may_drop;
        auto thread = Make(settings);
        m_manager.AddThread(thread);
        Push(*thread, 0);
        ASSERT_TRUE(m_probe->WaitForFrames(1));  // the counter holds frame 0; the queue is empty
        for (unsigned long long ts = 1; ts <= c.queued; ++ts) Push(*thread, ts);
        // The stop, with the capture already ended: nothing more arrives.
        thread->Terminate(false);
        thread->ProducersEnded();
        m_probe->Stall(false);
        m_manager.JoinThread(*thread);
        EXPECT_EQ(m_probe->Timestamps(), c.counted);
        EXPECT_TRUE(m_log.Contains(c.closing_line));
    }
}

TEST_F(AlgoThreadTest, TerminationReleasesAProducerWaitingForTheQueue)
{
    Settings settings;
    settings.may_drop = false;
    m_probe->Stall(true);
    auto thread = Make(settings);
    m_manager.AddThread(thread);
    Push(*thread, 0);
    ASSERT_TRUE(m_probe->WaitForFrames(1));
    Push(*thread, 1);  // queued: the queue was empty

    auto pushed = std::make_shared<std::promise<void>>();
    std::thread([thread, pushed] {
        Push(*thread, 2);  // waits for the queue to empty
        pushed->set_value();
    }).detach();
    thread->Terminate(false);
    m_probe->Stall(false);
    EXPECT_EQ(pushed->get_future().wait_for(5s), std::future_status::ready);
}

TEST_F(AlgoThreadTest, MotionThresholdsFollowTheSensitivity)
{
    const std::vector<std::pair<unsigned int, std::string>> expected = {
        {0, "100"}, {10, "62"}, {50, "9"}, {75, "2"}, {90, "0"}};
    for (const auto& [sensitivity, pixels] : expected) {
        SCOPED_TRACE(sensitivity);
        Settings settings;
        settings.motion_sensitivity = sensitivity;
        settings.subject = kMotionAnything;
        auto thread = Make(settings);
        m_manager.AddThread(thread);
        EXPECT_TRUE(m_log.WaitFor("[algo] Using kMotionAnything with m_pixel_threshold " + pixels));
        StopNow(*thread);
    }
    for (const auto& [sensitivity, path] : std::vector<std::pair<unsigned int, std::string>>{
             {0, "6.01052"}, {10, "4.38167"}, {50, "0.751315"}, {75, "0.0939144"}, {90, "0.00601052"}}) {
        SCOPED_TRACE(sensitivity);
        Settings settings;
        settings.motion_sensitivity = sensitivity;
        auto thread = Make(settings);
        m_manager.AddThread(thread);
        EXPECT_TRUE(m_log.WaitFor("[algo] Using kMotionOnlyPeople with m_moving_threshold " + path));
        StopNow(*thread);
    }
}

TEST_F(AlgoThreadTest, MotionIsSignalledAboveTheThresholdOfItsSubject)
{
    // Sensitivity 10: 62 % of the pixels; sensitivity 45: a path of one object radius.
    for (const auto& [subject, sensitivity] :
         std::vector<std::pair<MotionDetectionSubject, unsigned int>>{{kMotionAnything, 10}, {kMotionOnlyPeople, 45}}) {
        SCOPED_TRACE(sensitivity);
        m_probe = std::make_shared<CounterProbe>();
        m_probe->Script(1, WithMeasures(62.0f, 1.0f));
        m_probe->Script(2, WithMeasures(62.5f, 1.5f));
        Settings settings;
        settings.motion_sensitivity = sensitivity;
        settings.subject = subject;
        auto thread = Make(settings);
        m_manager.AddThread(thread);
        Push(*thread, 1);
        Push(*thread, 2);
        ASSERT_TRUE(m_probe->WaitForFrames(2));
        StopNow(*thread);
        EXPECT_EQ(m_motions.exchange(0), 1);
    }
}

TEST_F(AlgoThreadTest, StereoCounterTakesTheTiltAndOneViewAndSignalsNoMotion)
{
    Settings settings;
    settings.stereo = true;
    settings.config = (m_dir / "algo.ini").string();
    std::ofstream(settings.config) << "[StereoPeopleCounter]\n";
    settings.motion_sensitivity = 100;  // any change would be motion with a single camera
    settings.subject = kMotionAnything;
    m_probe->Script(1, WithMeasures(50.0f, 5.0f));
    auto thread = Make(settings);
    thread->SetAngle(0.25);
    m_manager.AddThread(thread);
    Push(*thread, 1);
    Stop(*thread, 1);

    EXPECT_TRUE(m_log.Contains("[algo] Using tilt angle 0.25"));
    EXPECT_EQ(m_probe->Angles(), std::vector<double>{0.25});
    const auto formats = m_probe->Formats();
    ASSERT_EQ(formats.size(), 1u);
    EXPECT_EQ(formats[0].width, 4);  // one view of the double-width frame
    EXPECT_EQ(formats[0].height, 2);
    EXPECT_EQ(formats[0].bytes_per_pixel, 1);
    EXPECT_EQ(formats[0].bytes_per_line, 4);
    EXPECT_EQ(formats[0].row_order, 0);
    EXPECT_EQ(formats[0].pixel_format, 1);
    EXPECT_EQ(m_motions.load(), 0);
}

TEST_F(AlgoThreadTest, DebugImagesAreEmittedOnlyWhenThereAreSome)
{
    Settings settings;
    settings.debug = true;
    FrameScript two_images;
    two_images.debug_images = {cv::Mat(2, 2, CV_8UC1), cv::Mat(2, 2, CV_8UC1)};
    m_probe->Script(1, two_images);
    auto thread = Make(settings);
    m_manager.AddThread(thread);
    Push(*thread, 1);
    Push(*thread, 2);
    Stop(*thread, 2);
    ASSERT_EQ(m_debug_emissions.size(), 1u);
    EXPECT_EQ(m_debug_emissions[0].first, 2u);
    EXPECT_EQ(m_debug_emissions[0].second, 1u);
}

}  // namespace
