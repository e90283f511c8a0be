#include "application/streaming/pipeline_message_processor.h"

#include <exception>
#include <memory>
#include <string>

#include <gstreamermm/bus.h>
#include <gstreamermm/message.h>
#include <gstreamermm/pipeline.h>

#include "application/runtime/log_channels.h"

namespace streaming {

namespace {

constexpr GstClockTime kBusPollTimeout = 100 * GST_MSECOND;
// How long a refused state change waits for the error that explains it: an element may post its
// error from its own thread just after the refusal.
constexpr int kErrorGracePolls = 10;

struct GFreeDeleter {
    void operator()(gchar* text) const { g_free(text); }
};
using GText = std::unique_ptr<gchar, GFreeDeleter>;

struct GErrorDeleter {
    void operator()(GError* error) const { g_error_free(error); }
};

// True for the error a source posts when no format and size suit both it and the elements after
// it (GStreamer calls it "Internal data stream error." and names the reason only in its details).
bool IsNotNegotiated(GstMessage* message, const GError* error)
{
    if (!error || !g_error_matches(error, GST_STREAM_ERROR, GST_STREAM_ERROR_FAILED))
        return false;
    const GstStructure* details = nullptr;
    gst_message_parse_error_details(message, &details);
    gint flow = GST_FLOW_OK;
    return details && gst_structure_get_int(details, "flow-return", &flow) && flow == GST_FLOW_NOT_NEGOTIATED;
}

// The reason of an error message's details: their last line (the lines before name the source
// file, the function and the element's path).
std::string DetailReason(const gchar* debug)
{
    if (!debug)
        return std::string();
    std::string details(debug);
    while (!details.empty() && (details.back() == '\n' || details.back() == ' '))
        details.pop_back();
    const auto line_start = details.rfind('\n');
    return line_start == std::string::npos ? std::string() : details.substr(line_start + 1);
}

std::string ErrorText(GstMessage* message)
{
    GError* raw_error = nullptr;
    gchar* raw_debug = nullptr;
    gst_message_parse_error(message, &raw_error, &raw_debug);
    std::unique_ptr<GError, GErrorDeleter> error(raw_error);
    GText debug(raw_debug);
    GstObject* source = GST_MESSAGE_SRC(message);
    const std::string source_name = source && GST_OBJECT_NAME(source) ? GST_OBJECT_NAME(source) : "an element";

    if (IsNotNegotiated(message, error.get()))
        return "Caps do not match: " + source_name +
               " and the elements after it accept no common format and size (not-negotiated)";

    std::string text = error && error->message ? error->message : std::string();
    // The messages of network elements do not say which port failed, nor why (e.g. a stream port
    // that is already in use): name the element and its port, and add the reason from the details.
    if (source && G_IS_OBJECT(source)) {
        GParamSpec* port = g_object_class_find_property(G_OBJECT_GET_CLASS(source), "port");
        if (port && port->value_type == G_TYPE_INT) {
            gint number = 0;
            g_object_get(source, "port", &number, nullptr);
            const std::string port_text = std::to_string(number);
            text += " (" + source_name + ", port " + port_text + ")";
            const std::string reason = DetailReason(debug.get());
            if (reason.find("Address already in use") != std::string::npos)
                text += ": port " + port_text + " is in use";
            if (!reason.empty())
                text += ": " + reason;
        }
    }
    return text;
}

}  // namespace

PipelineMessageProcessor::PipelineMessageProcessor(Bin& bin, ThreadManager& manager)
    : BaseThread(channel::kPipelineThreadPrefix + bin.GetName(), manager), m_bin(bin)
{
    auto pipeline = m_bin.GetPipeline();
    if (pipeline && GST_OBJECT_PARENT(pipeline->gobj()) != nullptr)
        m_bin.ThrowError("Unable to run pipeline for Bin which has parent Bin");
}

void PipelineMessageProcessor::ThreadFunc()
{
    LOG(m_bin.GetLogger(), info) << " Pipeline thread is starting...";
    RunPipeline();
    m_bin.GetPipeline()->set_state(Gst::STATE_NULL);
}

void PipelineMessageProcessor::RunPipeline()
{
    auto pipeline = m_bin.GetPipeline();
    LogSource& logger = m_bin.GetLogger();
    try {
        m_is_live = false;
        LOG(logger, trace) << "Setting pipeline to PAUSED...";
        switch (pipeline->set_state(Gst::STATE_PAUSED)) {
            case Gst::STATE_CHANGE_FAILURE:
                ThrowFirstBusError("Pipeline does not want to pause");
            case Gst::STATE_CHANGE_NO_PREROLL:
                LOG(logger, trace) << "Pipeline is live and does not need PREROLL";
                m_is_live = true;
                break;
            case Gst::STATE_CHANGE_ASYNC:
                LOG(logger, trace) << "Pipeline is PREROLLING...";
                if (!EventLoop(true, true, Gst::STATE_PAUSED))
                    return;
                LOG(logger, trace) << "Pipeline is PREROLLED";
                break;
            case Gst::STATE_CHANGE_SUCCESS:
                LOG(logger, trace) << "Pipeline is PREROLLED";
                break;
        }

        if (!EventLoop(false, true, Gst::STATE_PLAYING))
            return;

        LOG(logger, trace) << "Setting pipeline to PLAYING...";
        if (pipeline->set_state(Gst::STATE_PLAYING) == Gst::STATE_CHANGE_FAILURE)
            m_bin.ThrowError("Unable to change pipeline state to playing");

        EventLoop(true, false, Gst::STATE_PLAYING);
    } catch (const std::exception&) {
        pipeline->set_state(Gst::STATE_NULL);
        throw;
    }
}

void PipelineMessageProcessor::ThrowFirstBusError(const std::string& fallback)
{
    auto bus = m_bin.GetPipeline()->get_bus();
    if (!bus)
        m_bin.ThrowError("Unable to get gstreamer pipeline bus");
    // Only errors are taken off the bus here: an earlier message of another kind (a buffering or
    // progress report) must not hide the error behind it.
    for (int poll = 0; poll < kErrorGracePolls && !IsTerminated(); ++poll) {
        GstMessage* raw = gst_bus_timed_pop_filtered(bus->gobj(), kBusPollTimeout, GST_MESSAGE_ERROR);
        if (raw) {
            Glib::RefPtr<Gst::Message> message = Glib::wrap(raw);
            m_bin.ThrowError("GStreamer error: " + ErrorText(raw));
        }
    }
    m_bin.ThrowError(fallback);
}

bool PipelineMessageProcessor::EventLoop(bool blocking, bool do_progress, Gst::State target_state)
{
    auto bus = m_bin.GetPipeline()->get_bus();
    if (!bus)
        m_bin.ThrowError("Unable to get gstreamer pipeline bus");

    BusWait wait{blocking, do_progress, target_state, target_state != Gst::STATE_PAUSED};
    while (!IsTerminated()) {
        Glib::RefPtr<Gst::Message> message = bus->pop(wait.blocking ? kBusPollTimeout : 0);
        if (!message) {
            if (!wait.blocking)
                return true;
            continue;
        }
        if (HandleMessage(message->gobj(), wait))
            return true;
    }
    return false;
}

bool PipelineMessageProcessor::HandleMessage(GstMessage* message, BusWait& wait)
{
    switch (GST_MESSAGE_TYPE(message)) {
        case GST_MESSAGE_EOS:
            m_bin.ThrowError("Got EOS");
        case GST_MESSAGE_ERROR:
            m_bin.ThrowError("GStreamer error: " + ErrorText(message));
        case GST_MESSAGE_BUFFERING:
            return OnBuffering(message, wait);
        case GST_MESSAGE_STATE_CHANGED:
            return OnStateChanged(message, wait);
        case GST_MESSAGE_PROGRESS:
            return OnProgress(message, wait);
        case GST_MESSAGE_REQUEST_STATE:
            OnRequestState(message);
            return false;
        case GST_MESSAGE_CLOCK_LOST:
            OnClockLost();
            return false;
        default:
            return false;
    }
}

// A network source fills its buffer: while playing, the pipeline pauses until the buffer is full
// again. A live pipeline cannot pause, so its reports are ignored.
bool PipelineMessageProcessor::OnBuffering(GstMessage* message, BusWait& wait)
{
    if (m_is_live)
        return false;
    auto pipeline = m_bin.GetPipeline();
    gint percent = 0;
    gst_message_parse_buffering(message, &percent);
    if (percent < 100) {
        if (!wait.buffering && wait.target_state == Gst::STATE_PLAYING) {
            LOG(m_bin.GetLogger(), trace) << "Buffering, setting pipeline to PAUSED...";
            pipeline->set_state(Gst::STATE_PAUSED);
        }
        wait.buffering = true;
        return false;
    }
    wait.buffering = false;
    if (wait.target_state == Gst::STATE_PLAYING) {
        LOG(m_bin.GetLogger(), trace) << "Done buffering, setting pipeline to PLAYING...";
        pipeline->set_state(Gst::STATE_PLAYING);
        return false;
    }
    return wait.prerolled && !wait.in_progress;
}

// The preroll wait ends when the pipeline itself reaches PAUSED, unless buffering or a progress
// report is still open; elements' own state changes say nothing about the whole.
bool PipelineMessageProcessor::OnStateChanged(GstMessage* message, BusWait& wait)
{
    if (wait.target_state != Gst::STATE_PAUSED || GST_MESSAGE_SRC(message) != GST_OBJECT(m_bin.GetPipeline()->gobj()))
        return false;
    GstState new_state = GST_STATE_VOID_PENDING;
    gst_message_parse_state_changed(message, nullptr, &new_state, nullptr);
    if (new_state != GST_STATE_PAUSED)
        return false;
    if (wait.buffering) {
        LOG(m_bin.GetLogger(), trace) << "Prerolled, waiting for buffering to finish...";
        wait.prerolled = true;
        return false;
    }
    if (wait.in_progress) {
        LOG(m_bin.GetLogger(), trace) << "Prerolled, waiting for progress to finish...";
        wait.prerolled = true;
        return false;
    }
    return true;
}

// An element that works in the background (connecting, opening) reports its progress; while a
// report is open the wait blocks, and it ends when the last report closes.
bool PipelineMessageProcessor::OnProgress(GstMessage* message, BusWait& wait)
{
    GstProgressType type = GST_PROGRESS_TYPE_START;
    gchar* raw_code = nullptr;
    gchar* raw_text = nullptr;
    gst_message_parse_progress(message, &type, &raw_code, &raw_text);
    GText code(raw_code);
    GText text(raw_text);
    const bool opens = type == GST_PROGRESS_TYPE_START || type == GST_PROGRESS_TYPE_CONTINUE;
    const bool closes =
        type == GST_PROGRESS_TYPE_COMPLETE || type == GST_PROGRESS_TYPE_CANCELED || type == GST_PROGRESS_TYPE_ERROR;
    if (opens && wait.do_progress) {
        wait.in_progress = true;
        wait.blocking = true;
    } else if (closes) {
        wait.in_progress = false;
    }
    return wait.do_progress && !wait.in_progress && wait.prerolled && !wait.buffering;
}

void PipelineMessageProcessor::OnRequestState(GstMessage* message)
{
    GstState state = GST_STATE_VOID_PENDING;
    gst_message_parse_request_state(message, &state);
    LOG(m_bin.GetLogger(), trace) << "Setting state to " << gst_element_state_get_name(state) << "...";
    m_bin.GetPipeline()->set_state(static_cast<Gst::State>(state));
}

void PipelineMessageProcessor::OnClockLost()
{
    LOG(m_bin.GetLogger(), trace) << "Clock lost, selecting a new one";
    auto pipeline = m_bin.GetPipeline();
    pipeline->set_state(Gst::STATE_PAUSED);
    pipeline->set_state(Gst::STATE_PLAYING);
}

}  // namespace streaming
