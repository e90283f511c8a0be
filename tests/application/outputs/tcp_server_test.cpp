#include "application/outputs/tcp_server.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <boost/system/system_error.hpp>
#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <fstream>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "application/outputs/io_service_thread.h"
#include "application/runtime/thread_manager.h"
#include "support/log_capture.h"
#include "support/stream_client.h"

namespace {

using Tcp = boost::asio::ip::tcp;
using Local = boost::asio::local::stream_protocol;

// Runs a service on an IOServiceThread until destroyed; a failure of that thread fails the test.
// Built after the server, so that the thread stops before the server goes.
class RunningService {
public:
    explicit RunningService(boost::asio::io_service& service)
    {
        m_manager.m_exception_callback = [](std::shared_ptr<BaseThread>, const std::exception* error) {
            ADD_FAILURE() << "service thread failed: " << (error ? error->what() : "unknown exception");
        };
        m_manager.CreateThread<IOServiceThread>(service, "tcp");
    }

private:
    ThreadManager m_manager;
};

template <typename P>
typename Connection<P>::Writer WriteOnce(const std::string& text)
{
    return [text](std::shared_ptr<IBufferWrapper>& buffer, ConnectionContext*) {
        buffer = MakeBuffer(text);
        return Connection<P>::kWriteAndClose;
    };
}

class TcpServerTest : public ::testing::Test {
protected:
    const Tcp::endpoint m_any_port{boost::asio::ip::address_v4::loopback(), 0};
    testing_support::LogCapture m_log;
    boost::asio::io_service m_service;
};

// Starts a connection to 127.0.0.1 and tells whether the handshake completed within the timeout.
bool HandshakeCompletes(util::UniqueFd& socket, unsigned short port, std::chrono::milliseconds timeout)
{
    socket.reset(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(socket.get(), reinterpret_cast<const sockaddr*>(&address), sizeof(address)) == 0)
        return true;
    if (errno != EINPROGRESS)
        return false;
    pollfd poll_fd{socket.get(), POLLOUT, 0};
    if (::poll(&poll_fd, 1, static_cast<int>(timeout.count())) <= 0)
        return false;
    int error = 0;
    socklen_t length = sizeof(error);
    return ::getsockopt(socket.get(), SOL_SOCKET, SO_ERROR, &error, &length) == 0 && error == 0;
}

class NumberContext : public ConnectionContext {
public:
    explicit NumberContext(int number) : m_number(number) {}
    const int m_number;
};

TEST_F(TcpServerTest, WriteAndCloseGivesEachClientOneBufferAndKeepsAccepting)
{
    int accepted = 0;
    TcpServer<Tcp> server(
        m_service, m_any_port,
        [](std::shared_ptr<IBufferWrapper>& buffer, ConnectionContext* context) {
            buffer = MakeBuffer("client " + std::to_string(static_cast<NumberContext*>(context)->m_number));
            return Connection<Tcp>::kWriteAndClose;
        },
        [&](std::unique_ptr<ConnectionContext>& context) { context = std::make_unique<NumberContext>(++accepted); });
    RunningService running(m_service);

    for (const std::string expected : {"client 1", "client 2"}) {
        StreamClient client(server.LocalEndpoint().port());
        const auto received = client.Read();
        EXPECT_EQ(received.bytes, expected);
        EXPECT_TRUE(received.closed_by_server);
    }
}

TEST_F(TcpServerTest, IdleConnectionIsWokenByEachBufferSentAfterItStarted)
{
    std::mutex mutex;
    std::condition_variable called;
    bool started = false;
    TcpServer<Tcp> server(m_service, m_any_port, [&](std::shared_ptr<IBufferWrapper>&, ConnectionContext*) {
        std::lock_guard<std::mutex> lock(mutex);
        started = true;
        called.notify_all();
        return Connection<Tcp>::kWriteNext;
    });
    RunningService running(m_service);

    server.SendBuffer(MakeBuffer("too early "));
    StreamClient client(server.LocalEndpoint().port());
    {
        std::unique_lock<std::mutex> lock(mutex);
        ASSERT_TRUE(called.wait_for(lock, std::chrono::seconds(5), [&] { return started; }));
    }
    server.SendBuffer(MakeBuffer("one "));
    EXPECT_EQ(client.Read(4).bytes, "one ");
    server.SendBuffer(nullptr);
    server.SendBuffer(MakeBuffer("two"));
    const auto received = client.Read(3);
    EXPECT_EQ(received.bytes, "two");
    EXPECT_FALSE(received.closed_by_server);
}

TEST_F(TcpServerTest, QueuesAtMost128ConnectionsThatAreNotYetAccepted)
{
    // Nothing runs the service, so nothing is accepted.
    TcpServer<Tcp> server(m_service, m_any_port, WriteOnce<Tcp>(""));
    std::vector<util::UniqueFd> clients(200);
    std::size_t completed = 0;
    while (completed < clients.size() &&
           HandshakeCompletes(clients[completed], server.LocalEndpoint().port(), std::chrono::milliseconds(1000)))
        ++completed;
    // Linux completes one handshake more than the backlog before it drops new ones.
    EXPECT_EQ(completed, 129u);
}

TEST_F(TcpServerTest, FailedAcceptIsLoggedAndAcceptingGoesOn)
{
    TcpServer<Tcp> server(m_service, m_any_port, WriteOnce<Tcp>("served"));
    RunningService running(m_service);

    // Serve one client and log one like warning first: the sanitizers' first look at a type needs
    // descriptors of its own, which the process is about to lack.
    EXPECT_EQ(StreamClient(server.LocalEndpoint().port()).Read().bytes, "served");
    LogSource log = Logger::GetLogSource("tcpserver");
    LOG(log, warning) << "Before running out of descriptors: "
                      << boost::system::error_code(EMFILE, boost::system::system_category()).message();

    // Leave the process no descriptor to accept with while the client connects.
    StreamClient client(StreamClient::NotConnected{});
    rlimit original{};
    ASSERT_EQ(::getrlimit(RLIMIT_NOFILE, &original), 0);
    const int lowest_free = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
    ASSERT_GE(lowest_free, 0);
    ::close(lowest_free);
    rlimit exhausted = original;
    exhausted.rlim_cur = static_cast<rlim_t>(lowest_free);
    ASSERT_EQ(::setrlimit(RLIMIT_NOFILE, &exhausted), 0);
    client.ConnectTo(server.LocalEndpoint().port());
    const bool logged = m_log.WaitFor("[tcpserver, warning] Can not accept. Error: Too many open files");
    ASSERT_EQ(::setrlimit(RLIMIT_NOFILE, &original), 0);
    ASSERT_TRUE(logged);

    const auto received = client.Read();
    EXPECT_EQ(received.bytes, "served");
    EXPECT_TRUE(received.closed_by_server);
}

TEST_F(TcpServerTest, LocalSocketReplacesAStaleSocketFileButKeepsAnyOtherFile)
{
    const auto directory = std::filesystem::temp_directory_path() / ("flowtally-tcp-" + std::to_string(::getpid()));
    std::filesystem::create_directories(directory);
    const std::string socket_path = (directory / "stale.sock").string();
    const std::string file_path = (directory / "plain").string();
    {
        util::UniqueFd stale(::socket(AF_UNIX, SOCK_STREAM, 0));
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::strncpy(address.sun_path, socket_path.c_str(), sizeof(address.sun_path) - 1);
        ASSERT_EQ(::bind(stale.get(), reinterpret_cast<const sockaddr*>(&address), sizeof(address)), 0);
    }
    std::ofstream(file_path) << "keep me";

    try {
        TcpServer<Local> refused(m_service, Local::endpoint(file_path), WriteOnce<Local>(""));
        ADD_FAILURE() << "listening in place of a plain file";
    } catch (const boost::system::system_error& error) {
        EXPECT_EQ(std::string(error.what()), "Can not listen on " + file_path + ": Address already in use");
    }
    std::string content;
    std::getline(std::ifstream(file_path), content);
    EXPECT_EQ(content, "keep me");

    {
        TcpServer<Local> server(m_service, Local::endpoint(socket_path), WriteOnce<Local>("local"));
        RunningService running(m_service);
        StreamClient client(socket_path);
        const auto received = client.Read();
        EXPECT_EQ(received.bytes, "local");
        EXPECT_TRUE(received.closed_by_server);
    }
    std::filesystem::remove_all(directory);
}

}  // namespace
