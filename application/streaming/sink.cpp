#include "application/streaming/sink.h"

#include <string>

#include <gst/app/gstappsrc.h>

namespace streaming {

namespace {

// A frame handed to GStreamer keeps its owner alive through this heap copy of its pointer.
using FrameOwner = std::shared_ptr<IBufferWrapper>;

void ReleaseFrame(gpointer owner)
{
    std::unique_ptr<FrameOwner>(static_cast<FrameOwner*>(owner));
}

}  // namespace

Sink::Sink(const std::string& name, const std::string& description, Glib::RefPtr<Gst::Caps> caps) : Bin(name)
{
    SetPipeline(CreatePipelineWithAppSrc(description, std::move(caps)));
}

Sink::Sink(const std::string& name, Glib::RefPtr<Gst::Caps> caps) : Sink(name, std::string(), std::move(caps)) {}

Sink::~Sink()
{
    m_need_data.disconnect();
    m_enough_data.disconnect();
    m_appsrc.reset();
}

Glib::RefPtr<Gst::Pipeline> Sink::CreatePipelineWithAppSrc(const std::string& description, Glib::RefPtr<Gst::Caps> caps)
{
    // An empty tail description stands for a pass-through, as for any other pipeline text.
    const std::string tail = description.empty() ? std::string("identity") : description;
    auto pipeline = CreatePipelineFromString("appsrc name=head ! " + tail, "Snk_" + GetName());
    auto head = pipeline->get_element("head");
    m_appsrc = head ? Glib::RefPtr<Gst::AppSrc>::cast_dynamic(head) : Glib::RefPtr<Gst::AppSrc>();
    if (!m_appsrc)
        ThrowError("Unable to create appsrc");

    m_appsrc->property_emit_signals() = true;
    m_appsrc->property_format() = Gst::FORMAT_TIME;
    m_need_data = m_appsrc->signal_need_data().connect([this](guint) { OnNeedData(); }, true);
    m_enough_data = m_appsrc->signal_enough_data().connect([this] { OnEnoughData(); }, true);
    m_appsrc->property_caps() = caps;
    m_appsrc->property_is_live() = true;
    return pipeline;
}

void Sink::OnNeedData()
{
    if (m_accepting.exchange(true))
        return;
    LOG(GetLogger(), info) << "Begin sending frames";
}

void Sink::OnEnoughData()
{
    if (!m_accepting.exchange(false))
        return;
    LOG(GetLogger(), info) << "Begin dropping frames";
}

void Sink::PushFrame(std::shared_ptr<IBufferWrapper> frame, unsigned long long timestamp)
{
    if (!m_accepting.load())
        return;
    // GStreamer cannot wrap a frame without bytes; it would push a buffer without memory.
    if (!frame || frame->GetSize() == 0 || !frame->GetData()) {
        LOG(GetLogger(), warning) << "Dropped frame without bytes";
        return;
    }

    const std::uint64_t size = frame->GetSize();
    if (size > m_largest_frame) {
        m_largest_frame = size;
        m_appsrc->property_max_bytes() = 20 * size;
        LOG(GetLogger(), trace) << "Setting max-bytes to " << m_appsrc->property_max_bytes().get_value();
    }

    // The bytes are only read: the buffer is marked read-only.
    auto* data = const_cast<unsigned char*>(frame->GetData());
    auto owner = std::make_unique<FrameOwner>(std::move(frame));
    GstBuffer* buffer = gst_buffer_new_wrapped_full(
        static_cast<GstMemoryFlags>(GST_MEMORY_FLAG_READONLY | GST_MEMORY_FLAG_PHYSICALLY_CONTIGUOUS), data, size, 0,
        size, owner.get(), &ReleaseFrame);
    owner.release();
    GST_BUFFER_PTS(buffer) = timestamp;

    // The appsrc takes over the buffer reference.
    if (gst_app_src_push_buffer(GST_APP_SRC(m_appsrc->gobj()), buffer) != GST_FLOW_OK)
        LOG(GetLogger(), info) << "Dropped frame (appsrc does not accept frames)";
}

}  // namespace streaming
