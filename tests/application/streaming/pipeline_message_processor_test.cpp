#include "application/streaming/pipeline_message_processor.h"

#include <memory>
#include <string>

#include <netinet/in.h>
#include <sys/socket.h>

#include <gstreamermm/bus.h>
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

TEST_F(PipelineMessageProcessorTest, CapsThatDoNotMatchAreNamedAsSuch)
{
    // The source offers one format or size and a later filter asks for another; the second caps
    // are set after parsing, so that the conflict shows only when the pipeline negotiates.
    const struct {
        const char* offered;
        const char* asked;
    } cases[] = {
        {"video/x-raw,width=320", "video/x-raw,width=640"},
        {"video/x-raw,width=640,height=240", "video/x-raw,width=640,height=480"},
        {"video/x-raw,format=GRAY8", "video/x-raw,format=BGR"},
    };
    for (const auto& c : cases) {
        streaming::Bin bin("caps", std::string("videotestsrc name=camera ! capsfilter caps=") + c.offered +
                                       " ! capsfilter name=limit ! fakesink");
        GstCaps* asked = gst_caps_from_string(c.asked);
        g_object_set(bin.GetPipeline()->get_element("limit")->gobj(), "caps", asked, nullptr);
        gst_caps_unref(asked);

        EXPECT_EQ(RunUntilFailure(bin),
                  "Bin [caps]: GStreamer error: Caps do not match: camera and the elements "
                  "after it accept no common format and size (not-negotiated)")
            << c.offered << " / " << c.asked;
        EXPECT_EQ(CurrentState(bin), Gst::STATE_NULL);
    }
}

TEST_F(PipelineMessageProcessorTest, RefusedPauseReportsTheFirstErrorOnTheBus)
{
    // A missing camera device or input file refuses PAUSED and posts its own error. A report of
    // another kind already waiting on the bus (a buffering report here) must not hide it.
    const struct {
        const char* description;
        const char* error;
    } cases[] = {
        {"v4l2src device=/dev/video97 ! fakesink", "Cannot identify device '/dev/video97'."},
        {"v4l2src device=/dev/video97 ! tee name=t t. ! queue ! fakesink t. ! queue ! fakesink",
         "Cannot identify device '/dev/video97'."},
        {"filesrc location=/nonexistent/flowtally/input ! fakesink", "Resource not found."},
    };
    for (const auto& c : cases) {
        for (const bool stale_report : {false, true}) {
            for (int run = 0; run < 3; ++run) {
                streaming::Bin bin("missing", c.description);
                if (stale_report) {
                    auto pipeline = bin.GetPipeline();
                    gst_bus_post(pipeline->get_bus()->gobj(),
                                 gst_message_new_buffering(GST_OBJECT(pipeline->gobj()), 100));
                }
                EXPECT_EQ(RunUntilFailure(bin), std::string("Bin [missing]: GStreamer error: ") + c.error)
                    << c.description << (stale_report ? ", buffering report waiting" : "") << ", run " << run;
            }
        }
    }
}

TEST_F(PipelineMessageProcessorTest, PortInUseNamesTheElementThePortAndGStreamersReason)
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

    streaming::Bin bin("busy", "videotestsrc ! tcpserversink name=server host=127.0.0.1 port=" + std::to_string(port));
    const std::string p = std::to_string(port);
    EXPECT_EQ(RunUntilFailure(bin), "Bin [busy]: GStreamer error: Could not open resource for reading. (server, port " +
                                        p + "): port " + p + " is in use: Failed to bind on host '127.0.0.1:" + p +
                                        "': Error binding to address 127.0.0.1:" + p + ": Address already in use");
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
