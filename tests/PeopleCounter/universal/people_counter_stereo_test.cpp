#include "PeopleCounter/universal/people_counter_stereo.h"

#include <gtest/gtest.h>

#include <climits>
#include <map>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "CommonUtilities/DebugInterfaces/recording_log.h"
#include "CommonUtilities/ParameterAccess/temp_ini_dir.h"
#include "CommonUtilities/algorithm_support/kiv_exception.h"
#include "tools/scene_renderer/scene_files.h"

namespace {

constexpr long long k1998Ns = 883612800LL * 1000000000LL;

// What the analyser double saw; the test keeps it after the counter deleted the double.
struct AnalyserJournal {
    std::vector<std::string> calls;
    bool deleted = false;
    cv::Mat left;
    cv::Mat right;
    bool debug = false;
    long long time = 0;
    std::vector<stereo::StereoCountingObjData> objects;
    std::vector<std::string> bitmap_names;
    std::map<std::string, cv::Mat> bitmaps;
    bool fail_init = false;
};

class AnalyserDouble : public BlockHighlevel::LightBlock<stereo::IStereoPeopleCounter> {
public:
    explicit AnalyserDouble(std::shared_ptr<AnalyserJournal> journal) : m_journal(std::move(journal)) {}
    ~AnalyserDouble() override { m_journal->deleted = true; }

    void InitializeDefaultParameters() override
    {
        InitValueParameterStringDefault(resolution, "", "", "Stereo_resolution", "pixels", "", "19200");
    }

    void InitFromParams() override
    {
        m_journal->calls.push_back("InitFromParams " + std::to_string(resolution()));
        if (m_journal->fail_init)
            throw exc::KIVException("AnalyserInit_091226_090100", "bad scene");
    }
    void SetTiltAngle(double tilt_angle) override
    {
        const bool loaded = resolution.GetState() >= ParamsLib::ParameterState::kDefaultLoaded;
        m_journal->calls.push_back("SetTiltAngle " + std::to_string(tilt_angle) + (loaded ? " loaded" : ""));
    }
    void ReinitCountingLines() override {}
    void ProcessStereoPair(const cv::Mat& left, const cv::Mat& right, bool debug, long long time) override
    {
        m_journal->left = left;
        m_journal->right = right;
        m_journal->debug = debug;
        m_journal->time = time;
    }
    const std::vector<std::string>& GetDebugBitmapList() override { return m_journal->bitmap_names; }
    cv::Mat* GetDebugBitmap(const std::string& name) override
    {
        const auto found = m_journal->bitmaps.find(name);
        return found == m_journal->bitmaps.end() ? nullptr : &found->second;
    }
    void GetObjects(std::vector<stereo::StereoCountingObjData>& objects) const override
    {
        objects = m_journal->objects;
    }
    void GetDisparityMapLeft(cv::Mat&) override {}
    void GetDisparityMapRight(cv::Mat&) override {}
    void GetHeightMapLeft(cv::Mat&) override {}
    void GetHeightMapRight(cv::Mat&) override {}
    void GetDepthMapLeft(cv::Mat&) override {}
    void GetDepthMapRight(cv::Mat&) override {}
    int GenerateNextObjectID() override { return 1; }

    ParamsLib::IntValueParam<> resolution;

private:
    std::shared_ptr<AnalyserJournal> m_journal;
};

using CounterPtr = std::unique_ptr<PeopleCounterStereo, AlgoLibrary::ReleaseDeleter>;

class PeopleCounterStereoTest : public ::testing::Test {
protected:
    CounterPtr Make(const std::string& ini_text = "[StereoPeopleCounter]\nStereo_resolution=4800\n", double tilt = 0.25)
    {
        const std::string ini = m_dir.Write("algo.ini", ini_text);
        auto journal = m_journal;
        CounterPtr counter(
            new PeopleCounterStereo(ini, m_log, tilt, [journal] { return new AnalyserDouble(journal); }));
        counter->InitImage(kiv::VideoFormat{kWidth, kHeight, 1, kWidth, 0, 1});
        return counter;
    }

    AlgoTimePoint At(long long nanoseconds_since_1970) const
    {
        return AlgoTimePoint(boost::chrono::nanoseconds(nanoseconds_since_1970));
    }

    static constexpr int kWidth = 16;
    static constexpr int kHeight = 10;
    TempIniDir m_dir;
    std::shared_ptr<RecordingLog> m_log = std::make_shared<RecordingLog>();
    std::shared_ptr<AnalyserJournal> m_journal = std::make_shared<AnalyserJournal>();
};

TEST_F(PeopleCounterStereoTest, ConstructionSetsTheTiltThenLoadsParametersThenInitialisesTheAnalyser)
{
    CounterPtr counter = Make();
    EXPECT_EQ(m_journal->calls, (std::vector<std::string>{"SetTiltAngle 0.250000", "InitFromParams 4800"}));
    // The profile names the analyser block "StereoPeopleCounter".
    bool profile_names_it = false;
    for (const auto& line : m_log->lines)
        profile_names_it |= line.text.find("StereoPeopleCounter") != std::string::npos;
    EXPECT_TRUE(profile_names_it);
    counter.reset();
    EXPECT_TRUE(m_journal->deleted);
}

TEST_F(PeopleCounterStereoTest, ConstructionFailuresLeaveTheConstructor)
{
    const std::string ini = m_dir.Write("algo.ini", "");
    EXPECT_THROW(CounterPtr(new PeopleCounterStereo(ini, m_log, 0.0, [] { return nullptr; })), std::logic_error);
    m_journal->fail_init = true;
    auto journal = m_journal;
    EXPECT_THROW(
        CounterPtr(new PeopleCounterStereo(ini, m_log, 0.0, [journal] { return new AnalyserDouble(journal); })),
        exc::KIVException);
    EXPECT_TRUE(m_journal->deleted);
    EXPECT_THROW(CounterPtr(new PeopleCounterStereo(m_dir.PathOf("missing.ini"), m_log, 0.0,
                                                    [journal] { return new AnalyserDouble(journal); })),
                 std::exception);
}

TEST_F(PeopleCounterStereoTest, FactoryBuildsTheAnalyserOnlyOnAReadCalibrationOrReportsItsRefusal)
{
    scene::Scene s;
    s.rig.width = 144;
    s.rig.height = 108;
    const std::string calibration = scene::AlgoIni(s);
    std::string without_base = calibration;
    without_base.erase(without_base.find("base_vect="),
                       without_base.find('\n', without_base.find("base_vect=")) - without_base.find("base_vect=") + 1);
    const struct {
        const char* name;
        std::string text;
        const char* refusal;  // null: the counter is built
    } cases[] = {
        {"calibration", calibration, nullptr},
        {"empty file", "",
         "section [StereoPeopleCounter--3DReconstructor] lacks camera_matrix_l, camera_matrix_r, dist_coeff_l, "
         "dist_coeff_r, rotate_matrix_l_r, base_vect, initial_width, initial_height, h_camera_mount_param "},
        {"no reconstructor section", "[StereoPeopleCounter]\nStereo_resolution=14000\n",
         "section [StereoPeopleCounter--3DReconstructor] lacks camera_matrix_l,"},
        {"one key missing", without_base, "section [StereoPeopleCounter--3DReconstructor] lacks base_vect "},
        {"unusable value", calibration + "[StereoPeopleCounter]\nStereo_resolution=0\n",
         "StereoPeopleCounter_Stereo_resolution = 0"},
    };
    for (const auto& c : cases) {
        m_log->lines.clear();
        IUniversalPeopleCounter* counter =
            IUniversalPeopleCounter::CreateInstance<kCounterStereo>(m_dir.Write("algo.ini", c.text), m_log, 0.0);
        if (!c.refusal) {
            EXPECT_NE(counter, nullptr) << c.name;
            if (counter)
                counter->Release();
            continue;
        }
        EXPECT_EQ(counter, nullptr) << c.name;
        ASSERT_FALSE(m_log->lines.empty()) << c.name;
        EXPECT_EQ(m_log->lines.back().level, kKivLogError) << c.name;
        EXPECT_NE(m_log->lines.back().text.find(c.refusal), std::string::npos)
            << c.name << ": " << m_log->lines.back().text;
    }
}

TEST_F(PeopleCounterStereoTest, FrameTimeBecomesTicksSince1601)
{
    struct Case {
        long long since_1998_ns;
        long long ticks;
    };
    const std::vector<Case> cases = {
        {0, 125280864000000000LL},
        {250, 125280864000000002LL},
        {-250, 125280863999999998LL},
        {-99, 125280864000000000LL},
        {86400LL * 1000000000LL, 125280864000000000LL + 864000000000LL},
    };
    CounterPtr counter = Make();
    const cv::Mat frame(kHeight, 2 * kWidth, CV_8UC1, cv::Scalar(0));
    for (const Case& c : cases) {
        SCOPED_TRACE(c.since_1998_ns);
        EXPECT_EQ(PeopleCounterStereo::TicksSince1601(At(k1998Ns + c.since_1998_ns)), c.ticks);
        counter->ProcessImage(frame, At(k1998Ns + c.since_1998_ns), true);
        EXPECT_EQ(m_journal->time, c.ticks);
    }
    EXPECT_THROW(PeopleCounterStereo::TicksSince1601(At(LLONG_MIN)), exc::KIVException);
}

TEST_F(PeopleCounterStereoTest, HalfFrameViewsShareTheFrameDataAndCarryTheDebugFlag)
{
    CounterPtr counter = Make();
    cv::Mat frame(kHeight + 2, 2 * kWidth + 3, CV_8UC1);
    cv::randu(frame, 0, 256);
    for (bool debug : {true, false}) {
        counter->ProcessImage(frame, At(k1998Ns), debug);
        EXPECT_EQ(m_journal->debug, debug);
        EXPECT_EQ(m_journal->left.size(), cv::Size(kWidth, kHeight));
        EXPECT_EQ(m_journal->right.size(), cv::Size(kWidth, kHeight));
        EXPECT_EQ(m_journal->left.data, frame.data);
        EXPECT_EQ(m_journal->right.data, frame.data + kWidth);
        EXPECT_EQ(m_journal->left.step, frame.step);
    }
    counter->ProcessImage(frame, At(k1998Ns));
    EXPECT_FALSE(m_journal->debug);

    const std::vector<cv::Mat> too_small = {cv::Mat(kHeight, 2 * kWidth - 1, CV_8UC1),
                                            cv::Mat(kHeight - 1, 2 * kWidth, CV_8UC1), cv::Mat()};
    for (const cv::Mat& bad : too_small)
        EXPECT_THROW(counter->ProcessImage(bad, At(k1998Ns), false), exc::KIVException);
}

TEST_F(PeopleCounterStereoTest, AnalyserObjectsBecomeAlarmsAtTheFrameTime)
{
    CounterPtr counter = Make();
    stereo::StereoCountingObjData object{};
    object.object_id = 7;
    object.in_flag = true;
    object.crossed_lines_count = 1;
    object.crossed_lines[0] = 3;
    object.height = 172;
    m_journal->objects = {object};
    const cv::Mat frame(kHeight, 2 * kWidth, CV_8UC1, cv::Scalar(0));
    counter->ProcessImage(frame, At(k1998Ns + 5000), false);

    AlgoLibrary::MemManager::MemoryManagerAllocate memory;
    AlarmVector alarms{AlarmVector::allocator_type(memory)};
    counter->GetAlarms(alarms);
    ASSERT_EQ(alarms.size(), 1u);
    EXPECT_EQ(alarms[0].object_id, 7);
    EXPECT_EQ(alarms[0].type, kIncoming);
    EXPECT_EQ(alarms[0].object_height, 172);
    EXPECT_EQ(alarms[0].time, At(k1998Ns + 5000));
    EXPECT_EQ(alarms[0].crossed_lines[0], 3);
}

TEST_F(PeopleCounterStereoTest, DebugImagesAreDeepCopiesOfTheFirstThreePictures)
{
    CounterPtr counter = Make();
    EXPECT_TRUE(counter->GetDebugImages().empty());

    m_journal->bitmap_names = {"a", "b", "c", "d", "e"};
    for (int i = 0; i < 5; ++i) m_journal->bitmaps[m_journal->bitmap_names[i]] = cv::Mat(4, 6, CV_8UC3, cv::Scalar(i));
    const std::vector<cv::Mat> images = counter->GetDebugImages();
    ASSERT_EQ(images.size(), 3u);
    for (int i = 0; i < 3; ++i) {
        const cv::Mat& original = m_journal->bitmaps[m_journal->bitmap_names[i]];
        EXPECT_NE(images[i].data, original.data);
        EXPECT_EQ(cv::norm(images[i], original, cv::NORM_INF), 0.0);
    }

    // A missing or empty picture raises the identifier alone.
    const auto error_of_debug_images = [&] {
        try {
            counter->GetDebugImages();
        } catch (const exc::KIVException& error) {
            return std::string(error.what());
        }
        return std::string("no exception");
    };
    const std::string missing_picture = "KIV error: StereoFrontDebugImage_091226_083004.";
    auto& bitmaps = m_journal->bitmaps;
    bitmaps.erase("b");
    EXPECT_EQ(error_of_debug_images(), missing_picture) << "a missing picture";
    bitmaps["b"] = cv::Mat(2, 2, CV_8UC1);
    bitmaps["c"] = cv::Mat();
    EXPECT_EQ(error_of_debug_images(), missing_picture) << "an empty picture";
    // A missing picture past the third is never asked for.
    bitmaps["c"] = cv::Mat(2, 2, CV_8UC1);
    bitmaps.erase("e");
    EXPECT_EQ(counter->GetDebugImages().size(), 3u);
}

}  // namespace
