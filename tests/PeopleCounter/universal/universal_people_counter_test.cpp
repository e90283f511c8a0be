#include "PeopleCounter/universal/universal_people_counter.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <initializer_list>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "CommonUtilities/DebugInterfaces/recording_log.h"
#include "CommonUtilities/ParameterAccess/temp_ini_dir.h"
#include "CommonUtilities/algorithm_support/block_light.h"
#include "CommonUtilities/algorithm_support/kiv_exception.h"

namespace {

// A counter whose analyser is the test: it feeds object lists straight into the alarm logic.
class AlarmLogicCounter : public UniversalPeopleCounter {
public:
    explicit AlarmLogicCounter(std::shared_ptr<BlockEntities::Log::ILog> log, const std::string& algo_config = "")
        : UniversalPeopleCounter(algo_config, std::move(log), 0.0)
    {
    }
    void ProcessImage(const cv::Mat&, AlgoTimePoint, bool) override {}
    std::vector<cv::Mat> GetDebugImages() override { return {}; }
};

using CounterPtr = std::unique_ptr<AlarmLogicCounter, AlgoLibrary::ReleaseDeleter>;

class AnalyserBlock : public BlockHighlevel::LightBlock<BlockEntities::IAlgoEntityBase> {
public:
    ParamsLib::IntValueParam<> radius;

    void InitializeDefaultParameters() override
    {
        InitValueParameterStringDefault(radius, "", "", "radius", "search radius", "", "10");
    }
    void Report() const { Log(kKivLogInfo) << "analyser ready"; }
};

// A counter with one analyser block, built the way the real counters are.
class ParameterisedCounter : public AlarmLogicCounter {
public:
    ParameterisedCounter(const std::string& algo_config, std::shared_ptr<BlockEntities::Log::ILog> log)
        : AlarmLogicCounter(std::move(log), algo_config), analyser("MonoPeopleCounter", GetChildrenRegistry())
    {
        SetContextsAndDebugInterfaces();
        InitParams();
    }

    BlockHighlevel::ChildBlock<AnalyserBlock> analyser;
};

stereo::StereoCountingObjData StereoObject(long long id, bool in, bool out, std::initializer_list<int> lines,
                                           int height = 0)
{
    stereo::StereoCountingObjData object{};
    object.object_id = id;
    object.in_flag = in;
    object.out_flag = out;
    object.crossed_lines_count = static_cast<int>(lines.size());
    std::copy(lines.begin(), lines.end(), object.crossed_lines);
    object.height = height;
    return object;
}

AlgoTimePoint At(long long nanoseconds)
{
    return AlgoTimePoint(boost::chrono::nanoseconds(nanoseconds));
}

class UniversalPeopleCounterTest : public ::testing::Test {
protected:
    AlarmVector Collect()
    {
        AlarmVector alarms{AlarmVector::allocator_type(m_memory)};
        m_counter->GetAlarms(alarms);
        return alarms;
    }

    std::vector<int> Types(const AlarmVector& alarms)
    {
        std::vector<int> types;
        for (const Alarm& alarm : alarms) types.push_back(alarm.type);
        return types;
    }

    AlgoLibrary::MemManager::MemoryManagerAllocate m_memory;
    std::shared_ptr<RecordingLog> m_log = std::make_shared<RecordingLog>();
    CounterPtr m_counter{new AlarmLogicCounter(m_log)};
};

TEST_F(UniversalPeopleCounterTest, DecisionTableGivesTheTypeOfEachChange)
{
    struct Row {
        const char* name;
        stereo::StereoCountingObjData before;
        stereo::StereoCountingObjData after;
        std::vector<int> expected;
    };
    const std::vector<Row> rows = {
        {"in and out change, out now set",
         StereoObject(1, true, false, {1}),
         StereoObject(1, false, true, {1}),
         {kOutgoing}},
        {"in and out change, in now set",
         StereoObject(1, false, true, {-1}),
         StereoObject(1, true, false, {-1}),
         {kIncoming}},
        {"in rises", StereoObject(1, false, false, {}), StereoObject(1, true, false, {}), {kIncoming}},
        {"in clears", StereoObject(1, true, false, {1}), StereoObject(1, false, false, {1}), {kOutgoing}},
        {"out rises", StereoObject(1, false, false, {}), StereoObject(1, false, true, {}), {kOutgoing}},
        {"out clears", StereoObject(1, false, true, {-1}), StereoObject(1, false, false, {-1}), {kIncoming}},
        {"count changes under out",
         StereoObject(1, false, true, {-1}),
         StereoObject(1, false, true, {-1, -2}),
         {kOutgoing}},
        {"count changes under in",
         StereoObject(1, true, false, {1}),
         StereoObject(1, true, false, {1, 2}),
         {kIncoming}},
        {"count changes without flags",
         StereoObject(1, false, false, {}),
         StereoObject(1, false, false, {3}),
         {kIncoming}},
        {"only line ids change", StereoObject(1, true, false, {1}), StereoObject(1, true, false, {2}), {}},
        {"nothing changes", StereoObject(1, false, true, {-1}), StereoObject(1, false, true, {-1}), {}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        m_counter.reset(new AlarmLogicCounter(m_log));
        m_counter->ProcessData(std::vector<stereo::StereoCountingObjData>{row.before}, At(1));
        Collect();
        m_counter->ProcessData(std::vector<stereo::StereoCountingObjData>{row.after}, At(2));
        EXPECT_EQ(Types(Collect()), row.expected);
    }
}

TEST_F(UniversalPeopleCounterTest, AlarmCarriesObjectTimeHeightAndLines)
{
    m_counter->ProcessData(std::vector<stereo::StereoCountingObjData>{StereoObject(42, true, false, {3, -1}, 175)},
                           At(5000));
    const AlarmVector alarms = Collect();
    ASSERT_EQ(alarms.size(), 1u);
    EXPECT_EQ(alarms[0].object_id, 42);
    EXPECT_EQ(alarms[0].type, kIncoming);
    EXPECT_EQ(alarms[0].time, At(5000));
    EXPECT_EQ(alarms[0].object_height, 175);
    ASSERT_EQ(alarms[0].crossed_lines_count, 2);
    EXPECT_EQ(alarms[0].crossed_lines[0], 3);
    EXPECT_EQ(alarms[0].crossed_lines[1], -1);
    EXPECT_TRUE(std::all_of(alarms[0].crossed_lines + 2, alarms[0].crossed_lines + 32, [](int v) { return v == 0; }));
}

TEST_F(UniversalPeopleCounterTest, UnchangedObjectAlarmsOnceAndAlarmsAreHandedOverOnce)
{
    const std::vector<stereo::StereoCountingObjData> frame{StereoObject(1, true, false, {1})};
    m_counter->ProcessData(frame, At(1));
    m_counter->ProcessData(frame, At(2));
    EXPECT_EQ(Types(Collect()), std::vector<int>{kIncoming});
    EXPECT_TRUE(Collect().empty());
}

TEST_F(UniversalPeopleCounterTest, VanishedAlarmedObjectMovesOutBeforeAlarmsOfPresentObjects)
{
    m_counter->ProcessData(std::vector<stereo::StereoCountingObjData>{StereoObject(1, true, false, {4}, 180),
                                                                      StereoObject(2, false, false, {})},
                           At(1));
    Collect();
    m_counter->ProcessData(std::vector<stereo::StereoCountingObjData>{StereoObject(3, false, true, {-4})}, At(2));
    const AlarmVector alarms = Collect();
    ASSERT_EQ(alarms.size(), 2u);  // object 2 never alarmed and is forgotten silently
    EXPECT_EQ(alarms[0].type, kMovedOut);
    EXPECT_EQ(alarms[0].object_id, 1);
    EXPECT_EQ(alarms[0].object_height, 0);
    EXPECT_EQ(alarms[0].time, At(2));
    ASSERT_EQ(alarms[0].crossed_lines_count, 1);
    EXPECT_EQ(alarms[0].crossed_lines[0], 4);
    EXPECT_EQ(alarms[1].type, kOutgoing);
    EXPECT_EQ(alarms[1].object_id, 3);

    // The memory of object 1 is gone: it counts as new when it comes back.
    m_counter->ProcessData(std::vector<stereo::StereoCountingObjData>{StereoObject(1, true, false, {4})}, At(3));
    EXPECT_EQ(Types(Collect()), (std::vector<int>{kMovedOut, kIncoming}));
    m_counter->ProcessData(std::vector<stereo::StereoCountingObjData>{}, At(4));
    EXPECT_EQ(Types(Collect()), std::vector<int>{kMovedOut});
}

TEST_F(UniversalPeopleCounterTest, SingleCameraRecordsGiveTheSameAlarms)
{
    const int lines[] = {2};
    PeopleCountingPODObjData object{};
    object.id = 9;
    object.out = 1;
    object.crossed_lines_count = 1;
    object.crossed_lines = lines;
    PeopleCountingPODObjData no_lines{};
    no_lines.id = 10;
    no_lines.in = 1;
    m_counter->ProcessData(std::vector<PeopleCountingPODObjData>{object, no_lines}, At(1));
    const AlarmVector alarms = Collect();
    ASSERT_EQ(alarms.size(), 2u);
    EXPECT_EQ(alarms[0].type, kOutgoing);
    EXPECT_EQ(alarms[0].crossed_lines[0], 2);
    EXPECT_EQ(alarms[1].type, kIncoming);
    EXPECT_EQ(alarms[1].crossed_lines_count, 0);
}

TEST_F(UniversalPeopleCounterTest, ObjectBothInAndOutIsAnErrorAfterEarlierObjects)
{
    const std::vector<stereo::StereoCountingObjData> frame{StereoObject(1, true, false, {}),
                                                           StereoObject(2, true, true, {})};
    EXPECT_THROW(m_counter->ProcessData(frame, At(1)), exc::KIVException);
    EXPECT_EQ(Types(Collect()), std::vector<int>{kIncoming});
}

TEST_F(UniversalPeopleCounterTest, ObjectWithTooManyLinesAlarmsWithTheFirst31AndAWarning)
{
    stereo::StereoCountingObjData object = StereoObject(5, true, false, {});
    object.crossed_lines_count = 31;
    for (int i = 0; i < 32; ++i) object.crossed_lines[i] = i + 1;
    m_counter->ProcessData(std::vector<stereo::StereoCountingObjData>{object}, At(1));
    AlarmVector alarms = Collect();
    ASSERT_EQ(alarms.size(), 1u);
    EXPECT_EQ(alarms[0].crossed_lines_count, 31);
    EXPECT_TRUE(m_log->lines.empty());

    object.crossed_lines_count = 32;
    m_counter->ProcessData(std::vector<stereo::StereoCountingObjData>{object}, At(2));
    m_counter->ProcessData(std::vector<stereo::StereoCountingObjData>{}, At(3));
    alarms = Collect();
    ASSERT_EQ(alarms.size(), 2u);
    for (const Alarm& alarm : alarms) {
        EXPECT_EQ(alarm.crossed_lines_count, 31);
        EXPECT_EQ(alarm.crossed_lines[30], 31);
        EXPECT_EQ(alarm.crossed_lines[31], 0);
    }
    ASSERT_EQ(m_log->lines.size(), 2u);
    EXPECT_EQ(m_log->lines[0].level, kKivLogWarning);
    EXPECT_EQ(m_log->lines[0].text, "Object 5 crossed 32 lines; its alarm carries the first 31.");
}

TEST_F(UniversalPeopleCounterTest, AlarmsHandedToAnotherPoolOutliveTheCounter)
{
    m_counter->ProcessData(std::vector<stereo::StereoCountingObjData>{StereoObject(7, true, false, {1})}, At(1));
    AlarmVector alarms = Collect();
    m_counter.reset();
    ASSERT_EQ(alarms.size(), 1u);
    EXPECT_EQ(alarms[0].object_id, 7);
    alarms.push_back(alarms[0]);
    EXPECT_EQ(alarms[1].object_id, 7);
}

TEST(UniversalPeopleCounterParametersTest, LoadsTheTreeAndLogsTheProfileThroughTheCounterLog)
{
    const std::string ini =
        (std::filesystem::temp_directory_path() / ("universal_counter_test_" + std::to_string(::getpid()) + ".ini"))
            .string();
    std::ofstream(ini) << "[MonoPeopleCounter]\nradius=12\n";
    const auto log = std::make_shared<RecordingLog>();
    std::unique_ptr<ParameterisedCounter, AlgoLibrary::ReleaseDeleter> counter(new ParameterisedCounter(ini, log));
    std::remove(ini.c_str());

    EXPECT_EQ(counter->analyser.radius(), 12);
    EXPECT_EQ(counter->analyser.GetContext().GetHierarchyName(), "MonoPeopleCounter");
    const auto profile = std::find_if(log->lines.begin(), log->lines.end(), [](const RecordingLog::Line& line) {
        return line.text.rfind("<current-different-from-default>\n", 0) == 0;
    });
    ASSERT_NE(profile, log->lines.end());
    EXPECT_EQ(profile->level, kKivLogTrace);
    EXPECT_NE(profile->text.find("radius"), std::string::npos);
    EXPECT_NE(profile->text.find("</current-different-from-default>\n\n<current-all>\n"), std::string::npos);
    EXPECT_EQ(profile->text.substr(profile->text.size() - 14), "</current-all>");

    log->lines.clear();
    counter->analyser.Report();
    ASSERT_EQ(log->lines.size(), 1u);
    EXPECT_EQ(log->lines[0].text, "analyser ready");
}

TEST(UniversalPeopleCounterParametersTest, MissingParameterFileFailsConstruction)
{
    using Ptr = std::unique_ptr<ParameterisedCounter, AlgoLibrary::ReleaseDeleter>;
    EXPECT_THROW(Ptr(new ParameterisedCounter("/nonexistent/algo.ini", std::make_shared<RecordingLog>())),
                 std::runtime_error);
}

TEST(UniversalPeopleCounterStatisticsTest, ReportsEvery11sEarlyAndEvery601sLater)
{
    EXPECT_FALSE(UniversalPeopleCounter::IsStatisticsReportDue(10, 10));
    EXPECT_TRUE(UniversalPeopleCounter::IsStatisticsReportDue(11, 11));
    EXPECT_TRUE(UniversalPeopleCounter::IsStatisticsReportDue(11, 99));
    EXPECT_FALSE(UniversalPeopleCounter::IsStatisticsReportDue(11, 100));
    EXPECT_FALSE(UniversalPeopleCounter::IsStatisticsReportDue(600, 700));
    EXPECT_TRUE(UniversalPeopleCounter::IsStatisticsReportDue(601, 700));
}

TEST(UniversalPeopleCounterFactoryTest, FailedConstructionGivesNullAndOneErrorLine)
{
    // A parameter whose text cannot be read (a missing file adds the parameter loader's own line).
    const TempIniDir dir;
    const std::string ini = dir.Write("algo.ini", "[MonoPeopleCounter]\ntarget_circle=[[0.5\n");
    const auto log = std::make_shared<RecordingLog>();
    EXPECT_EQ(IUniversalPeopleCounter::CreateInstance<kCounterMono>(ini, log, 0.0), nullptr);
    ASSERT_EQ(log->lines.size(), 1u);
    EXPECT_EQ(log->lines[0].level, kKivLogError);
    EXPECT_EQ(IUniversalPeopleCounter::CreateInstance<kCounterStereo>("/nonexistent/algo.ini", nullptr, 0.0), nullptr);
}

}  // namespace
