#pragma once

#include <string>
#include <vector>

#include "application/devices/serial_port.h"

// The serial counter board: several four-digit seven-segment displays, one 13-byte frame per
// display update, each answered with an 8-byte reply. Talks at 2400 baud.
class IndicatorBoard : public SerialPort {
public:
    static constexpr int kBaudRate = 2400;
    static constexpr unsigned kFrameSize = 13;
    static constexpr unsigned kReplySize = 8;

    // An empty device path means the first USB serial port.
    explicit IndicatorBoard(const std::string& device, IModemLines& modem_lines = ModemLines::Instance(),
                            const std::string& tty_class_dir = kTtyClassDir);

    // Shows the last four decimal places of the number (a negative one as 0), leading zeros included.
    void OutputNumber(int number, unsigned selector, unsigned display);
    // Darkens the four digits of a display.
    void TurnOff(unsigned selector, unsigned display);
    // Sends the first four segment bytes to a display and checks the board's reply.
    void OutputData(const std::vector<unsigned char>& segments, unsigned selector, unsigned display);

    unsigned char EncodeDigit(unsigned char digit) const;
    int GetMaxNumber() const { return 9999; }

    // Byte-sum and rotating checksums of `length` bytes.
    static void CountCs(const unsigned char* data, unsigned length, unsigned char& first, unsigned char& second);
};
