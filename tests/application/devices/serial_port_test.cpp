#include "application/devices/serial_port.h"

#include <stdexcept>
#include <string>
#include <vector>

#include <dirent.h>
#include <fcntl.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <boost/filesystem.hpp>

#include <gtest/gtest.h>

#include "application/runtime/unique_fd.h"
#include "support/board_simulator.h"
#include "support/service_process.h"

namespace {

namespace fs = boost::filesystem;
using testing_support::BoardSimulator;
using testing_support::Bytes;
using testing_support::FakeModemLines;

// The message of the std::runtime_error that `action` throws; empty when it throws none.
template <typename Action>
std::string ErrorOf(Action action)
{
    try {
        action();
    } catch (const std::runtime_error& error) {
        return error.what();
    }
    return std::string();
}

int OpenDescriptorCount()
{
    int count = 0;
    if (DIR* dir = opendir("/proc/self/fd")) {
        while (readdir(dir)) ++count;
        closedir(dir);
    }
    return count;
}

// A sysfs-like listing of terminals: each entry's device/driver link names its driver.
class TtyClassTree {
public:
    void Add(const std::string& name, const std::string& driver_target)
    {
        const fs::path device = fs::path(Root()) / name / "device";
        fs::create_directories(device);
        if (!driver_target.empty())
            fs::create_symlink(driver_target, device / "driver");
    }
    std::string Root() const { return m_dir.Path("tty"); }

private:
    testing_support::TempDir m_dir;
};

TEST(SerialPortTest, FirstPortIsTheOneBehindUsbSerialDriver)
{
    FakeModemLines lines;
    TtyClassTree tree;
    tree.Add("console", "");
    tree.Add("ttyS0", "../../../bus/platform/drivers/serial8250");
    tree.Add(".ttyUSB9", "../../../../bus/usb-serial/drivers/ftdi_sio");
    tree.Add("ttyUSB3", "../../../../bus/usb-serial/drivers/ftdi_sio");
    tree.Add("ttyAMA0", "../../../bus/amba/drivers/uart-pl011");

    const BoardSimulator board;
    SerialPort port(board.SlavePath(), 2400, lines, tree.Root());
    EXPECT_EQ(port.GetFirstPortName(), "/dev/ttyUSB3");

    // Without a device path the port opens that one (which does not exist here).
    EXPECT_EQ(ErrorOf([&] { SerialPort("", 2400, lines, tree.Root()); }), "Unable to open serial port /dev/ttyUSB3");
}

TEST(SerialPortTest, NoUsbSerialPortIsAnError)
{
    FakeModemLines lines;
    TtyClassTree tree;
    tree.Add("ttyS0", "../../../bus/platform/drivers/serial8250");
    tree.Add("console", "");
    EXPECT_EQ(ErrorOf([&] { SerialPort("", 2400, lines, tree.Root()); }), "No usb serial ports found!");
    EXPECT_EQ(ErrorOf([&] { SerialPort("", 2400, lines, tree.Root() + "/missing"); }), "No usb serial ports found!");
}

TEST(SerialPortTest, ConfiguresRawLineAndRaisesDtrAndRts)
{
    FakeModemLines lines;
    lines.m_lines = TIOCM_CTS;
    const BoardSimulator board;
    SerialPort port(board.SlavePath(), 2400, lines);

    util::UniqueFd probe(open(board.SlavePath().c_str(), O_RDWR | O_NOCTTY));
    termios settings{};
    ASSERT_EQ(tcgetattr(probe.get(), &settings), 0);
    EXPECT_EQ(settings.c_cflag & (CBAUD | CSIZE | CREAD | CLOCAL | PARENB | CSTOPB | CRTSCTS),
              static_cast<tcflag_t>(B2400 | CS8 | CREAD | CLOCAL));
    EXPECT_EQ(settings.c_iflag, static_cast<tcflag_t>(IGNPAR));
    EXPECT_EQ(settings.c_oflag, 0u);
    EXPECT_EQ(settings.c_lflag, 0u);
    EXPECT_EQ(settings.c_cc[VMIN], 0);
    EXPECT_EQ(settings.c_cc[VTIME], 0);
    EXPECT_EQ(lines.m_lines, TIOCM_CTS | TIOCM_DTR | TIOCM_RTS);
}

TEST(SerialPortTest, FailedInitReportsErrorAndClosesDescriptor)
{
    const BoardSimulator board;
    const int before = OpenDescriptorCount();

    FakeModemLines lines;
    EXPECT_EQ(ErrorOf([&] { SerialPort(board.SlavePath(), 14400, lines); }), "Bad baud rate");
    EXPECT_EQ(ErrorOf([&] { SerialPort(board.SlavePath(), 0, lines); }), "Bad baud rate");
    lines.m_get_error = ENOTTY;
    EXPECT_EQ(ErrorOf([&] { SerialPort(board.SlavePath(), 2400, lines); }),
              "unable to get portstatus: " + std::string(strerror(ENOTTY)));
    lines.m_get_error = 0;
    lines.m_set_error = EINVAL;
    EXPECT_EQ(ErrorOf([&] { SerialPort(board.SlavePath(), 2400, lines); }),
              "unable to set portstatus: " + std::string(strerror(EINVAL)));
    EXPECT_EQ(ErrorOf([&] { SerialPort("/nonexistent/ttyUSB0", 2400, lines); }),
              "Unable to open serial port /nonexistent/ttyUSB0");

    EXPECT_EQ(OpenDescriptorCount(), before);
}

TEST(SerialPortTest, ReadCollectsPiecesUntilBufferIsFull)
{
    FakeModemLines lines;
    BoardSimulator board;
    SerialPort port(board.SlavePath(), 2400, lines);

    board.Send({1, 2, 3});
    std::thread late([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        board.Send({4, 5, 6, 7, 8});
    });
    unsigned char buffer[8] = {};
    port.Read(buffer, 8);
    late.join();
    EXPECT_EQ(Bytes(buffer, buffer + 8), (Bytes{1, 2, 3, 4, 5, 6, 7, 8}));

    port.Read(buffer, 0);
}

TEST(SerialPortTest, WriteSendsWholeBufferBeyondOutputQueue)
{
    FakeModemLines lines;
    BoardSimulator board;
    board.SetReply({});
    SerialPort port(board.SlavePath(), 2400, lines);

    // Far more than a terminal's queues take at once.
    Bytes data(256 * 1024);
    for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<unsigned char>(i * 7 + i / 251);
    port.Write(data.data(), static_cast<unsigned>(data.size()));

    ASSERT_TRUE(board.WaitForReceived(data.size()));
    EXPECT_TRUE(board.Received() == data);
}

}  // namespace
