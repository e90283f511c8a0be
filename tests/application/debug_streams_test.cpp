#include "application/debug_streams.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "application/runtime/thread_manager.h"
#include "application/streaming/bin.h"
#include "support/log_capture.h"
#include "support/polling.h"
#include "support/ports.h"
#include "support/stream_reader.h"

namespace {

using namespace std::chrono_literals;

using testing_support::StreamReader;

// A failure on one of the manager's threads (a stream's server that cannot bind its port, say)
// fails the test with its message instead of ending the test program.
void FailTestOnThreadFailure(ThreadManager& manager)
{
    manager.m_exception_callback = [](std::shared_ptr<BaseThread> thread, const std::exception* error) {
        ADD_FAILURE() << "thread " << thread->GetName()
                      << " failed: " << (error ? error->what() : "unknown exception");
    };
}

class DebugStreamsTest : public ::testing::Test {
protected:
    DebugStreamsTest()
    {
        streaming::InitGstreamer();
        FailTestOnThreadFailure(m_manager);
    }
    ~DebugStreamsTest() override
    {
        StopEmitting();
        m_manager.Terminate();
    }

    // Emits the images every 40 ms on a thread of its own, as the algorithm thread would, until
    // StopEmitting; a failure of the streams fails the test and ends the emitting.
    void EmitContinuously(DebugStreams& streams, std::vector<cv::Mat> images)
    {
        m_emitter = std::thread([this, &streams, images] {
            try {
                for (unsigned long long timestamp = 0; !m_stop; timestamp += 40000000ULL) {
                    streams.OnDebugImages(images, timestamp);
                    std::this_thread::sleep_for(40ms);
                }
            } catch (const std::exception& error) {
                ADD_FAILURE() << "Emitting the debug images failed: " << error.what();
            }
        });
    }

    // Joined on every way out of a test that emits, a failed assertion included.
    void StopEmitting()
    {
        m_stop = true;
        if (m_emitter.joinable())
            m_emitter.join();
    }

    testing_support::LogCapture m_log;
    LogSource m_logger = Logger::GetLogSource("main");
    ThreadManager m_manager;
    int m_port = testing_support::FreePortRange(3);
    DebugStreams m_streams{m_logger, m_port, m_manager};
    std::atomic<bool> m_stop{false};
    std::thread m_emitter;
};

TEST_F(DebugStreamsTest, EachImageIndexIsServedOnItsOwnPort)
{
    const cv::Mat first(120, 160, CV_8UC1, cv::Scalar(10));
    const cv::Mat second(120, 160, CV_8UC1, cv::Scalar(200));
    m_streams.OnDebugImages({first, second}, 0);
    ASSERT_EQ(m_streams.Streams().size(), 2u);
    EXPECT_EQ(m_streams.Streams()[0].sink->GetName(), "dbg0");
    EXPECT_EQ(m_streams.Streams()[1].sink->GetName(), "dbg1");
    EXPECT_TRUE(m_log.Contains("[main] Starting debug streaming on tcp port " + std::to_string(m_port + 1) +
                               " with resolution [160 x 120]"));
    EXPECT_TRUE(m_log.Contains("[main] Starting debug streaming on tcp port " + std::to_string(m_port + 2) +
                               " with resolution [160 x 120]"));

    EmitContinuously(m_streams, {first, second});
    // The servers listen once their pipeline threads have started them.
    ASSERT_TRUE(testing_support::WaitUntil(
        [&] { return !testing_support::PortIsFree(m_port + 1) && !testing_support::PortIsFree(m_port + 2); }, 10s));
    // One client connects at once, the other a second into the stream, in the middle of a cluster.
    StreamReader reader_one(m_port + 1);
    std::this_thread::sleep_for(1s);
    StreamReader reader_two(m_port + 2);
    EXPECT_EQ(reader_one.FirstFrameFormat(), "GRAY8 160x120");
    EXPECT_EQ(reader_two.FirstFrameFormat(), "GRAY8 160x120");
    EXPECT_TRUE(reader_one.FirstFrameTimed());
    EXPECT_TRUE(reader_two.FirstFrameTimed());
    StopEmitting();
}

// A client that connects as soon as a stream listens, before its first frame has gone out, gets the
// stream's header once and reads time-stamped frames (a second header made the demuxer stop).
TEST_F(DebugStreamsTest, ClientConnectingBeforeTheFirstFrameReadsTheStream)
{
    const cv::Mat image(120, 160, CV_8UC1, cv::Scalar(10));
    for (int attempt = 0; attempt < 4; ++attempt) {
        const int port = testing_support::FreePortRange(2);
        ThreadManager manager;
        FailTestOnThreadFailure(manager);
        DebugStreams streams(m_logger, port, manager);
        streams.OnDebugImages({image}, 0);
        ASSERT_TRUE(testing_support::WaitUntil([&] { return !testing_support::PortIsFree(port + 1); }, 10s));
        StreamReader reader(port + 1);
        for (unsigned long long timestamp = 40000000ULL; timestamp < 400000000ULL; timestamp += 40000000ULL) {
            std::this_thread::sleep_for(40ms);
            streams.OnDebugImages({image}, timestamp);
        }
        EXPECT_EQ(reader.FirstFrameFormat(), "GRAY8 160x120") << "attempt " << attempt;
        EXPECT_TRUE(reader.FirstFrameTimed()) << "attempt " << attempt;
        manager.Terminate();  // the stream threads end before the streams they serve
    }
}

TEST_F(DebugStreamsTest, StreamsAreAddedWhenMoreImagesArrive)
{
    const cv::Mat image(24, 32, CV_8UC3, cv::Scalar(1, 2, 3));
    m_streams.OnDebugImages({}, 0);
    EXPECT_TRUE(m_streams.Streams().empty());
    m_streams.OnDebugImages({image, image}, 0);
    m_streams.OnDebugImages({image}, 1);
    EXPECT_EQ(m_streams.Streams().size(), 2u);
    m_streams.OnDebugImages({image, image, image}, 2);
    ASSERT_EQ(m_streams.Streams().size(), 3u);
    EXPECT_EQ(m_streams.Streams()[2].channels, 3);
}

TEST_F(DebugStreamsTest, FourChannelImageIsAyuvWithOneWarning)
{
    const cv::Mat image(24, 32, CV_8UC4, cv::Scalar::all(0));
    m_streams.OnDebugImages({image}, 0);
    m_streams.OnDebugImages({image}, 1);
    EXPECT_EQ(m_log.Count("[main, warning] 4channel debug image interpreted as AYUV"), 1);
}

TEST_F(DebugStreamsTest, ImagesThatCannotBeStreamedEndTheRun)
{
    const auto message = [this](const std::vector<cv::Mat>& images) {
        try {
            m_streams.OnDebugImages(images, 0);
        } catch (const std::runtime_error& error) {
            return std::string(error.what());
        }
        return std::string();
    };
    EXPECT_EQ(message({cv::Mat(4, 4, CV_16UC1)}), "Incorrect depth of debug image with code 2");
    EXPECT_EQ(message({cv::Mat(4, 4, CV_8UC2)}), "Incorrect channels for debug image: 2");
    EXPECT_EQ(message({cv::Mat(4, 6, CV_8UC1)}), "");
    EXPECT_EQ(message({cv::Mat(5, 6, CV_8UC1)}), "Unexpected change of debug image resolution from [6 x 4] to [6 x 5]");
    EXPECT_EQ(message({cv::Mat(4, 6, CV_8UC3)}), "Unexpected change of debug image channels from 1 to 3");
}

// With stream_port 65533 the third image's port would be 65536: that image is not streamed (the TCP
// sink would fall back to its default port, one nobody configured), and the other two are.
TEST_F(DebugStreamsTest, ImageWhosePortWouldPassTheLastPortIsNotStreamedAndTheOthersAre)
{
    for (const int port : {65534, 65535})
        if (!testing_support::PortIsFree(port))
            GTEST_SKIP() << "port " << port << " is taken by another program";
    constexpr int kTcpSinkDefaultPort = 4953;
    const bool default_port_was_taken = testing_support::IsListening(kTcpSinkDefaultPort);
    ThreadManager manager;
    FailTestOnThreadFailure(manager);
    DebugStreams streams(m_logger, 65533, manager);
    // The emitter ends before the streams it feeds, their threads before the streams they serve.
    const struct OnExit {
        std::function<void()> run;
        ~OnExit() { run(); }
    } stop{[&] {
        StopEmitting();
        manager.Terminate();
    }};
    const cv::Mat image(120, 160, CV_8UC1, cv::Scalar(50));
    EmitContinuously(streams, {image, image, image});
    ASSERT_TRUE(testing_support::WaitUntil([] { return testing_support::IsListening(65535); }, 10s));
    StreamReader reader(65535);
    EXPECT_EQ(reader.FirstFrameFormat(), "GRAY8 160x120");
    StopEmitting();

    ASSERT_EQ(streams.Streams().size(), 3u);
    EXPECT_TRUE(streams.Streams()[0].sink && streams.Streams()[1].sink);
    EXPECT_FALSE(streams.Streams()[2].sink);
    EXPECT_EQ(m_log.Count("[main, error] Debug image 2 is not streamed: its port stream_port + 1 + 2 = 65536 is "
                          "beyond 65535"),
              1);
    if (!default_port_was_taken) {
        EXPECT_FALSE(testing_support::IsListening(kTcpSinkDefaultPort));
    }
}

TEST_F(DebugStreamsTest, ViewIntoLargerImageIsStreamed)
{
    const cv::Mat whole(48, 64, CV_8UC1, cv::Scalar(7));
    const cv::Mat view = whole(cv::Rect(8, 8, 32, 24));
    ASSERT_FALSE(view.isContinuous());
    EXPECT_NO_THROW(m_streams.OnDebugImages({view}, 0));
}

}  // namespace
