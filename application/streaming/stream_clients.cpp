#include "application/streaming/stream_clients.h"

#include <gio/gio.h>
#include <gst/gst.h>
#include <gstreamermm/iterator.h>

#include <algorithm>
#include <cstdint>
#include <exception>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

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

// Drops the clients of one sink that take no data for the send timeout while the stream flows.
// GStreamer's own timeout is not used: the sink checks it against a time taken before a pass over
// its clients, while its sending thread may already have marked a client active after that time,
// and the unsigned difference then drops a client that reads well (seen on slow machines whenever
// another client was dropped in the same pass).
// Clients come and go on the sink's thread; the check runs on the streaming thread, for each
// buffer, at most every tenth of the timeout. m_mutex guards the client list.
class ClientWatch {
public:
    ClientWatch(GstElement* sink, LogSource logger, int port, std::uint64_t timeout_ns)
        : m_sink(sink),
          m_logger(std::move(logger)),
          m_port(port),
          m_timeout_us(static_cast<std::int64_t>(std::min<std::uint64_t>(timeout_ns / 1000, INT64_MAX / 2)))
    {
    }
    ~ClientWatch()
    {
        for (Client& client : m_clients) g_object_unref(client.socket);
    }
    ClientWatch(const ClientWatch&) = delete;
    ClientWatch& operator=(const ClientWatch&) = delete;

    void Added(GSocket* socket)
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_clients.reserve(m_clients.size() + 1);
        m_clients.push_back({static_cast<GSocket*>(g_object_ref(socket)), 0, g_get_monotonic_time()});
    }

    void Removed(GSocket* socket)
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        auto it = std::find_if(m_clients.begin(), m_clients.end(), [&](const Client& c) { return c.socket == socket; });
        if (it == m_clients.end())
            return;
        g_object_unref(it->socket);
        m_clients.erase(it);
    }

    // Called for each buffer that reaches the sink.
    void Check()
    {
        const std::int64_t now = g_get_monotonic_time();
        // After a pause of the stream itself the clients had nothing to take: idle time counts anew.
        if (now - m_last_buffer > m_timeout_us)
            m_flowing_since = now;
        m_last_buffer = now;
        if (now - m_last_check < m_timeout_us / 10)
            return;
        m_last_check = now;

        std::vector<GSocket*> stale;
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            for (Client& client : m_clients) {
                GstStructure* stats = nullptr;
                g_signal_emit_by_name(m_sink, "get-stats", client.socket, &stats);
                guint64 sent = 0;
                if (!stats || !gst_structure_get_uint64(stats, "bytes-sent", &sent)) {
                    if (stats)
                        gst_structure_free(stats);
                    continue;
                }
                gst_structure_free(stats);
                if (sent != client.bytes_sent) {
                    client.bytes_sent = sent;
                    client.progress_at = now;
                }
                if (now - std::max(client.progress_at, m_flowing_since) > m_timeout_us)
                    stale.push_back(static_cast<GSocket*>(g_object_ref(client.socket)));
            }
        }
        // Removing a client calls back into Removed: outside the lock.
        for (GSocket* socket : stale) {
            LOG(m_logger, warning) << "Stream client on port " << m_port
                                   << " dropped: it does not take the stream fast enough";
            g_signal_emit_by_name(m_sink, "remove", socket);
            g_object_unref(socket);
        }
    }

private:
    struct Client {
        GSocket* socket;  // one reference, held until the sink lets the socket go
        guint64 bytes_sent;
        std::int64_t progress_at;  // monotonic microseconds
    };

    GstElement* m_sink;  // owns this watch
    LogSource m_logger;
    const int m_port;
    const std::int64_t m_timeout_us;
    std::int64_t m_last_buffer = 0;
    std::int64_t m_flowing_since = 0;
    std::int64_t m_last_check = 0;
    std::mutex m_mutex;
    std::vector<Client> m_clients;
};

void OnClientAdded(GstElement*, GObject* socket, gpointer data) noexcept
{
    try {
        if (G_IS_SOCKET(socket))
            static_cast<ClientWatch*>(data)->Added(G_SOCKET(socket));
    } catch (const std::exception&) {
        // Without memory for its entry the client is served unwatched; GStreamer's bound still holds.
    }
}

void OnClientSocketRemoved(GstElement*, GSocket* socket, gpointer data) noexcept
{
    static_cast<ClientWatch*>(data)->Removed(socket);
}

GstPadProbeReturn CheckClients(GstPad*, GstPadProbeInfo*, gpointer data) noexcept
{
    try {
        static_cast<ClientWatch*>(data)->Check();
    } catch (const std::exception&) {
        // Nothing may cross back into GStreamer; the next buffer checks again.
    }
    return GST_PAD_PROBE_OK;
}

void FreeClientWatch(gpointer data)
{
    delete static_cast<ClientWatch*>(data);
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

void ForEachTcpServerSink(Bin& bin, const std::function<void(GstElement*)>& visit)
{
    Gst::Iterator<Gst::Element> it = bin.GetPipeline()->iterate_recurse();
    while (it.next() == Gst::ITERATOR_OK) {
        Glib::RefPtr<Gst::Element> element = *it;
        GstElementFactory* factory = gst_element_get_factory(element->gobj());
        if (factory && std::string(GST_OBJECT_NAME(factory)) == "tcpserversink")
            visit(element->gobj());
    }
}

void LimitStreamClients(Bin& bin, const StreamClientLimits& limits)
{
    ForEachTcpServerSink(bin, [&bin, &limits](GstElement* sink) {
        gint port = 0;
        g_object_get(sink, "port", &port, nullptr);
        gst_util_set_object_arg(G_OBJECT(sink), "unit-format", "bytes");
        g_object_set(sink, "units-max", static_cast<gint64>(limits.max_queued_bytes), "timeout", guint64{0}, nullptr);
        // The watch lives as long as the sink; the probe and the handlers borrow it.
        auto* watch = new ClientWatch(sink, bin.GetLogger(), port, limits.send_timeout_ns);
        g_object_set_data_full(G_OBJECT(sink), "flowtally-client-watch", watch, &FreeClientWatch);
        g_signal_connect(sink, "client-added", G_CALLBACK(OnClientAdded), watch);
        g_signal_connect(sink, "client-socket-removed", G_CALLBACK(OnClientSocketRemoved), watch);
        if (GstPad* pad = gst_element_get_static_pad(sink, "sink")) {
            gst_pad_add_probe(pad, GST_PAD_PROBE_TYPE_BUFFER, &DropHeaderBuffers, nullptr, nullptr);
            gst_pad_add_probe(pad,
                              static_cast<GstPadProbeType>(GST_PAD_PROBE_TYPE_BUFFER | GST_PAD_PROBE_TYPE_BUFFER_LIST),
                              &CheckClients, watch, nullptr);
            gst_object_unref(pad);
        }
        g_signal_connect_data(sink, "client-removed", G_CALLBACK(OnClientRemoved),
                              new RemovalLog{bin.GetLogger(), port}, &FreeRemovalLog, static_cast<GConnectFlags>(0));
    });
}

}  // namespace streaming
