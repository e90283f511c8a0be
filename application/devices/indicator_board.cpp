#include "application/devices/indicator_board.h"

#include <algorithm>
#include <array>
#include <stdexcept>

namespace {

// The board's acknowledgement up to its status byte; a status other than 0 is a refusal.
constexpr std::array<unsigned char, IndicatorBoard::kReplySize - 1> kAcknowledgement = {0x08, 0x9D, 0x11, 0x02,
                                                                                        0x01, 0x4F, 0x4B};

constexpr std::array<unsigned char, 10> kDigitPatterns = {0x3F, 0x06, 0x5B, 0x4F, 0x66, 0x6D, 0x7D, 0x07, 0x7F, 0x6F};

unsigned char RotateRight(unsigned char value, unsigned places)
{
    places %= 8;
    if (places == 0)
        return value;
    return static_cast<unsigned char>((value >> places) | (value << (8 - places)));
}

}  // namespace

IndicatorBoard::IndicatorBoard(const std::string& device, IModemLines& modem_lines, const std::string& tty_class_dir)
    : SerialPort(device, kBaudRate, modem_lines, tty_class_dir)
{
}

void IndicatorBoard::OutputNumber(int number, unsigned selector, unsigned display)
{
    const int value = std::max(number, 0);
    const std::vector<unsigned char> segments = {
        EncodeDigit(static_cast<unsigned char>(value / 1000 % 10)),
        EncodeDigit(static_cast<unsigned char>(value / 100 % 10)),
        EncodeDigit(static_cast<unsigned char>(value / 10 % 10)),
        EncodeDigit(static_cast<unsigned char>(value % 10)),
    };
    OutputData(segments, selector, display);
}

void IndicatorBoard::TurnOff(unsigned selector, unsigned display)
{
    OutputData(std::vector<unsigned char>(4, 0x00), selector, display);
}

void IndicatorBoard::OutputData(const std::vector<unsigned char>& segments, unsigned selector, unsigned display)
{
    std::array<unsigned char, kFrameSize> frame = {
        static_cast<unsigned char>(kFrameSize),
        0x00,
        0x00,
        0x01,
        0x0C,
        0x1D,
        static_cast<unsigned char>(display & 0xFF),
        static_cast<unsigned char>(selector & 0xFF),
        0x00,
        segments.at(0),
        segments.at(1),
        segments.at(2),
        segments.at(3),
    };
    CountCs(frame.data() + 3, kFrameSize - 3, frame[1], frame[2]);
    Write(frame.data(), kFrameSize);

    std::array<unsigned char, kReplySize> reply = {};
    Read(reply.data(), kReplySize);
    if (std::equal(kAcknowledgement.begin(), kAcknowledgement.end(), reply.begin()) && reply.back() != 0x00)
        throw std::runtime_error("Bad response");
}

unsigned char IndicatorBoard::EncodeDigit(unsigned char digit) const
{
    if (digit >= kDigitPatterns.size())
        throw std::runtime_error("Bad digit");
    return kDigitPatterns[digit];
}

void IndicatorBoard::CountCs(const unsigned char* data, unsigned length, unsigned char& first, unsigned char& second)
{
    first = 0;
    second = 0;
    for (unsigned k = 0; k < length; ++k) {
        first = static_cast<unsigned char>(first + data[k]);
        second = static_cast<unsigned char>(second + RotateRight(static_cast<unsigned char>(data[k] ^ 0x5A), k));
    }
}
