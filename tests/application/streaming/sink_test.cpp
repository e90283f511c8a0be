#include "application/streaming/sink.h"

#include <atomic>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include <gst/app/gstappsink.h>

#include "application/streaming/pipeline_message_processor.h"
#include "application/streaming/streaming_test_support.h"

namespace {

using streaming_test::LogCapture;
using streaming_test::RecordingManager;
using streaming_test::WaitUntil;

std::shared_ptr<IBufferWrapper> Frame(std::size_t size, unsigned char fill)
{
    return std::make_shared<DataBufferWrapper>(std::vector<unsigned char>(size, fill));
}

// Pulls one sample from the sink's appsink "out" and returns its first byte (-1: none within 100 ms).
int PullFirstByte(streaming::Sink& sink)
{
    auto out = sink.GetPipeline()->get_element("out");
    GstSample* sample = gst_app_sink_try_pull_sample(GST_APP_SINK(out->gobj()), 100 * GST_MSECOND);
    if (!sample)
        return -1;
    GstBuffer* buffer = gst_sample_get_buffer(sample);
    unsigned char first = 0;
    gst_buffer_extract(buffer, 0, &first, 1);
    gst_sample_unref(sample);
    return first;
}

// Tells when a GObject has been disposed. A disposed bin has already let go of its children. The
// flag is shared with the weak-reference notification, which may run on a GStreamer thread after
// the watch is gone; the notification frees its own share.
class DisposeWatch {
public:
    explicit DisposeWatch(GObject* object) : m_disposed(std::make_shared<std::atomic<bool>>(false))
    {
        g_object_weak_ref(object, &DisposeWatch::OnDisposed, new Flag(m_disposed));
    }
    bool Disposed() const { return m_disposed->load(); }

private:
    using Flag = std::shared_ptr<std::atomic<bool>>;

    static void OnDisposed(gpointer flag, GObject*)
    {
        std::unique_ptr<Flag> owned(static_cast<Flag*>(flag));
        (*owned)->store(true);
    }

    Flag m_disposed;
};

class SinkTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(streaming::InitGstreamer()); }
};

TEST_F(SinkTest, DropsFramesUnlessTheAppsrcWantsDataAndLogsEachChangeOnce)
{
    LogCapture log;
    streaming::Sink sink("out_stream", "appsink name=out sync=false max-buffers=1 enable-last-sample=false",
                         Gst::Caps::create_simple("application/x-flowtally-test"));
    const unsigned char kEarly = 0xAA;
    const unsigned char kLate = 0x11;
    for (int i = 0; i < 3; ++i) sink.PushFrame(Frame(1000, kEarly), i);

    RecordingManager manager;
    manager.Get().CreateThread<streaming::PipelineMessageProcessor>(std::ref(sink));
    ASSERT_TRUE(WaitUntil([&] { return log.Count("[out_stream] Begin sending frames") == 1; }));

    // The largest frame so far bounds the appsrc queue.
    sink.PushFrame(Frame(1000, kLate), 10);
    sink.PushFrame(Frame(500, kLate), 11);
    sink.PushFrame(Frame(2000, kLate), 12);
    EXPECT_EQ(log.Count("[out_stream] Setting max-bytes to 20000"), 1u);
    EXPECT_EQ(log.Count("[out_stream] Setting max-bytes to 40000"), 1u);

    // Nobody pulls: the queue fills up and the sink starts dropping.
    for (int i = 0; i < 500 && log.Count("[out_stream] Begin dropping frames") == 0; ++i) {
        sink.PushFrame(Frame(1000, kLate), 100 + i);
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    ASSERT_EQ(log.Count("[out_stream] Begin dropping frames"), 1u);
    for (int i = 0; i < 20; ++i) sink.PushFrame(Frame(1000, kLate), 1000 + i);

    // Draining the queue makes the appsrc ask again.
    std::vector<int> delivered;
    ASSERT_TRUE(WaitUntil([&] {
        delivered.push_back(PullFirstByte(sink));
        return log.Count("[out_stream] Begin sending frames") == 2;
    }));
    EXPECT_EQ(log.Count("[out_stream] Begin dropping frames"), 1u);
    EXPECT_EQ(std::count(delivered.begin(), delivered.end(), kEarly), 0) << "frames offered before need-data";
    EXPECT_EQ(log.Count("[out_stream] Dropped frame (appsrc does not accept frames)"), 0u);

    manager.Shutdown();
    EXPECT_TRUE(manager.Failures().empty());
    sink.PushFrame(Frame(1000, kLate), 5000);
    EXPECT_EQ(log.Count("[out_stream] Dropped frame (appsrc does not accept frames)"), 1u);
}

TEST_F(SinkTest, EmptyDescriptionFeedsAnIdentity)
{
    streaming::Sink sink("plain", Gst::Caps::create_simple("application/x-flowtally-test"));
    auto pipeline = sink.GetPipeline();
    EXPECT_EQ(pipeline->get_name(), "Snk_plain");
    auto head = pipeline->get_element("head");
    ASSERT_TRUE(head);
    auto pad = head->get_static_pad("src");
    GstPad* peer = gst_pad_get_peer(pad->gobj());
    ASSERT_NE(peer, nullptr);
    GstObject* parent = gst_pad_get_parent(peer);
    EXPECT_TRUE(GST_IS_ELEMENT(parent) && g_str_has_prefix(GST_OBJECT_NAME(parent), "identity"));
    gst_object_unref(parent);
    gst_object_unref(peer);
}

TEST_F(SinkTest, FramesWithoutBytesAreDroppedAndReleased)
{
    LogCapture log;
    streaming::Sink sink("out_stream", "appsink name=out sync=false max-buffers=1 enable-last-sample=false",
                         Gst::Caps::create_simple("application/x-flowtally-test"));
    RecordingManager manager;
    manager.Get().CreateThread<streaming::PipelineMessageProcessor>(std::ref(sink));
    ASSERT_TRUE(WaitUntil([&] { return log.Count("[out_stream] Begin sending frames") == 1; }));

    auto empty = Frame(0, 0);
    std::weak_ptr<IBufferWrapper> watch = empty;
    sink.PushFrame(std::move(empty), 1);
    sink.PushFrame(nullptr, 2);
    EXPECT_TRUE(watch.expired()) << "nothing keeps an empty frame";
    EXPECT_EQ(PullFirstByte(sink), -1) << "nothing reaches the pipeline";
    EXPECT_EQ(log.Count("[out_stream] Dropped frame without bytes"), 2u);

    sink.PushFrame(Frame(16, 0x33), 3);
    EXPECT_EQ(PullFirstByte(sink), 0x33) << "later frames still flow";
    manager.Shutdown();
    EXPECT_TRUE(manager.Failures().empty());
}

TEST_F(SinkTest, FrameLivesUntilGStreamerReleasesItsBuffer)
{
    LogCapture log;
    std::weak_ptr<IBufferWrapper> watch;
    {
        auto sink = std::make_unique<streaming::Sink>(
            "out_stream", "appsink name=out sync=false max-buffers=1 enable-last-sample=false",
            Gst::Caps::create_simple("application/x-flowtally-test"));
        RecordingManager manager;
        manager.Get().CreateThread<streaming::PipelineMessageProcessor>(std::ref(*sink));
        ASSERT_TRUE(WaitUntil([&] { return log.Count("[out_stream] Begin sending frames") == 1; }));

        auto frame = Frame(64, 0x42);
        watch = frame;
        sink->PushFrame(std::move(frame), 0);
        EXPECT_FALSE(watch.expired());
        EXPECT_EQ(PullFirstByte(*sink), 0x42) << "GStreamer read the frame's own bytes";
        manager.Shutdown();
        DisposeWatch pipeline(G_OBJECT(sink->GetPipeline()->gobj()));
        sink.reset();
        // The sink's reference need not be the pipeline's last one: when the appsink's preroll
        // completes the pipeline's change to PLAYING, GStreamer continues that change on its own
        // thread pool, and that call holds a reference to the pipeline until it has returned,
        // which may be after the pipeline has been set to NULL and the sink destroyed.
        ASSERT_TRUE(WaitUntil([&] { return pipeline.Disposed(); })) << "the pipeline is never released";
    }
    EXPECT_TRUE(watch.expired());
}

}  // namespace
