#include "application/devices/indicator_board.h"

#include <stdexcept>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "support/board_simulator.h"

namespace {

using testing_support::BoardSimulator;
using testing_support::Bytes;
using testing_support::FakeModemLines;

class IndicatorBoardTest : public ::testing::Test {
protected:
    // The frames the board received, waiting (bounded) until `count` are there.
    std::vector<Bytes> FramesAfter(std::size_t count)
    {
        m_simulator.WaitForFrames([&](const std::vector<Bytes>& frames) { return frames.size() >= count; });
        return m_simulator.Frames();
    }

    std::string ErrorOfNumber(int number)
    {
        try {
            IndicatorBoard board(m_simulator.SlavePath(), m_lines);
            board.OutputNumber(number, 0, 0);
        } catch (const std::runtime_error& error) {
            return error.what();
        }
        return std::string();
    }

    FakeModemLines m_lines;
    BoardSimulator m_simulator;
};

TEST_F(IndicatorBoardTest, SendsByteExactFrames)
{
    IndicatorBoard board(m_simulator.SlavePath(), m_lines);
    board.OutputNumber(1234, 0, 0);
    board.OutputNumber(57, 0, 1);
    board.OutputNumber(0, 0, 2);
    board.TurnOff(0, 0);
    board.OutputData({0x01, 0x02, 0x03, 0x04, 0x05}, 0x1A7, 0x103);

    const std::vector<Bytes> frames = FramesAfter(5);
    ASSERT_EQ(frames.size(), 5u);
    EXPECT_EQ(frames[0], (Bytes{0x0D, 0x40, 0xBF, 0x01, 0x0C, 0x1D, 0x00, 0x00, 0x00, 0x06, 0x5B, 0x4F, 0x66}));
    EXPECT_EQ(frames[1], (Bytes{0x0D, 0x1D, 0x7D, 0x01, 0x0C, 0x1D, 0x01, 0x00, 0x00, 0x3F, 0x3F, 0x6D, 0x07}));
    EXPECT_EQ(frames[2], (Bytes{0x0D, 0x28, 0x4F, 0x01, 0x0C, 0x1D, 0x02, 0x00, 0x00, 0x3F, 0x3F, 0x3F, 0x3F}));
    EXPECT_EQ(frames[3], (Bytes{0x0D, 0x2A, 0xBD, 0x01, 0x0C, 0x1D, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00}));
    // Only the low bytes of display and selector, and only the first four segment bytes, are sent.
    EXPECT_EQ(Bytes(frames[4].begin() + 6, frames[4].end()), (Bytes{0x03, 0xA7, 0x00, 0x01, 0x02, 0x03, 0x04}));
}

TEST_F(IndicatorBoardTest, ShowsLastFourDecimalPlacesOfNonNegativeNumbers)
{
    IndicatorBoard board(m_simulator.SlavePath(), m_lines);
    board.OutputNumber(-5, 0, 0);
    board.OutputNumber(10000, 0, 0);
    board.OutputNumber(12345, 0, 0);
    board.OutputNumber(9876, 0, 0);

    const std::vector<Bytes> frames = FramesAfter(4);
    ASSERT_EQ(frames.size(), 4u);
    const auto digits = [](const Bytes& frame) { return Bytes(frame.begin() + 9, frame.end()); };
    EXPECT_EQ(digits(frames[0]), (Bytes{0x3F, 0x3F, 0x3F, 0x3F}));
    EXPECT_EQ(digits(frames[1]), (Bytes{0x3F, 0x3F, 0x3F, 0x3F}));
    EXPECT_EQ(digits(frames[2]), (Bytes{0x5B, 0x4F, 0x66, 0x6D}));
    EXPECT_EQ(digits(frames[3]), (Bytes{0x6F, 0x7F, 0x07, 0x7D}));
}

TEST_F(IndicatorBoardTest, RefusedAcknowledgementIsBadResponse)
{
    m_simulator.SetReply({0x08, 0x9D, 0x11, 0x02, 0x01, 0x4F, 0x4B, 0x01});
    EXPECT_EQ(ErrorOfNumber(1), "Bad response");

    // Any other eight bytes are taken as they come.
    m_simulator.SetReply({0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00});
    EXPECT_EQ(ErrorOfNumber(2), "");
}

TEST_F(IndicatorBoardTest, MissingOrShortReplyTimesOut)
{
    m_simulator.SetReply({});
    EXPECT_EQ(ErrorOfNumber(1), "Serial port read timeout");
    m_simulator.SetReply({0x08, 0x9D, 0x11, 0x02, 0x01, 0x4F, 0x4B});
    EXPECT_EQ(ErrorOfNumber(2), "Serial port read timeout");
}

TEST_F(IndicatorBoardTest, DigitAboveNineIsRefused)
{
    IndicatorBoard board(m_simulator.SlavePath(), m_lines);
    try {
        board.EncodeDigit(10);
        ADD_FAILURE() << "10 was encoded";
    } catch (const std::runtime_error& error) {
        EXPECT_STREQ(error.what(), "Bad digit");
    }
}

}  // namespace
