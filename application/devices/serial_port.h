#pragma once

#include <string>

#include "application/runtime/unique_fd.h"

// The modem control lines (DTR, RTS, ...) of an open terminal. Stands in for the TIOCMGET and
// TIOCMSET ioctls, which only real serial hardware accepts.
class IModemLines {
public:
    virtual ~IModemLines() = default;
    // Each returns 0 on success, else the errno value of the failure.
    virtual int Get(int fd, int& lines) = 0;
    virtual int Set(int fd, int lines) = 0;
};

// The kernel's modem-line ioctls.
class ModemLines : public IModemLines {
public:
    int Get(int fd, int& lines) override;
    int Set(int fd, int lines) override;

    // A process-wide instance (it has no state).
    static ModemLines& Instance();
};

// A raw serial terminal: 8 data bits, no parity, one stop bit, no flow control, no line
// discipline, DTR and RTS raised, non-blocking with polled reads. Without a device path it
// opens the first USB serial adapter listed by the kernel.
class SerialPort {
public:
    static constexpr const char* kTtyClassDir = "/sys/class/tty";

    // `modem_lines` is borrowed: its owner keeps it alive as long as the port.
    // `tty_class_dir` is where the kernel lists the terminals (sysfs).
    SerialPort(const std::string& port_name, int baud_rate, IModemLines& modem_lines = ModemLines::Instance(),
               const std::string& tty_class_dir = kTtyClassDir);
    SerialPort(const SerialPort&) = delete;
    SerialPort& operator=(const SerialPort&) = delete;

    // (Re)opens and configures the port. On failure nothing stays open.
    void Init();
    // Fills the buffer completely or throws "Serial port read timeout" after about a second.
    void Read(void* buffer, unsigned count);
    // Writes the whole buffer, waiting for room in the output queue as needed.
    void Write(const void* buffer, unsigned count);
    // "/dev/" and the name of the first USB serial port; opens nothing.
    std::string GetFirstPortName() const;

private:
    std::string m_port_name;
    util::UniqueFd m_fd;
    int m_baud_rate;
    IModemLines& m_modem_lines;  // owned by the caller, outlives the port
    std::string m_tty_class_dir;
};
