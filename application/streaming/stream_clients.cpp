#include "application/streaming/stream_clients.h"

#include <gio/gio.h>
#include <gst/gst.h>
#include <gstreamermm/iterator.h>

#include <exception>
#include <string>

namespace streaming {

namespace {

// The states GstMultiHandleSink reports a removed client with (GstMultiHandleSinkClientStatus).
constexpr int kClientStatusSlow = 3;
constexpr int kClientStatusError = 4;

// Owned by the signal connection, freed when the element goes.
struct RemovalLog {
    LogSource logger;
    int port;
};

void OnClientRemoved(GstElement*, GSocket*, gint status, gpointer data) noexcept
{
    if (status != kClientStatusSlow && status != kClientStatusError)
        return;
    try {
        RemovalLog& log = *static_cast<RemovalLog*>(data);
        if (status == kClientStatusSlow)
            LOG(log.logger, warning) << "Stream client on port " << log.port
                                     << " dropped: it does not take the stream fast enough";
        else
            LOG(log.logger, warning) << "Stream client on port " << log.port << " dropped after a send error";
    } catch (const std::exception&) {
        // Nothing may cross back into GStreamer; the client is gone either way.
    }
}

void FreeRemovalLog(gpointer data, GClosure*)
{
    delete static_cast<RemovalLog*>(data);
}

// The muxer's header buffers also travel in its caps as the stream header, which the sink sends to
// every client before its first buffer. A client that connected before the first buffer would get
// the header twice (as stream header and as data), and a demuxer stops at the second one.
GstPadProbeReturn DropHeaderBuffers(GstPad*, GstPadProbeInfo* info, gpointer) noexcept
{
    GstBuffer* buffer = GST_PAD_PROBE_INFO_BUFFER(info);
    if (buffer && GST_BUFFER_FLAG_IS_SET(buffer, GST_BUFFER_FLAG_HEADER))
        return GST_PAD_PROBE_DROP;
    return GST_PAD_PROBE_OK;
}

}  // namespace

void LimitStreamClients(Bin& bin, const StreamClientLimits& limits)
{
    Gst::Iterator<Gst::Element> it = bin.GetPipeline()->iterate_recurse();
    while (it.next() == Gst::ITERATOR_OK) {
        Glib::RefPtr<Gst::Element> element = *it;
        GstElementFactory* factory = gst_element_get_factory(element->gobj());
        if (!factory || std::string(GST_OBJECT_NAME(factory)) != "tcpserversink")
            continue;
        GstElement* sink = element->gobj();
        gint port = 0;
        g_object_get(sink, "port", &port, nullptr);
        gst_util_set_object_arg(G_OBJECT(sink), "unit-format", "bytes");
        g_object_set(sink, "units-max", static_cast<gint64>(limits.max_queued_bytes), "timeout",
                     static_cast<guint64>(limits.send_timeout_ns), nullptr);
        if (GstPad* pad = gst_element_get_static_pad(sink, "sink")) {
            gst_pad_add_probe(pad, GST_PAD_PROBE_TYPE_BUFFER, &DropHeaderBuffers, nullptr, nullptr);
            gst_object_unref(pad);
        }
        g_signal_connect_data(sink, "client-removed", G_CALLBACK(OnClientRemoved),
                              new RemovalLog{bin.GetLogger(), port}, &FreeRemovalLog, static_cast<GConnectFlags>(0));
    }
}

}  // namespace streaming
