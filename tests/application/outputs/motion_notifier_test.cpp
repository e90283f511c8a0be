#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <string>
#include <thread>
#include <vector>

#include "application/outputs/motion_notifier_thread.h"
#include "application/outputs/multicast_group_receiver.h"
#include "application/runtime/thread_manager.h"
#include "support/log_capture.h"

namespace {

using std::chrono::milliseconds;

std::int64_t WallClockMilliseconds()
{
    return std::chrono::duration_cast<milliseconds>(std::chrono::system_clock::now().time_since_epoch()).count();
}

std::int64_t TimeOf(const std::vector<unsigned char>& datagram)
{
    std::uint64_t time = 0;
    for (int i = 7; i >= 0; --i) time = (time << 8) | datagram[8 + i];
    return static_cast<std::int64_t>(time);
}

TEST(MotionNotifierTest, SendsAtMostOneMotionDatagramASecondAndNoneAfterTerminate)
{
    MulticastGroupReceiver receiver;
    SKIP_WITHOUT_LOOPBACK_MULTICAST(receiver);
    testing_support::LogCapture log;
    ThreadManager manager;
    const std::int64_t built = WallClockMilliseconds();
    auto notifier = manager.CreateThread<MotionNotifierThread>("motion", receiver.Port());

    std::vector<std::vector<unsigned char>> datagrams;
    std::chrono::steady_clock::time_point last_arrival;
    const auto motion_until = std::chrono::steady_clock::now() + milliseconds(1500);
    while (std::chrono::steady_clock::now() < motion_until) {
        notifier->MotionDetected();
        if (auto datagram = receiver.Receive(milliseconds(20))) {
            datagrams.push_back(*datagram);
            last_arrival = std::chrono::steady_clock::now();
        }
    }
    while (auto datagram = receiver.Receive(milliseconds(100))) {
        datagrams.push_back(*datagram);
        last_arrival = std::chrono::steady_clock::now();
    }

    ASSERT_FALSE(datagrams.empty());
    const std::string text = "{\t\"type\": \"motion\"}";
    std::int64_t previous = built;
    for (const auto& datagram : datagrams) {
        ASSERT_EQ(datagram.size(), 35u);
        EXPECT_EQ(std::vector<unsigned char>(datagram.begin(), datagram.begin() + 8),
                  (std::vector<unsigned char>{0x04, 0, 0, 0, 0x13, 0, 0, 0}));
        EXPECT_EQ(std::string(datagram.begin() + 16, datagram.end()), text);
        // Not within a second of construction or of the datagram before.
        EXPECT_GE(TimeOf(datagram), previous + 999);
        EXPECT_LE(TimeOf(datagram), WallClockMilliseconds());
        previous = TimeOf(datagram);
    }

    notifier->Terminate(false);
    ASSERT_TRUE(log.WaitFor("[motion] Thread terminated"));
    std::this_thread::sleep_until(last_arrival + milliseconds(1050));
    notifier->MotionDetected();
    EXPECT_FALSE(receiver.Receive(milliseconds(300)).has_value());
}

}  // namespace
