#include "application/devices/inclinometer.h"

#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "application/devices/scripted_hid_api.h"
#include "application/runtime/thread_manager.h"
#include "support/log_capture.h"
#include "support/polling.h"

namespace {

class InclinometerTest : public ::testing::Test {
protected:
    InclinometerTest()
    {
        m_api->AddDevice({0x0483, 0x5711});
        m_manager.m_exception_callback = [this](std::shared_ptr<BaseThread>, const std::exception* error) {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_failure = error ? error->what() : "unknown exception";
        };
    }

    void Start(std::shared_ptr<IHidApi> api)
    {
        auto inclinometer = std::make_shared<Inclinometer>("inclinometer", api, m_manager);
        inclinometer->DoOnAngleChange([this](double angle) {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_angles.push_back(angle);
        });
        m_manager.AddThread(inclinometer);
    }

    void QueueAxes(std::int16_t x, std::int16_t z, int times = 1)
    {
        for (int i = 0; i < times; ++i) m_api->Queue({ScriptedHidApi::AxesReport(x, z)});
    }

    // The angles signalled once the device has served `reads` readings.
    std::vector<double> AnglesAfter(int reads)
    {
        EXPECT_TRUE(m_api->WaitForReads(reads));
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_angles;
    }

    // The failure that ended the thread, waiting for it at most a few seconds.
    std::string Failure()
    {
        auto failure = [this] {
            std::lock_guard<std::mutex> lock(m_mutex);
            return m_failure;
        };
        testing_support::WaitUntil([&] { return !failure().empty(); });
        return failure();
    }

    testing_support::LogCapture m_log;
    std::shared_ptr<ScriptedHidApi> m_api = std::make_shared<ScriptedHidApi>();
    std::mutex m_mutex;
    std::vector<double> m_angles;
    std::string m_failure;
    ThreadManager m_manager;
};

TEST_F(InclinometerTest, SignalsTheFirstAngleAndThenOnlySteadyChangesOfMoreThanTwoDegrees)
{
    QueueAxes(0, 1000);
    QueueAxes(33, 1000, 6);  // 1.9 degrees: not enough
    QueueAxes(176, 1000);    // 10 degrees
    m_api->RepeatLastReport();
    Start(m_api);

    const auto angles = AnglesAfter(20);
    ASSERT_EQ(angles.size(), 2u);
    EXPECT_DOUBLE_EQ(angles[0], 0.0);
    EXPECT_DOUBLE_EQ(angles[1], std::atan(0.176));
    EXPECT_TRUE(m_log.Contains("[inclinometer] Tilt angle changed!"));
}

TEST_F(InclinometerTest, SignalsNothingWhileShakingAndResumesOnceSteady)
{
    QueueAxes(0, 1000);
    for (int i = 0; i < 8; ++i) {
        QueueAxes(500, 1000);
        QueueAxes(0, 1000);
    }
    QueueAxes(500, 1000);
    m_api->RepeatLastReport();
    Start(m_api);

    EXPECT_EQ(AnglesAfter(17).size(), 1u);
    EXPECT_TRUE(m_log.Contains("[inclinometer] The device is now shaky."));
    const auto angles = AnglesAfter(23);
    ASSERT_EQ(angles.size(), 2u);
    EXPECT_DOUBLE_EQ(angles[1], std::atan(0.5));
    EXPECT_TRUE(m_log.Contains("[inclinometer] The device is no longer shaky."));
}

TEST_F(InclinometerTest, RejectsReadingsWithoutADefinedAngle)
{
    QueueAxes(0, 0);
    QueueAxes(100, 1000, 3);
    QueueAxes(0, 0, 3);
    QueueAxes(100, 1000);
    m_api->RepeatLastReport();
    Start(m_api);

    EXPECT_EQ(AnglesAfter(12), (std::vector<double>{std::atan(0.1)}));
    EXPECT_EQ(m_log.Count("[inclinometer, warning] Inclinometer reading ignored: x and z axes are both 0."), 2);
}

TEST_F(InclinometerTest, DeviceFailuresEndTheThread)
{
    Start(std::make_shared<ScriptedHidApi>());
    EXPECT_EQ(Failure(), "HID Device error: Cannot open HID device");
}

}  // namespace
