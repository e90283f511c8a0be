#include "application/streaming/pipeline_message_processor.h"

#include <netinet/in.h>
#include <sys/socket.h>

#include <memory>
#include <string>

#include <gtest/gtest.h>

#include "application/runtime/unique_fd.h"
#include "application/streaming/streaming_test_support.h"
#include "support/ports.h"

namespace {

using streaming_test::LogCapture;
using streaming_test::RecordingManager;
using streaming_test::RunUntilFailure;
using streaming_test::WaitUntil;

Gst::State CurrentState(streaming::Bin& bin)
{
    GstState state = GST_STATE_VOID_PENDING;
    gst_element_get_state(GST_ELEMENT(bin.GetPipeline()->gobj()), &state, nullptr, GST_SECOND);
    return static_cast<Gst::State>(state);
}

class PipelineMessageProcessorTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(streaming::InitGstreamer()); }
};

TEST_F(PipelineMessageProcessorTest, EndOfStreamStopsTheThreadWithGotEos)
{
    LogCapture log;
    streaming::Bin bin("finite", "videotestsrc num-buffers=5 ! fakesink");

    EXPECT_EQ(RunUntilFailure(bin), "Bin [finite]: Got EOS");
    EXPECT_EQ(log.Count("[finite]  Pipeline thread is starting..."), 1u);
    EXPECT_EQ(log.Count("[finite] Pipeline is PREROLLED"), 1u);
    EXPECT_EQ(CurrentState(bin), Gst::STATE_NULL);
}

TEST_F(PipelineMessageProcessorTest, ErrorMessageEndsTheThreadWithItsText)
{
    streaming::Bin bin("caps",
                       "videotestsrc ! capsfilter caps=video/x-raw,width=320 ! capsfilter name=limit ! fakesink");
    // Set after parsing, so that the conflict shows only when the pipeline negotiates.
    GstCaps* impossible = gst_caps_from_string("video/x-raw,width=640");
    g_object_set(bin.GetPipeline()->get_element("limit")->gobj(), "caps", impossible, nullptr);
    gst_caps_unref(impossible);

    EXPECT_EQ(RunUntilFailure(bin), "Bin [caps]: GStreamer error: Internal data stream error.");
    EXPECT_EQ(CurrentState(bin), Gst::STATE_NULL);
}

TEST_F(PipelineMessageProcessorTest, RefusedPauseReportsTheErrorOnTheBus)
{
    streaming::Bin bin("missing", "filesrc location=/nonexistent/flowtally/input ! fakesink");
    const std::string failure = RunUntilFailure(bin);

    EXPECT_EQ(failure.rfind("Bin [missing]: GStreamer error: ", 0), 0u) << failure;
    EXPECT_EQ(failure.find("Pipeline does not want to pause"), std::string::npos);
}

TEST_F(PipelineMessageProcessorTest, PortInUseNamesTheElementAndThePort)
{
    // Hold the port with a listening socket of our own.
    const int port = testing_support::FreePortRange(1);
    util::UniqueFd holder(::socket(AF_INET, SOCK_STREAM, 0));
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(::bind(holder.get(), reinterpret_cast<sockaddr*>(&address), sizeof(address)), 0);
    ASSERT_EQ(::listen(holder.get(), 1), 0);

    streaming::Bin bin("busy", "videotestsrc ! tcpserversink name=server host=127.0.0.1 port=" +
                                   std::to_string(port));
    EXPECT_EQ(RunUntilFailure(bin), "Bin [busy]: GStreamer error: Could not open resource for reading. (server, port " +
                                        std::to_string(port) + ")");
}

TEST_F(PipelineMessageProcessorTest, LivePipelineSkipsPrerollAndStopsOnRequest)
{
    LogCapture log;
    streaming::Bin bin("live", "videotestsrc is-live=true ! fakesink");
    RecordingManager manager;
    auto thread = manager.Get().CreateThread<streaming::PipelineMessageProcessor>(std::ref(bin));
    EXPECT_EQ(thread->GetName(), "th_live");

    ASSERT_TRUE(WaitUntil([&] { return log.Count("[live] Setting pipeline to PLAYING...") == 1; }));
    EXPECT_EQ(log.Count("[live] Pipeline is live and does not need PREROLL"), 1u);
    manager.Shutdown();

    EXPECT_TRUE(manager.Failures().empty());
    EXPECT_EQ(CurrentState(bin), Gst::STATE_NULL);
}

TEST_F(PipelineMessageProcessorTest, StopDuringPrerollNeverStartsPlaying)
{
    LogCapture log;
    // An appsrc that never receives data never prerolls.
    streaming::Bin bin("stuck", "appsrc ! fakesink");
    RecordingManager manager;
    manager.Get().CreateThread<streaming::PipelineMessageProcessor>(std::ref(bin));

    ASSERT_TRUE(WaitUntil([&] { return log.Count("[stuck] Pipeline is PREROLLING...") == 1; }));
    manager.Shutdown();

    EXPECT_TRUE(manager.Failures().empty());
    EXPECT_EQ(log.Count("[stuck] Setting pipeline to PLAYING..."), 0u);
    EXPECT_EQ(CurrentState(bin), Gst::STATE_NULL);
}

TEST_F(PipelineMessageProcessorTest, RefusesAPipelineThatIsAChildOfAnotherBin)
{
    streaming::Bin parent("parent", "videotestsrc ! identity name=tail");
    auto child = std::make_shared<streaming::Bin>("child", "fakesink");
    parent.AddBin(child);
    RecordingManager manager;

    try {
        manager.Get().CreateThread<streaming::PipelineMessageProcessor>(std::ref(*child));
        FAIL() << "no exception";
    } catch (const streaming::BinException& error) {
        EXPECT_STREQ(error.what(), "Bin [child]: Unable to run pipeline for Bin which has parent Bin");
    }
}

}  // namespace
