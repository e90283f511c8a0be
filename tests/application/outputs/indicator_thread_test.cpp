#include "application/outputs/indicator_thread.h"

#include <chrono>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include <sys/ioctl.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "application/runtime/thread_manager.h"
#include "support/board_simulator.h"
#include "support/log_capture.h"
#include "support/service_process.h"

namespace {

using testing_support::BoardSimulator;
using testing_support::Bytes;
using testing_support::FakeModemLines;

Alarm MakeAlarm(AlarmType type, long long object_id)
{
    Alarm alarm;
    alarm.type = type;
    alarm.object_id = object_id;
    return alarm;
}

using testing_support::ShownNumber;

class IndicatorThreadTest : public ::testing::Test {
protected:
    ~IndicatorThreadTest() override { m_manager.Terminate(); }

    std::shared_ptr<IndicatorThread> Start(int incoming, int outgoing, const std::string& device)
    {
        return m_manager.CreateThread<IndicatorThread>(incoming, outgoing, "indicator", device, m_lines,
                                                       std::string(SerialPort::kTtyClassDir));
    }

    // Waits until a whole cycle (displays 0, 1, 2 in this order) that starts at or after frame
    // `first` shows these three numbers.
    bool WaitForCycle(std::size_t first, int incoming, int outgoing, int difference)
    {
        return m_board.WaitForFrames([&](const std::vector<Bytes>& frames) {
            for (std::size_t i = first; i + 2 < frames.size(); ++i)
                if (frames[i][6] == 0 && frames[i + 1][6] == 1 && frames[i + 2][6] == 2 &&
                    ShownNumber(frames[i]) == incoming && ShownNumber(frames[i + 1]) == outgoing &&
                    ShownNumber(frames[i + 2]) == difference)
                    return true;
            return false;
        });
    }

    bool WaitForDisplays(int incoming, int outgoing, int difference)
    {
        return WaitForCycle(0, incoming, outgoing, difference);
    }

    // Only cycles that begin after the frames received so far count.
    bool WaitForNextDisplays(int incoming, int outgoing, int difference)
    {
        return WaitForCycle(m_board.Frames().size(), incoming, outgoing, difference);
    }

    FakeModemLines m_lines;
    BoardSimulator m_board;
    ThreadManager m_manager;
};

TEST_F(IndicatorThreadTest, SendsTotalsAndDifferenceEveryCycle)
{
    Start(3, 8, m_board.SlavePath());
    ASSERT_TRUE(m_board.WaitForFrames([](const std::vector<Bytes>& frames) { return frames.size() >= 6; }));

    const std::vector<Bytes> frames = m_board.Frames();
    const std::vector<Bytes> cycle = {
        {0x0D, 0x36, 0x67, 0x01, 0x0C, 0x1D, 0x00, 0x00, 0x00, 0x3F, 0x3F, 0x3F, 0x4F},
        {0x0D, 0x67, 0x8F, 0x01, 0x0C, 0x1D, 0x01, 0x00, 0x00, 0x3F, 0x3F, 0x3F, 0x7F},
        {0x0D, 0x56, 0x38, 0x01, 0x0C, 0x1D, 0x02, 0x00, 0x00, 0x3F, 0x3F, 0x3F, 0x6D},
    };
    for (std::size_t i = 0; i < 6; ++i) EXPECT_EQ(frames[i], cycle[i % 3]) << "frame " << i;
    EXPECT_EQ(m_lines.m_lines & (TIOCM_DTR | TIOCM_RTS), TIOCM_DTR | TIOCM_RTS);
}

TEST_F(IndicatorThreadTest, CountsEachObjectOnceAndTakesBackMismatchedLeavers)
{
    auto indicator = Start(0, 0, m_board.SlavePath());
    ASSERT_TRUE(WaitForDisplays(0, 0, 0));

    // In and gone with a net of +1: stays counted.
    indicator->ProcessAlarm(MakeAlarm(kIncoming, 7));
    indicator->ProcessAlarm(MakeAlarm(kMovedOut, 7));
    ASSERT_TRUE(WaitForNextDisplays(1, 0, 1));

    // Counted in, then out again: the outgoing total is untouched, and the leaver (net 0) is
    // taken back off the incoming total.
    indicator->ProcessAlarm(MakeAlarm(kIncoming, 8));
    indicator->ProcessAlarm(MakeAlarm(kOutgoing, 8));
    ASSERT_TRUE(WaitForNextDisplays(2, 0, 2));
    indicator->ProcessAlarm(MakeAlarm(kMovedOut, 8));
    ASSERT_TRUE(WaitForNextDisplays(1, 0, 1));

    // Two inward lines (net +2): taken back as well.
    indicator->ProcessAlarm(MakeAlarm(kIncoming, 5));
    indicator->ProcessAlarm(MakeAlarm(kIncoming, 5));
    ASSERT_TRUE(WaitForNextDisplays(2, 0, 2));
    indicator->ProcessAlarm(MakeAlarm(kMovedOut, 5));
    ASSERT_TRUE(WaitForNextDisplays(1, 0, 1));

    // Out, in, out (net -1): counted out once and kept.
    indicator->ProcessAlarm(MakeAlarm(kOutgoing, 9));
    indicator->ProcessAlarm(MakeAlarm(kIncoming, 9));
    indicator->ProcessAlarm(MakeAlarm(kOutgoing, 9));
    indicator->ProcessAlarm(MakeAlarm(kMovedOut, 9));
    // An object that raised nothing before has nothing to take back; unknown types do nothing.
    indicator->ProcessAlarm(MakeAlarm(kMovedOut, 99));
    indicator->ProcessAlarm(MakeAlarm(static_cast<AlarmType>(3), 10));
    ASSERT_TRUE(WaitForNextDisplays(1, 1, 0));

    // Records are dropped at MovedOut: the same id counts afresh.
    indicator->ProcessAlarm(MakeAlarm(kOutgoing, 7));
    ASSERT_TRUE(WaitForNextDisplays(1, 2, 1));
}

TEST_F(IndicatorThreadTest, TotalsAboveLargestNumberWrapAndStayWrapped)
{
    auto indicator = Start(10000, 3, m_board.SlavePath());
    // Wrapped, the difference is |0 - 3|, not |10000 - 3|.
    ASSERT_TRUE(WaitForDisplays(0, 3, 3));
    indicator->ProcessAlarm(MakeAlarm(kIncoming, 1));
    ASSERT_TRUE(WaitForNextDisplays(1, 3, 2));
}

TEST_F(IndicatorThreadTest, LargestNumberIsNotWrapped)
{
    Start(9999, 12345, m_board.SlavePath());
    ASSERT_TRUE(WaitForDisplays(9999, 2345, 7654));
}

TEST_F(IndicatorThreadTest, ReportsLossAndReturnOfBoardOnce)
{
    testing_support::LogCapture log;
    testing_support::TempDir dir;
    const std::string device = dir.Path("board");
    Start(3, 8, device);

    ASSERT_TRUE(log.WaitFor("[indicator] Indicator board is now disconnected!"));
    // A few more failing cycles report nothing further.
    std::this_thread::sleep_for(std::chrono::milliseconds(1200));
    ASSERT_EQ(symlink(m_board.SlavePath().c_str(), device.c_str()), 0);
    ASSERT_TRUE(log.WaitFor("[indicator] Indicator board is now connected."));
    ASSERT_TRUE(WaitForNextDisplays(3, 8, 5));
    ASSERT_TRUE(WaitForNextDisplays(3, 8, 5));

    EXPECT_EQ(log.Count("[indicator] Indicator board is now disconnected!"), 1);
    EXPECT_EQ(log.Count("[indicator] Exception: Unable to open serial port " + device), 1);
    EXPECT_EQ(log.Count("[indicator] Indicator board is now connected."), 1);
    m_manager.Terminate();  // before the log capture goes
}

}  // namespace
