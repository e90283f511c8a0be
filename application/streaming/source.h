#pragma once

#include <map>
#include <memory>
#include <string>

#include <boost/optional.hpp>

#include <gstreamermm/appsink.h>
#include <gstreamermm/sample.h>

#include "application/runtime/signals2.h"
#include "application/streaming/bin.h"

namespace streaming {

// A capture pipeline that hands its frames to subscribers, either in the pipeline's own format or
// converted to a raw-video format ("GRAY8", "BGR", ...). Each distinct format gets one branch
// ending in an appsink and one frame signal shared by all its subscribers. Slots run
// synchronously on the branch's GStreamer streaming thread: a slot that blocks holds up capture.
class Source : public Bin {
public:
    // (sample, presentation time stamp in ns; GST_CLOCK_TIME_NONE when the buffer has none)
    using FrameSignal = boost::signals2::signal<void(Glib::RefPtr<Gst::Sample>, unsigned long long)>;
    using FrameSlot = FrameSignal::slot_type;
    using FrameSignalPtr = std::shared_ptr<FrameSignal>;

    explicit Source(const std::string& name);
    Source(const std::string& name, const std::string& description);
    ~Source() override;

    // Subscribes to frames converted to `format`, building its branch on first use.
    boost::signals2::connection DoOnFrame(const FrameSlot& slot, const std::string& format);
    // Subscribes to frames in the pipeline's own format.
    boost::signals2::connection DoOnFrame(const FrameSlot& slot);

    // Builds the branch of a format (empty: native) unless it exists already.
    void AddFormat(const boost::optional<std::string>& format);
    void AddFormatToPipeline(const boost::optional<std::string>& format, FrameSignalPtr signal);
    // Wraps the element into a branch bin "Src_" + element name, converting to `format` when
    // given, and attaches the branch behind this pipeline's tail.
    void AddFormatToPipeline(const boost::optional<std::string>& format, Glib::RefPtr<Gst::Element> element);
    Glib::RefPtr<Gst::AppSink> CreateAppSink(FrameSignalPtr signal, const std::string& name);
    // The appsink's new-sample handler. Emits the frame signal; any failure, a subscriber's
    // exception included, is logged on this bin's channel and answered with a flow error, which
    // makes the pipeline post an error message.
    Gst::FlowReturn PullSample(FrameSignalPtr signal, Gst::AppSink& appsink);

    using Bin::AddBin;
    // Keeps the child and feeds its pipeline with this source's frames converted to `format`.
    void AddBin(BinPtr child, const std::string& format);

private:
    std::map<boost::optional<std::string>, FrameSignalPtr> m_signals;
};

}  // namespace streaming
