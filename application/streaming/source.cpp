#include "application/streaming/source.h"

#include <exception>
#include <utility>

#include <gstreamermm/elementfactory.h>

namespace streaming {

Source::Source(const std::string& name) : Source(name, std::string()) {}

Source::Source(const std::string& name, const std::string& description) : Bin(name, description) {}

Source::~Source()
{
    m_signals.clear();
}

boost::signals2::connection Source::DoOnFrame(const FrameSlot& slot, const std::string& format)
{
    const boost::optional<std::string> key(format);
    AddFormat(key);
    return m_signals.at(key)->connect(slot);
}

boost::signals2::connection Source::DoOnFrame(const FrameSlot& slot)
{
    const boost::optional<std::string> key;
    AddFormat(key);
    return m_signals.at(key)->connect(slot);
}

void Source::AddFormat(const boost::optional<std::string>& format)
{
    if (m_signals.count(format) != 0)
        return;
    auto signal = std::make_shared<FrameSignal>();
    AddFormatToPipeline(format, signal);
    m_signals.emplace(format, std::move(signal));
}

void Source::AddFormatToPipeline(const boost::optional<std::string>& format, FrameSignalPtr signal)
{
    const std::string appsink_name = (format ? *format : std::string("ID")) + GetName();
    AddFormatToPipeline(format, CreateAppSink(std::move(signal), appsink_name));
}

void Source::AddFormatToPipeline(const boost::optional<std::string>& format, Glib::RefPtr<Gst::Element> element)
{
    if (format)
        LOG(GetLogger(), trace) << "Adding conversion to " << *format << "...";
    else
        LOG(GetLogger(), trace) << "Adding branch with no conversion...";

    auto branch = Gst::Pipeline::create("Src_" + element->get_name());
    if (!branch)
        ThrowError("Unable to create pipeline");
    branch->add(element);

    if (format) {
        auto convert = Gst::ElementFactory::create_element("videoconvert");
        if (!convert)
            ThrowError("Unable to create videoconvert");
        auto filter = Gst::ElementFactory::create_element("capsfilter");
        if (!filter)
            ThrowError("Unable to create capsfilter");
        GstCaps* parsed = gst_caps_from_string(("video/x-raw,format=" + *format).c_str());
        if (!parsed)
            ThrowError("Unable to create capabilities for " + *format);
        g_object_set(filter->gobj(), "caps", parsed, nullptr);
        gst_caps_unref(parsed);
        branch->add(convert);
        branch->add(filter);
        convert->link(filter);
        CheckElementSinkPad(element);
        filter->link(element);
    }
    CheckElementSinkPad(branch);
    AddElement(branch);
}

Glib::RefPtr<Gst::AppSink> Source::CreateAppSink(FrameSignalPtr signal, const std::string& name)
{
    auto appsink = Gst::AppSink::create(name);
    if (!appsink)
        ThrowError("Unable to create appsink");
    appsink->property_emit_signals() = true;
    appsink->property_sync() = false;
    // The handler borrows the appsink: a counted reference inside its own signal would keep it
    // alive forever.
    appsink->signal_new_sample().connect(
        [this, signal = std::move(signal), sink = appsink.operator->()]() { return PullSample(signal, *sink); }, true);
    return appsink;
}

Gst::FlowReturn Source::PullSample(FrameSignalPtr signal, Gst::AppSink& appsink)
{
    try {
        Glib::RefPtr<Gst::Sample> sample = appsink.pull_sample();
        if (!sample)
            ThrowError("Unable to pull sample");
        if (appsink.property_eos().get_value())
            return Gst::FLOW_OK;
        GstBuffer* buffer = gst_sample_get_buffer(sample->gobj());
        if (!buffer)
            ThrowError("Unable to get sample buffer");
        const unsigned long long timestamp = GST_BUFFER_PTS(buffer);
        (*signal)(sample, timestamp);
        return Gst::FLOW_OK;
    } catch (const std::exception& error) {
        LOG(GetLogger(), error) << "Frame delivery failed: " << error.what();
    } catch (...) {
        LOG(GetLogger(), error) << "Frame delivery failed: unknown exception";
    }
    return Gst::FLOW_ERROR;
}

void Source::AddBin(BinPtr child, const std::string& format)
{
    AddChildBin(child);
    AddFormatToPipeline(boost::optional<std::string>(format), child->GetPipeline());
}

}  // namespace streaming
