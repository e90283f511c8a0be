#include "application/service.h"

#include <sqlite3.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <future>
#include <fstream>
#include <map>
#include <memory>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <boost/filesystem.hpp>
#include <gtest/gtest.h>

#include <opencv2/imgcodecs.hpp>

#include "PeopleCounter/universal/universal_people_counter.h"
#include "application/outputs/alarms_db_thread.h"
#include "application/runtime/file_error_handler.h"
#include "application/runtime/thread_manager.h"
#include "support/alarms_database.h"
#include "support/board_simulator.h"
#include "support/log_capture.h"
#include "support/polling.h"
#include "support/ports.h"
#include "support/service_process.h"
#include "tools/scene_renderer/renderer.h"
#include "tools/scene_renderer/scene_files.h"

namespace {

using namespace std::chrono_literals;
using testing_support::BoardSimulator;
using testing_support::Bytes;
using testing_support::FakeModemLines;
using testing_support::TempDir;

// Objects the counter double reports, one list per frame, in order; then no objects.
class ObjectScript {
public:
    // `work`: how long the counter takes over that frame.
    void Add(std::vector<stereo::StereoCountingObjData> objects,
             std::chrono::milliseconds work = std::chrono::milliseconds(0))
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_frames.push_back({std::move(objects), work});
    }

    std::vector<stereo::StereoCountingObjData> Next()
    {
        Frame frame;
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            if (m_frames.empty())
                return {};
            frame = std::move(m_frames.front());
            m_frames.pop_front();
            if (frame.work.count() > 0)
                m_working = true;
        }
        m_changed.notify_all();
        std::this_thread::sleep_for(frame.work);
        return frame.objects;
    }

    // Waits until the counter has started on a frame that takes it time.
    bool WaitUntilWorking(std::chrono::milliseconds timeout)
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        return m_changed.wait_for(lock, timeout, [this] { return m_working; });
    }

private:
    struct Frame {
        std::vector<stereo::StereoCountingObjData> objects;
        std::chrono::milliseconds work{0};
    };
    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::deque<Frame> m_frames;
    bool m_working = false;
};

// The real alarm logic over scripted objects instead of an analyser.
class ScriptedCounter : public UniversalPeopleCounter {
public:
    ScriptedCounter(std::shared_ptr<ObjectScript> script, std::shared_ptr<BlockEntities::Log::ILog> log)
        : UniversalPeopleCounter("", std::move(log), 0.0), m_script(std::move(script))
    {
    }

    void ProcessImage(const cv::Mat&, AlgoTimePoint time, bool) override { ProcessData(m_script->Next(), time); }
    std::vector<cv::Mat> GetDebugImages() override { return {}; }
    float GetChangedPixelsPercent() const override { return 0.0f; }
    float GetMaximalPathInObjectRadius() const override { return 0.0f; }

private:
    std::shared_ptr<ObjectScript> m_script;
};

stereo::StereoCountingObjData Object(long long id, bool in, bool out)
{
    stereo::StereoCountingObjData object{};
    object.object_id = id;
    object.in_flag = in;
    object.out_flag = out;
    object.height = 180;
    return object;
}

std::string ReadFile(const std::string& path)
{
    std::ifstream file(path);
    std::stringstream text;
    text << file.rdbuf();
    return text.str();
}

// Rows of the alarms table as "object type pass_type", read through a second connection.
std::vector<std::string> AlarmRows(const std::string& database)
{
    std::vector<std::string> rows;
    sqlite3* db = nullptr;
    if (sqlite3_open(database.c_str(), &db) != SQLITE_OK)
        return rows;
    sqlite3_stmt* statement = nullptr;
    if (sqlite3_prepare_v2(db, "SELECT Object_id, Alarm_type, IFNULL(Pass_type, 'null') FROM Alarms ORDER BY Alarm_id",
                           -1, &statement, nullptr) == SQLITE_OK) {
        while (sqlite3_step(statement) == SQLITE_ROW)
            rows.push_back(std::to_string(sqlite3_column_int64(statement, 0)) + " " +
                           reinterpret_cast<const char*>(sqlite3_column_text(statement, 1)) + " " +
                           reinterpret_cast<const char*>(sqlite3_column_text(statement, 2)));
    }
    sqlite3_finalize(statement);
    sqlite3_close(db);
    return rows;
}

bool WaitUntil(const std::function<bool()>& condition, std::chrono::milliseconds timeout = 10s)
{
    return testing_support::WaitUntil(condition, timeout);
}

// Another connection holds the database's write lock until released.
class WriteLock {
public:
    explicit WriteLock(const std::string& database)
    {
        sqlite3_open(database.c_str(), &m_db);
        m_held = sqlite3_exec(m_db, "BEGIN EXCLUSIVE", nullptr, nullptr, nullptr) == SQLITE_OK;
    }
    ~WriteLock()
    {
        Release();
        sqlite3_close(m_db);
    }
    bool Held() const { return m_held; }
    void Release()
    {
        if (m_held)
            sqlite3_exec(m_db, "COMMIT", nullptr, nullptr, nullptr);
        m_held = false;
    }

private:
    sqlite3* m_db = nullptr;
    bool m_held = false;
};

// More passes in one frame than the statement queue holds, after a second of empty frames.
constexpr int kCrowd = 40;
constexpr int kCrowdQueueLimit = 15;

void ScriptCrowd(ObjectScript& script, int count)
{
    for (int i = 0; i < 25; ++i)
        script.Add({});
    std::vector<stereo::StereoCountingObjData> outside;
    std::vector<stereo::StereoCountingObjData> inside;
    for (int id = 1; id <= count; ++id) {
        outside.push_back(Object(id, false, false));
        inside.push_back(Object(id, true, false));
    }
    script.Add(outside);
    script.Add(inside);
    for (int i = 0; i < 2000; ++i)
        script.Add(inside);
}

class ServiceTest : public ::testing::Test {
protected:
    ServiceTest()
    {
        m_options.pipeline =
            "videotestsrc is-live=true ! capsfilter "
            "caps=video/x-raw,format=GRAY8,width=64,height=48,framerate=25/1 name=tail";
        m_options.stereo = false;
        m_options.camera_width = 64;
        m_options.camera_height = 48;
        m_options.algo_width = 32;
        m_options.algo_height = 24;
        m_options.stream_port = 0;
        m_options.image_port = 0;
        m_options.inclinometer = false;
        m_options.skip_ms = 0;
        m_options.algo_config = m_dir.Path("algo.ini");
        m_options.alarms = m_dir.Path("alarms.sqlite");
        m_options.error_file_directory = m_dir.Path("errors");
        m_options.angle_file_path = m_dir.Path("camera_angle");
        m_options.board_device = m_board.SlavePath();
        m_options.set_leds = m_dir.Path("set_leds.sh");
        std::ofstream(m_options.set_leds) << "#!/bin/sh\necho \"$@\" >> " << m_dir.Path("leds.log") << "\n";
        boost::filesystem::permissions(m_options.set_leds, boost::filesystem::owner_all);
        FileErrorHandler::SetErrorFileDirectory(m_options.error_file_directory);

        m_seams.board_modem_lines = &m_lines;
        m_seams.counter_factory = [script = m_script](CounterAlgorithm, const std::string&,
                                                       std::shared_ptr<BlockEntities::Log::ILog> log,
                                                       double) -> IUniversalPeopleCounter* {
            return new ScriptedCounter(script, std::move(log));
        };
        m_board.SetReply({0x0D, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00});
        // A failure on one of the service's threads fails the test with its message instead of
        // ending the test program.
        m_manager.m_exception_callback = [](std::shared_ptr<BaseThread> thread, const std::exception* error) {
            ADD_FAILURE() << "thread " << thread->GetName()
                          << " failed: " << (error ? error->what() : "unknown exception");
        };
    }

    // The manager joins every thread before the service's parts go.
    ~ServiceTest() override
    {
        m_manager.Terminate();
        m_service.reset();
    }

    void Start() { m_service = std::make_unique<Service>(m_options, m_logger, m_manager, m_seams); }

    // Starts the service on a crowd of kCrowd passes and holds the database's lock until the
    // statement queue, limited to kCrowdQueueLimit, is full. The crowd is kept small: each pass
    // starts the LED utility, and under an emulator every start of a process halts all threads.
    void StartWithFullStatementQueue(std::unique_ptr<WriteLock>& lock)
    {
        ASSERT_TRUE(testing_support::CreateAlarmsDatabase(m_options.alarms));
        ScriptCrowd(*m_script, kCrowd);
        m_seams.statement_queue_limit = kCrowdQueueLimit;
        Start();
        lock = std::make_unique<WriteLock>(m_options.alarms);
        ASSERT_TRUE(lock->Held());
        ASSERT_TRUE(m_log.WaitFor("[main, error] The buffer of DB statements is full!", 30s));
    }

    // One pass in and one out, then the first object leaves the scene.
    void ScriptTwoPasses()
    {
        for (int i = 0; i < 3; ++i)
            m_script->Add({Object(1, false, false), Object(2, false, false)});
        m_script->Add({Object(1, true, false), Object(2, false, false)});
        m_script->Add({Object(1, true, false), Object(2, false, true)});
        m_script->Add({Object(2, false, true)});
    }

    bool BoardShows(int incoming, int outgoing)
    {
        return m_board.WaitForFrames(
            [&](const std::vector<Bytes>& frames) {
                for (std::size_t i = 0; i + 1 < frames.size(); ++i)
                    if (frames[i][6] == 0 && frames[i + 1][6] == 1 &&
                        testing_support::ShownNumber(frames[i]) == incoming &&
                        testing_support::ShownNumber(frames[i + 1]) == outgoing)
                        return true;
                return false;
            },
            10s);
    }

    TempDir m_dir;
    FakeModemLines m_lines;
    BoardSimulator m_board;
    testing_support::LogCapture m_log;
    std::shared_ptr<ObjectScript> m_script = std::make_shared<ObjectScript>();
    ServiceOptions m_options;
    ServiceSeams m_seams;
    LogSource m_logger = Logger::GetLogSource("main");
    ThreadManager m_manager;
    std::unique_ptr<Service> m_service;
};

TEST_F(ServiceTest, PassesReachDatabaseLedsAndBoard)
{
    ASSERT_TRUE(testing_support::CreateAlarmsDatabase(m_options.alarms));
    ScriptTwoPasses();
    Start();

    // Each pass inserts a row; each object that leaves the scene closes its rows with its direction.
    const std::vector<std::string> expected_rows = {"1 Incoming 1", "2 Outgoing -1"};
    EXPECT_TRUE(WaitUntil([&] { return AlarmRows(m_options.alarms) == expected_rows; }))
        << ::testing::PrintToString(AlarmRows(m_options.alarms)) << ::testing::PrintToString(m_log.Lines());
    // Each pass starts the utility on a worker of its own, and nothing orders the two: each call
    // once, in either order.
    const auto led_calls = [&] {
        std::vector<std::string> calls;
        std::istringstream lines(ReadFile(m_dir.Path("leds.log")));
        for (std::string line; std::getline(lines, line);) calls.push_back(line);
        std::sort(calls.begin(), calls.end());
        return calls;
    };
    const std::vector<std::string> expected_calls = {"--mode pass_in_event", "--mode pass_out_event"};
    EXPECT_TRUE(WaitUntil([&] { return led_calls() == expected_calls; })) << ReadFile(m_dir.Path("leds.log"));
    EXPECT_TRUE(BoardShows(1, 1));
    int incoming_lines = 0;
    for (const auto& line : m_log.Lines())
        incoming_lines += line.rfind("[algo] Incoming ID 1 nanosecond ", 0) == 0;
    EXPECT_EQ(incoming_lines, 1);

    m_manager.Terminate();
    EXPECT_EQ(led_calls(), expected_calls);
    EXPECT_FALSE(boost::filesystem::exists(m_dir.Path("errors/db_error")));
}

// Counting never waits for the database; the passes beyond the queue's limit are named.
TEST_F(ServiceTest, LockedDatabaseHoldsUpNoCountingAndPassesBeyondTheQueuesLimitAreNamed)
{
    std::unique_ptr<WriteLock> lock;
    ASSERT_NO_FATAL_FAILURE(StartWithFullStatementQueue(lock));
    EXPECT_TRUE(BoardShows(kCrowd, 0));
    const auto not_stored = [this] {
        int lines = 0;
        for (const auto& line : m_log.Lines()) lines += line.rfind("[alarms, error] not stored: Incoming ", 0) == 0;
        return lines;
    };
    EXPECT_EQ(m_log.Count("[main, error] The buffer of DB statements is full!"), 1);
    lock->Release();

    // The rest are stored in order once the database is free.
    EXPECT_TRUE(
        WaitUntil([&] { return static_cast<int>(AlarmRows(m_options.alarms).size()) + not_stored() == kCrowd; }, 30s))
        << AlarmRows(m_options.alarms).size() << " " << not_stored();
    const auto rows = AlarmRows(m_options.alarms);
    EXPECT_GE(rows.size(), static_cast<std::size_t>(kCrowdQueueLimit));
    for (std::size_t i = 0; i < rows.size(); ++i) EXPECT_EQ(rows[i], std::to_string(i + 1) + " Incoming null");
}

// Every pass the log reports has its row, or its row in the log.
TEST_F(ServiceTest, StopMeetingALockedDatabaseLogsTheRowOfEveryPassNotStored)
{
    std::unique_ptr<WriteLock> lock;
    ASSERT_NO_FATAL_FAILURE(StartWithFullStatementQueue(lock));

    auto stopped = std::async(std::launch::async, [&] { m_manager.Terminate(); });
    EXPECT_EQ(stopped.wait_for(30s), std::future_status::ready);
    lock.reset();
    const auto rows = AlarmRows(m_options.alarms);
    const auto lines = m_log.Lines();
    for (int id = 1; id <= kCrowd; ++id) {
        const std::string logged = "[algo] Incoming ID " + std::to_string(id) + " nanosecond ";
        const std::string not_stored = "[alarms, error] not stored: Incoming Object_id=" + std::to_string(id) + " ";
        int passes = 0;
        int reported = 0;
        for (const auto& line : lines) {
            passes += line.rfind(logged, 0) == 0;
            reported += line.rfind(not_stored, 0) == 0;
        }
        const int stored = static_cast<int>(std::count(rows.begin(), rows.end(), std::to_string(id) + " Incoming null"));
        EXPECT_EQ(stored + reported, passes) << id;
    }
}

// The counter still works on a frame with two passes when the stop comes.
TEST_F(ServiceTest, PassesOfTheLastFrameAreStoredAtAnOrderlyStop)
{
    ASSERT_TRUE(testing_support::CreateAlarmsDatabase(m_options.alarms));
    for (int i = 0; i < 3; ++i)
        m_script->Add({Object(1, false, false), Object(2, false, false)});
    m_script->Add({Object(1, true, false), Object(2, false, true)}, 500ms);
    Start();
    ASSERT_TRUE(m_script->WaitUntilWorking(10s));
    m_manager.Terminate();

    EXPECT_EQ(AlarmRows(m_options.alarms), (std::vector<std::string>{"1 Incoming null", "2 Outgoing null"}));
}

TEST_F(ServiceTest, MissingTableRaisesDbErrorAndCountingGoesOn)
{
    {
        sqlite3* db = nullptr;
        ASSERT_EQ(sqlite3_open(m_options.alarms.c_str(), &db), SQLITE_OK);
        sqlite3_close(db);
    }
    m_options.board_incoming_correction = 5;  // not added after a database failure
    ScriptTwoPasses();
    Start();

    EXPECT_TRUE(boost::filesystem::exists(m_dir.Path("errors/db_error")));
    bool logged = false;
    for (const auto& line : m_log.Lines())
        logged |= line.rfind("[main, error] Alarms database '" + m_options.alarms +
                                 "' unavailable, passes will not be stored: ",
                             0) == 0;
    EXPECT_TRUE(logged) << ::testing::PrintToString(m_log.Lines());
    EXPECT_TRUE(BoardShows(1, 1));
    EXPECT_TRUE(WaitUntil([&] { return ReadFile(m_dir.Path("leds.log")).size() >= 2 * 21; }));
    // Every pass of the run is named, as a stop names those it could not store.
    for (const char* row : {"Incoming object 1 ", "Outgoing object 2 ", "MovedOut object 2 "}) {
        EXPECT_TRUE(WaitUntil([&] {
            for (const auto& line : m_log.Lines())
                if (line.rfind(std::string("[alarms, error] not stored: ") + row + "(object-id base not read)", 0) == 0)
                    return true;
            return false;
        })) << row;
    }
}

// The lock outlasts SQLite's own wait of 5 s at start.
TEST_F(ServiceTest, DatabaseLockedAtStartStoresThePassesAndCompletesTheBoardOnceFree)
{
    ASSERT_TRUE(testing_support::CreateAlarmsDatabase(m_options.alarms));
    {
        sqlite3* db = nullptr;
        ASSERT_EQ(sqlite3_open(m_options.alarms.c_str(), &db), SQLITE_OK);
        ASSERT_EQ(sqlite3_exec(db,
                               "INSERT INTO Alarms (Object_id, Alarm_type, Alarm_date, Alarm_time, Object_height, "
                               "Pass_type) VALUES (7, 'Incoming', '2015-05-01', '10:00:00', 150, 1)",
                               nullptr, nullptr, nullptr),
                  SQLITE_OK);
        sqlite3_close(db);
    }
    m_options.board_incoming_correction = 2;
    ScriptTwoPasses();
    auto lock = std::make_unique<WriteLock>(m_options.alarms);
    ASSERT_TRUE(lock->Held());
    Start();

    EXPECT_TRUE(m_log.Contains("[main] Alarms database is locked, the totals are added when it is free"))
        << ::testing::PrintToString(m_log.Lines());
    // Meanwhile the board counts from its corrections.
    EXPECT_TRUE(BoardShows(3, 1));
    lock->Release();

    // The stored pass is added to the board, the queued passes are stored under the object-id base.
    EXPECT_TRUE(BoardShows(4, 1));
    const std::vector<std::string> expected_rows = {"7 Incoming 1", "8 Incoming 1", "9 Outgoing -1"};
    EXPECT_TRUE(WaitUntil([&] { return AlarmRows(m_options.alarms) == expected_rows; }, 15s))
        << ::testing::PrintToString(AlarmRows(m_options.alarms));
    m_manager.Terminate();
    EXPECT_FALSE(boost::filesystem::exists(m_dir.Path("errors/db_error")));
}

// The single camera on rendered scenes at the picture's edges, through the real pipeline, counter,
// database and board. The alarms of the log and the stored rows are written with letters for the
// objects ("a", "b", ...: one object each, in the order of their first alarm); a row is "object
// type pass_type" once its object has moved out.
struct EdgeScene {
    const char* name;
    scene::Rig rig;
    int frames;
    std::vector<const char*> people;
    std::vector<std::string> alarms, rows;
    int board_in, board_out;  // as shown, and as the database counts them at the next start
};

void PrintTo(const EdgeScene& scene, std::ostream* out)
{
    *out << scene.name;
}

const scene::Rig kCamera320{320, 240, 200.0, 260.0, 15.0, 0.0, false};
const scene::Rig kCamera160{160, 120, 100.0, 260.0, 15.0, 0.0, false};

const EdgeScene kEdgeScenes[] = {
    // A person in a lane just outside the picture's side (only the body is seen) crosses the line
    // and turns back 3 cm past it: one object, in and out, nothing on the board.
    {"SideLaneBackPastTheLine",
     kCamera320,
     200,
     {"100,-210,100,3,5.5,171,0,1,40"},
     {"Incoming a", "Outgoing a", "MovedOut a"},
     {"a Incoming 0", "a Outgoing 0"},
     0,
     0},
    // A person crosses, walks on until partly out of the picture at the bottom edge, and comes back.
    {"PartlyOutAtTheBottomAndBack",
     kCamera320,
     220,
     {"0,-210,0,60,5.5,171,0,1,30"},
     {"Incoming a", "Outgoing a", "MovedOut a"},
     {"a Incoming 0", "a Outgoing 0"},
     0,
     0},
    // One person walks out through the top of the picture while the next comes in there: the
    // tracked point passes from the first to the second. Both passes are logged and stored, under
    // one object, which nets to nothing on the board and in the database's counts.
    {"OneOutAtTheTopAsTheNextComesIn",
     kCamera160,
     130,
     {"45,210,45,-210,5.5,169,0", "0,-210,0,210,5.5,172,40,1"},
     {"Outgoing a", "Incoming a", "MovedOut a"},
     {"a Outgoing 0", "a Incoming 0"},
     0,
     0},
};

class SingleCameraEdgeTest : public ServiceTest, public ::testing::WithParamInterface<EdgeScene> {
protected:
    // The newest totals the board shows are these.
    bool BoardEndsShowing(int incoming, int outgoing)
    {
        return m_board.WaitForFrames(
            [&](const std::vector<Bytes>& frames) {
                for (std::size_t i = frames.size(); i-- > 1;)
                    if (frames[i - 1][6] == 0 && frames[i][6] == 1)
                        return testing_support::ShownNumber(frames[i - 1]) == incoming &&
                               testing_support::ShownNumber(frames[i]) == outgoing;
                return false;
            },
            10s);
    }
};

TEST_P(SingleCameraEdgeTest, PassesAreLoggedStoredAndShown)
{
    const EdgeScene& c = GetParam();
    ASSERT_TRUE(testing_support::CreateAlarmsDatabase(m_options.alarms));
    scene::Scene scene;
    scene.rig = c.rig;
    scene.frames = c.frames;
    for (const char* person : c.people) scene.people.push_back(scene::ParsePerson(person));
    const scene::Renderer renderer(scene);
    char name[32];
    for (int frame = 0; frame < scene.frames; ++frame) {
        std::snprintf(name, sizeof name, "frame_%05d.png", frame);
        ASSERT_TRUE(cv::imwrite(m_dir.Path(name), renderer.RenderFrame(frame)));
    }
    std::ofstream(m_options.algo_config) << scene::AlgoIni(scene);
    m_options.camera_width = c.rig.width;
    m_options.camera_height = c.rig.height;
    m_options.algo_width = 160;  // the service's working size
    m_options.algo_height = 120;
    m_options.pipeline = "multifilesrc location=" + m_dir.Path("frame_%05d.png") +
                         " caps=image/png,framerate=25/1 ! pngdec ! videoconvert ! capsfilter "
                         "caps=video/x-raw,format=GRAY8,width=" +
                         std::to_string(c.rig.width) + ",height=" + std::to_string(c.rig.height) +
                         ",framerate=25/1 name=tail";
    m_options.algo_may_drop = false;
    m_seams.counter_factory = &AlgoThread::CreateCounterInstance;
    // The scene's end fails the capture ("Got EOS"), which the service answers by stopping; here
    // the test stops it, after the algorithms have counted every frame still queued.
    m_manager.m_exception_callback = [](std::shared_ptr<BaseThread>, const std::exception*) {};
    Start();

    std::map<std::string, std::string> letters;  // object id -> letter
    const auto lettered = [&](const std::string& id) {
        const auto found = letters.find(id);
        if (found != letters.end())
            return found->second;
        const std::string letter(1, static_cast<char>('a' + letters.size()));
        return letters[id] = letter;
    };
    std::vector<std::string> rows;
    EXPECT_TRUE(WaitUntil(
        [&] {
            rows = AlarmRows(m_options.alarms);
            return rows.size() == c.rows.size() && rows.back().find("null") == std::string::npos;
        },
        60s))
        << ::testing::PrintToString(rows) << ::testing::PrintToString(m_log.Lines());
    std::vector<std::string> alarms;
    for (const auto& line : m_log.Lines())
        for (const char* type : {"Incoming", "Outgoing", "MovedOut"})
            if (line.rfind(std::string("[algo] ") + type + " ID ", 0) == 0) {
                const size_t id = line.find(" ID ") + 4;
                alarms.push_back(type + std::string(" ") + lettered(line.substr(id, line.find(' ', id) - id)));
            }
    EXPECT_EQ(alarms, c.alarms);
    for (std::string& row : rows) row = lettered(row.substr(0, row.find(' '))) + row.substr(row.find(' '));
    EXPECT_EQ(rows, c.rows);
    EXPECT_TRUE(BoardEndsShowing(c.board_in, c.board_out));
    m_manager.Terminate();

    // What the next start reads back for the board.
    ThreadManager manager;
    const auto database = manager.CreateThread<AlarmsDbThread>(m_options.alarms, "alarms", 250000);
    EXPECT_EQ(database->GetAlarmsCount(AlarmsDbThread::kIncomingPass, m_options.board_counter_start_date,
                                       m_options.board_counter_start_time),
              c.board_in);
    EXPECT_EQ(database->GetAlarmsCount(AlarmsDbThread::kOutgoingPass, m_options.board_counter_start_date,
                                       m_options.board_counter_start_time),
              c.board_out);
}

INSTANTIATE_TEST_SUITE_P(Scenes, SingleCameraEdgeTest, ::testing::ValuesIn(kEdgeScenes),
                         [](const ::testing::TestParamInfo<EdgeScene>& scene_info) { return std::string(scene_info.param.name); });

// The board starts from the passes stored since its start date and time, as the options give them.
struct BoardStart {
    const char* name;
    const char* date;
    const char* time;
    int board_in;                    // of the passes stored: three at 09:00:00 on 2026-12-10, one in July
    std::vector<std::string> lines;  // what the start-up logs of the two options
};

void PrintTo(const BoardStart& start, std::ostream* out)
{
    *out << start.name;
}

const BoardStart kBoardStarts[] = {
    {"StoredForm", "2026-08-01", "00:00:00", 3, {}},
    // Compared as written, "2026-12-10" would come before "2026-8-1" and "09:00:00" before "8:00:00".
    {"UnpaddedDate", "2026-8-1", "0:0:0", 3,
     {"[main, warning] Option board_counter_start_date '2026-8-1' is used as '2026-08-01'",
      "[main, warning] Option board_counter_start_time '0:0:0' is used as '00:00:00'"}},
    {"UnpaddedTimeOnTheDay", "2026-12-10", "8:00:00", 3,
     {"[main, warning] Option board_counter_start_time '8:00:00' is used as '08:00:00'"}},
    {"EmptyCountsEveryRow", "", "", 4, {}},
    // Not a day: reported, and used as written (the board counts what the text gives).
    {"NotADate", "yesterday", "00:00:00", 0,
     {"[main, error] Option board_counter_start_date 'yesterday' is not in the form year-month-day of a "
      "calendar day (e.g. 2013-08-01): the board counts the passes stored since it as written, compared as text"}},
};

class BoardStartTest : public ServiceTest, public ::testing::WithParamInterface<BoardStart> {};

TEST_P(BoardStartTest, BoardCountsThePassesStoredSinceTheStartOfTheOptions)
{
    const BoardStart& c = GetParam();
    ASSERT_TRUE(testing_support::CreateAlarmsDatabase(m_options.alarms));
    testing_support::Connection(m_options.alarms)
        .Exec("INSERT INTO Alarms (Object_id, Alarm_type, Alarm_date, Alarm_time, Object_height, Pass_type) VALUES "
              "(1, 'Incoming', '2026-12-10', '09:00:00', 170, 1), (2, 'Incoming', '2026-12-10', '09:00:00', 170, 1), "
              "(3, 'Incoming', '2026-12-10', '09:00:00', 170, 1), (4, 'Incoming', '2026-07-31', '23:59:59', 170, 1)");
    // The options as the service reads them from its command line.
    ServiceOptions parsed;
    ServiceOptionsParser parser(parsed);
    const char* argv[] = {"flowtally", "--board_counter_start_date", c.date, "--board_counter_start_time", c.time};
    ASSERT_EQ(parser.ParseCommandLine(5, argv), ServiceOptionsParser::Outcome::kRun);
    parser.Finalize(m_logger);
    m_options.board_counter_start_date = parsed.board_counter_start_date;
    m_options.board_counter_start_time = parsed.board_counter_start_time;
    Start();

    EXPECT_TRUE(BoardShows(c.board_in, 0));
    std::vector<std::string> lines;
    for (const auto& line : m_log.Lines())
        if (line.find("board_counter_start") != std::string::npos)
            lines.push_back(line);
    EXPECT_EQ(lines, c.lines);
}

INSTANTIATE_TEST_SUITE_P(Values, BoardStartTest, ::testing::ValuesIn(kBoardStarts),
                         [](const ::testing::TestParamInfo<BoardStart>& start) { return std::string(start.param.name); });

TEST_F(ServiceTest, FixedAngleIsWrittenToAngleFileInDebugMode)
{
    ASSERT_TRUE(testing_support::CreateAlarmsDatabase(m_options.alarms));
    m_options.debug = true;
    m_options.camera_angle = 0.1;
    std::ofstream(m_options.angle_file_path) << "stale\n";
    Start();
    EXPECT_EQ(ReadFile(m_options.angle_file_path), "0.10000\n");
}

TEST_F(ServiceTest, WithoutAlgorithmsTheAngleFileIsKept)
{
    ASSERT_TRUE(testing_support::CreateAlarmsDatabase(m_options.alarms));
    m_options.algo_enabled = false;
    // Without the algorithms the image port's branch is what the capture feeds; a capture that
    // feeds nothing fails as soon as it plays ("not-linked").
    m_options.image_port = testing_support::FreePortRange(1);
    std::ofstream(m_options.angle_file_path) << "0.20000\n";
    Start();
    EXPECT_EQ(ReadFile(m_options.angle_file_path), "0.20000\n");
    for (const auto& line : m_log.Lines())
        EXPECT_NE(line.rfind("[algo]", 0), 0u) << line;
}

TEST_F(ServiceTest, DisplayThatCannotBeOpenedIsAWarningAndTheServiceRuns)
{
    ASSERT_TRUE(testing_support::CreateAlarmsDatabase(m_options.alarms));
    m_options.frame_buffer = m_dir.Path("no-such-fb");
    ScriptTwoPasses();
    Start();
    int warnings = 0;
    for (const auto& line : m_log.Lines())
        warnings += line.rfind("[main, warning] ", 0) == 0;
    EXPECT_EQ(warnings, 1) << ::testing::PrintToString(m_log.Lines());
    const std::vector<std::string> expected_rows = {"1 Incoming 1", "2 Outgoing -1"};
    EXPECT_TRUE(WaitUntil([&] { return AlarmRows(m_options.alarms) == expected_rows; }));
}

TEST_F(ServiceTest, UnwritableAngleFileIsAWarning)
{
    Service::WriteAngleFile(m_dir.Path("missing/dir/angle"), 0.5, m_logger);
    EXPECT_TRUE(m_log.Contains("[main, warning] Can not write the angle file " + m_dir.Path("missing/dir/angle")));
}

}  // namespace
