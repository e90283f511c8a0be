// Starts the built service with a live test pattern and reads its Matroska stream with
// gst-launch-1.0 over TCP on 127.0.0.1.

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include <boost/filesystem.hpp>
#include <boost/optional.hpp>

#include "application/streaming/streaming_test_support.h"
#include "support/launcher.h"

extern char** environ;

namespace {

using streaming_test::WaitUntil;

// A child process whose standard output and error go to a file; killed if still running at the end.
class ChildProcess {
public:
    ChildProcess(const std::vector<std::string>& command, const std::string& output_path)
        : m_arguments(testing_support::LaunchCommand(command))
    {
        std::vector<char*> argv;
        for (const auto& argument : m_arguments) argv.push_back(const_cast<char*>(argument.c_str()));
        argv.push_back(nullptr);

        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, output_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                         0644);
        posix_spawn_file_actions_adddup2(&actions, STDOUT_FILENO, STDERR_FILENO);
        if (posix_spawnp(&m_pid, argv[0], &actions, nullptr, argv.data(), environ) != 0)
            m_pid = -1;
        posix_spawn_file_actions_destroy(&actions);
        m_output_path = output_path;
    }

    ~ChildProcess()
    {
        if (m_pid > 0 && !m_status) {
            kill(m_pid, SIGKILL);
            waitpid(m_pid, nullptr, 0);
        }
    }

    bool Started() const { return m_pid > 0; }
    void Signal(int signal_number) { kill(m_pid, signal_number); }

    // The raw wait status once the process has ended, or none when it is still running at the deadline.
    boost::optional<int> WaitForExit(std::chrono::milliseconds timeout)
    {
        WaitUntil(
            [this] {
                int status = 0;
                if (waitpid(m_pid, &status, WNOHANG) == m_pid)
                    m_status = status;
                return m_status.has_value();
            },
            timeout);
        return m_status;
    }

    std::string Output() const
    {
        std::ifstream file(m_output_path);
        std::stringstream text;
        text << file.rdbuf();
        return text.str();
    }

    std::size_t CountInOutput(const std::string& text) const
    {
        const std::string output = Output();
        std::size_t count = 0;
        for (auto at = output.find(text); at != std::string::npos; at = output.find(text, at + text.size())) ++count;
        return count;
    }

private:
    std::vector<std::string> m_arguments;
    pid_t m_pid = -1;
    std::string m_output_path;
    boost::optional<int> m_status;
};

// A TCP port on 127.0.0.1 that was free a moment ago.
int FreePort()
{
    int socket_fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = 0;
    bind(socket_fd, reinterpret_cast<sockaddr*>(&address), sizeof(address));
    socklen_t length = sizeof(address);
    getsockname(socket_fd, reinterpret_cast<sockaddr*>(&address), &length);
    close(socket_fd);
    return ntohs(address.sin_port);
}

class MainStreamTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        const char* binary = std::getenv("FLOWTALLY_BINARY");
        ASSERT_NE(binary, nullptr) << "FLOWTALLY_BINARY is not set";
        m_binary = binary;
        m_dir = boost::filesystem::temp_directory_path() / boost::filesystem::unique_path("flowtally-stream-%%%%%%%%");
        boost::filesystem::create_directories(m_dir);
    }

    void TearDown() override
    {
        boost::system::error_code ignored;
        boost::filesystem::remove_all(m_dir, ignored);
    }

    std::string Path(const std::string& name) const { return (m_dir / name).string(); }

    std::string m_binary;
    boost::filesystem::path m_dir;
};

TEST_F(MainStreamTest, ServesTimeStampedMatroskaToEarlyAndLateClientsAndStopsOnSigterm)
{
    const std::string port = std::to_string(FreePort());
    ChildProcess service(
        {m_binary, "--algo_enabled=false", "--image_port=0", "--inclinometer=false", "--stream_port=" + port,
         "--error_file_directory=" + Path("errors"), "--angle_file_path=" + Path("camera_angle"),
         "--pipeline=videotestsrc is-live=true ! capsfilter caps=\"video/x-raw,format=GRAY8,"
         "width={camera_width},height={camera_height},framerate=25/1\" name=tail"},
        Path("service.log"));
    ASSERT_TRUE(service.Started());
    ASSERT_TRUE(WaitUntil([&] { return service.CountInOutput("[video_capture] Setting pipeline to PLAYING...") == 1; },
                          std::chrono::seconds(10)))
        << service.Output();

    // Clients that connect as soon as the port listens and a second later. Each must get the stream
    // header, then a segment, then time-stamped frames: silent=false with -v prints one "chain" line
    // per frame, with its time stamp, and GStreamer warns of a frame that comes before its segment.
    std::vector<std::unique_ptr<ChildProcess>> clients;
    for (const auto delay : {std::chrono::milliseconds(0), std::chrono::milliseconds(1500)}) {
        std::this_thread::sleep_for(delay);
        const std::string log = Path("client" + std::to_string(clients.size()) + ".log");
        clients.push_back(std::make_unique<ChildProcess>(
            std::vector<std::string>{"gst-launch-1.0", "-v", "tcpclientsrc", "host=127.0.0.1", "port=" + port, "!",
                                     "matroskademux", "!", "fakesink", "num-buffers=50", "silent=false"},
            log));
        ASSERT_TRUE(clients.back()->Started());
    }
    for (const auto& client : clients) {
        ASSERT_TRUE(WaitUntil([&] { return client->CountInOutput("chain   ***") >= 50; }, std::chrono::seconds(10)))
            << client->Output();
        EXPECT_EQ(client->CountInOutput("pts: none"), 0u) << client->Output();
        EXPECT_EQ(client->CountInOutput("Got data flow before segment event"), 0u) << client->Output();
    }
    service.Signal(SIGTERM);
    const auto service_status = service.WaitForExit(std::chrono::seconds(10));
    ASSERT_TRUE(service_status.has_value()) << "the service did not stop";
    EXPECT_TRUE(WIFEXITED(*service_status) && WEXITSTATUS(*service_status) == 0) << service.Output();
    EXPECT_EQ(service.CountInOutput("[main] Caught signal 15"), 1u);
    EXPECT_EQ(service.CountInOutput("[main] Thread is terminated."), 1u);

    // Each client has read its 50 frames and ended on its own.
    for (const auto& client : clients) {
        const auto client_status = client->WaitForExit(std::chrono::seconds(5));
        ASSERT_TRUE(client_status.has_value()) << "the client did not end";
        EXPECT_TRUE(WIFEXITED(*client_status) && WEXITSTATUS(*client_status) == 0) << client->Output();
    }
}

}  // namespace
