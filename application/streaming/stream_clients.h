#pragma once

#include <cstdint>
#include <functional>

#include <gst/gst.h>

#include "application/streaming/bin.h"

namespace streaming {

// What a TCP server sink keeps for each of its clients.
struct StreamClientLimits {
    // Bytes queued for one client; a client further behind is dropped.
    std::int64_t max_queued_bytes = 4 * 1024 * 1024;
    // A client that takes no data for this long while the stream flows (a stalled reader or a peer
    // that has gone) is dropped.
    std::uint64_t send_timeout_ns = 5ull * 1000 * 1000 * 1000;
};

// Calls `visit` with every TCP server sink in the bin, nested bins included.
void ForEachTcpServerSink(Bin& bin, const std::function<void(GstElement*)>& visit);

// Bounds the per-client queue and sets the send timeout of every TCP server sink in the bin
// (on the parsed elements, so the bin's description stays as written), and logs each client
// dropped for either reason on the bin's channel. Call before the bin leaves the NULL state.
void LimitStreamClients(Bin& bin, const StreamClientLimits& limits = StreamClientLimits());

}  // namespace streaming
