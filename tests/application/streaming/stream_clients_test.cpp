#include "application/streaming/stream_clients.h"

#include <netinet/in.h>
#include <sys/socket.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>

#include <gtest/gtest.h>

#include "application/streaming/pipeline_message_processor.h"
#include "application/streaming/streaming_test_support.h"
#include "support/stream_client.h"

namespace {

using namespace std::chrono_literals;
using streaming_test::LogCapture;
using streaming_test::RecordingManager;
using streaming_test::WaitUntil;

// A client that connects and never reads, with the smallest receive buffer the system allows.
util::UniqueFd StalledClient(unsigned short port)
{
    util::UniqueFd socket(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    const int small = 1024;
    ::setsockopt(socket.get(), SOL_SOCKET, SO_RCVBUF, &small, sizeof(small));
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(socket.get(), reinterpret_cast<const sockaddr*>(&address), sizeof(address)) != 0)
        return util::UniqueFd();
    return socket;
}

int NumberOfClients(streaming::Bin& bin)
{
    guint handles = 0;
    g_object_get(bin.GetPipeline()->get_element("server")->gobj(), "num-handles", &handles, nullptr);
    return static_cast<int>(handles);
}

TEST(StreamClientsTest, StalledClientIsDroppedWithALogLineWhileAReadingClientGoesOn)
{
    struct Case {
        const char* what;
        streaming::StreamClientLimits limits;
    };
    const Case cases[] = {
        {"queue bound", {512 * 1024, 600ull * 1000 * 1000 * 1000}},
        {"send timeout", {std::int64_t{1} << 40, 1000ull * 1000 * 1000}},
    };
    ASSERT_TRUE(streaming::InitGstreamer());
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        LogCapture log;
        const unsigned short port = FreeLoopbackPort();
        streaming::Bin bin("limited",
                           "videotestsrc is-live=true ! video/x-raw,width=320,height=240,framerate=25/1 ! "
                           "matroskamux streamable=true ! tcpserversink name=server host=127.0.0.1 sync=false port=" +
                               std::to_string(port));
        streaming::LimitStreamClients(bin, c.limits);
        RecordingManager manager;
        manager.Get().CreateThread<streaming::PipelineMessageProcessor>(std::ref(bin));
        ASSERT_TRUE(WaitUntil([&] { return log.Contains("[limited] Setting pipeline to PLAYING..."); }, 10s));

        StreamClient reader(port);
        util::UniqueFd stalled = StalledClient(port);
        ASSERT_TRUE(stalled.isValid());
        ASSERT_TRUE(WaitUntil([&] { return NumberOfClients(bin) == 2; }, 5s));

        // The reading client reads all along; the stalled one must be dropped meanwhile.
        const std::string dropped = "[limited] Stream client on port " + std::to_string(port) +
                                    " dropped: it does not take the stream fast enough";
        std::size_t bytes_before_drop = 0;
        const auto deadline = std::chrono::steady_clock::now() + 20s;
        while (!log.Contains(dropped) && std::chrono::steady_clock::now() < deadline)
            bytes_before_drop += reader.Read(static_cast<std::size_t>(-1), 100ms).bytes.size();
        ASSERT_TRUE(log.Contains(dropped)) << NumberOfClients(bin) << " clients, bytes read " << bytes_before_drop;
        EXPECT_GT(bytes_before_drop, 0u);
        EXPECT_EQ(NumberOfClients(bin), 1);
        EXPECT_GT(reader.Read(static_cast<std::size_t>(-1), 500ms).bytes.size(), 0u) << "the reader goes on";
        EXPECT_TRUE(manager.Failures().empty());
        manager.Shutdown();
    }
}

}  // namespace
