#include "application/streaming/stream_start.h"

#include <string>

#include <gst/gst.h>
#include <gstreamermm/iterator.h>

namespace streaming {

void StartClientsAtClusters(Bin& bin)
{
    Gst::Iterator<Gst::Element> it = bin.GetPipeline()->iterate_recurse();
    while (it.next() == Gst::ITERATOR_OK) {
        Glib::RefPtr<Gst::Element> element = *it;
        GstElementFactory* factory = gst_element_get_factory(element->gobj());
        if (!factory || std::string(GST_OBJECT_NAME(factory)) != "tcpserversink")
            continue;
        // The muxer marks each cluster start as the only buffer that is not a delta unit. A client
        // waits for the next one (at most a cluster's length) instead of starting in the past, so it
        // starts live and never begins with a backlog that its queue limit would count against it.
        gst_util_set_object_arg(G_OBJECT(element->gobj()), "sync-method", "next-keyframe");
    }
}

}  // namespace streaming
