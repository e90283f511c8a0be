#include "application/streaming/stream_start.h"

#include <gst/gst.h>

#include "application/streaming/stream_clients.h"

namespace streaming {

void StartClientsAtClusters(Bin& bin)
{
    ForEachTcpServerSink(bin, [](GstElement* sink) {
        // The muxer marks each cluster start as the only buffer that is not a delta unit. A client
        // waits for the next one (at most a cluster's length) instead of starting in the past, so it
        // starts live and never begins with a backlog that its queue limit would count against it.
        gst_util_set_object_arg(G_OBJECT(sink), "sync-method", "next-keyframe");
    });
}

}  // namespace streaming
