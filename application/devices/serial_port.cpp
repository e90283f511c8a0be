#include "application/devices/serial_port.h"

#include <cerrno>
#include <chrono>
#include <cstring>
#include <memory>
#include <stdexcept>

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

namespace {

// Reads are polled this often, this many times, before the reply is given up.
constexpr useconds_t kReadPollMicroseconds = 10000;
constexpr int kReadAttempts = 101;
// How long a write waits for room in a full output queue before it gives up.
constexpr auto kWriteTimeout = std::chrono::milliseconds(1010);

std::string ErrnoText(int error)
{
    return std::strerror(error);
}

speed_t SpeedConstant(int baud_rate)
{
    switch (baud_rate) {
        case 50:
            return B50;
        case 75:
            return B75;
        case 110:
            return B110;
        case 134:
            return B134;
        case 150:
            return B150;
        case 200:
            return B200;
        case 300:
            return B300;
        case 600:
            return B600;
        case 1200:
            return B1200;
        case 1800:
            return B1800;
        case 2400:
            return B2400;
        case 4800:
            return B4800;
        case 9600:
            return B9600;
        case 19200:
            return B19200;
        case 38400:
            return B38400;
        case 57600:
            return B57600;
        case 115200:
            return B115200;
        case 230400:
            return B230400;
        case 460800:
            return B460800;
        case 500000:
            return B500000;
        case 576000:
            return B576000;
        case 921600:
            return B921600;
        case 1000000:
            return B1000000;
        default:
            throw std::runtime_error("Bad baud rate");
    }
}

struct DirCloser {
    void operator()(DIR* dir) const { closedir(dir); }
};

}  // namespace

int ModemLines::Get(int fd, int& lines)
{
    return ioctl(fd, TIOCMGET, &lines) == -1 ? errno : 0;
}

int ModemLines::Set(int fd, int lines)
{
    return ioctl(fd, TIOCMSET, &lines) == -1 ? errno : 0;
}

ModemLines& ModemLines::Instance()
{
    static ModemLines instance;
    return instance;
}

SerialPort::SerialPort(const std::string& port_name, int baud_rate, IModemLines& modem_lines,
                       const std::string& tty_class_dir)
    : m_port_name(port_name), m_baud_rate(baud_rate), m_modem_lines(modem_lines), m_tty_class_dir(tty_class_dir)
{
    Init();
}

void SerialPort::Init()
{
    m_fd.reset();

    const std::string path = m_port_name.empty() ? GetFirstPortName() : m_port_name;
    // Held locally until configured, so that a failing step closes it again.
    util::UniqueFd fd(::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC));
    if (!fd.isValid())
        throw std::runtime_error("Unable to open serial port " + path);

    termios settings;
    std::memset(&settings, 0, sizeof(settings));
    if (tcgetattr(fd.get(), &settings) != 0)
        throw std::runtime_error("tcgetattr: " + ErrnoText(errno));

    const speed_t speed = SpeedConstant(m_baud_rate);
    settings.c_iflag = IGNPAR;
    settings.c_oflag = 0;
    settings.c_cflag = speed | CS8 | CREAD | CLOCAL;
    settings.c_lflag = 0;
    settings.c_cc[VMIN] = 0;
    settings.c_cc[VTIME] = 0;
    if (tcsetattr(fd.get(), TCSANOW, &settings) != 0)
        throw std::runtime_error("tcsetattr: " + ErrnoText(errno));

    int lines = 0;
    if (const int error = m_modem_lines.Get(fd.get(), lines))
        throw std::runtime_error("unable to get portstatus: " + ErrnoText(error));
    lines |= TIOCM_DTR | TIOCM_RTS;
    if (const int error = m_modem_lines.Set(fd.get(), lines))
        throw std::runtime_error("unable to set portstatus: " + ErrnoText(error));

    tcflush(fd.get(), TCIOFLUSH);
    m_fd = std::move(fd);
}

void SerialPort::Read(void* buffer, unsigned count)
{
    if (count == 0)
        return;
    auto* bytes = static_cast<unsigned char*>(buffer);
    unsigned received = 0;
    for (int attempt = 0; attempt < kReadAttempts; ++attempt) {
        const ssize_t n = ::read(m_fd.get(), bytes + received, count - received);
        if (n > 0)
            received += static_cast<unsigned>(n);
        else if (n < 0 && errno != EAGAIN && errno != EINTR)
            throw std::runtime_error("Serial port read: " + ErrnoText(errno));
        // Also after the last byte: the board gets this pause to turn its line around before
        // the next frame.
        usleep(kReadPollMicroseconds);
        if (received == count)
            return;
    }
    throw std::runtime_error("Serial port read timeout");
}

void SerialPort::Write(const void* buffer, unsigned count)
{
    const auto* bytes = static_cast<const unsigned char*>(buffer);
    unsigned written = 0;
    auto deadline = std::chrono::steady_clock::now() + kWriteTimeout;
    while (written < count) {
        const ssize_t n = ::write(m_fd.get(), bytes + written, count - written);
        if (n > 0) {
            written += static_cast<unsigned>(n);
            deadline = std::chrono::steady_clock::now() + kWriteTimeout;
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && errno != EAGAIN)
            throw std::runtime_error("Serial port write: " + ErrnoText(errno));

        // The output queue is full: wait for room.
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0)
            throw std::runtime_error("Serial port write timeout");
        pollfd request{m_fd.get(), POLLOUT, 0};
        if (::poll(&request, 1, static_cast<int>(left.count())) < 0 && errno != EINTR)
            throw std::runtime_error("Serial port write: " + ErrnoText(errno));
    }
}

std::string SerialPort::GetFirstPortName() const
{
    std::unique_ptr<DIR, DirCloser> dir(opendir(m_tty_class_dir.c_str()));
    if (!dir)
        throw std::runtime_error("No usb serial ports found!");

    while (const dirent* entry = readdir(dir.get())) {
        const std::string name = entry->d_name;
        if (name.empty() || name[0] == '.')
            continue;
        const std::string link = m_tty_class_dir + "/" + name + "/device/driver";
        char target[1024] = {};
        const ssize_t length = readlink(link.c_str(), target, sizeof(target) - 1);
        if (length < 0)
            continue;
        target[length] = '\0';
        if (std::strstr(target, "usb-serial") != nullptr)
            return "/dev/" + name;
    }
    throw std::runtime_error("No usb serial ports found!");
}
