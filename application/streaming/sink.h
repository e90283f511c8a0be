#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>

#include <gstreamermm/appsrc.h>
#include <gstreamermm/caps.h>
#include <sigc++/connection.h>

#include "application/runtime/buffer_wrapper.h"
#include "application/streaming/bin.h"

namespace streaming {

// An output pipeline "appsrc name=head ! " + description fed with finished frames. Frames are
// handed to GStreamer without copying and without ever blocking the producer: while the appsrc
// has enough data (or before it first asks for data) frames are dropped.
class Sink : public Bin {
public:
    Sink(const std::string& name, const std::string& description, Glib::RefPtr<Gst::Caps> caps);
    Sink(const std::string& name, Glib::RefPtr<Gst::Caps> caps);
    ~Sink() override;

    Glib::RefPtr<Gst::Pipeline> CreatePipelineWithAppSrc(const std::string& description, Glib::RefPtr<Gst::Caps> caps);
    // Offers one frame with its time stamp in nanoseconds; never fails towards the caller. A null
    // or empty frame is dropped.
    void PushFrame(std::shared_ptr<IBufferWrapper> frame, unsigned long long timestamp);

private:
    void OnNeedData();
    void OnEnoughData();

    std::atomic<bool> m_accepting{false};
    Glib::RefPtr<Gst::AppSrc> m_appsrc;
    std::uint64_t m_largest_frame = 0;
    sigc::connection m_need_data;
    sigc::connection m_enough_data;
};

}  // namespace streaming
