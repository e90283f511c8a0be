#include "application/streaming/pipeline_message_processor.h"
#include "application/runtime/log_channels.h"

#include <exception>
#include <memory>
#include <string>

#include <gstreamermm/bus.h>
#include <gstreamermm/message.h>
#include <gstreamermm/pipeline.h>

namespace streaming {

namespace {

constexpr GstClockTime kBusPollTimeout = 100 * GST_MSECOND;

struct GFreeDeleter {
    void operator()(gchar* text) const { g_free(text); }
};
using GText = std::unique_ptr<gchar, GFreeDeleter>;

struct GErrorDeleter {
    void operator()(GError* error) const { g_error_free(error); }
};

std::string ErrorText(GstMessage* message)
{
    GError* raw_error = nullptr;
    gchar* raw_debug = nullptr;
    gst_message_parse_error(message, &raw_error, &raw_debug);
    std::unique_ptr<GError, GErrorDeleter> error(raw_error);
    GText debug(raw_debug);
    std::string text = error && error->message ? error->message : std::string();

    // The messages of network elements do not say which port failed (e.g. a stream port that is
    // already in use): name the element and its port.
    GstObject* source = GST_MESSAGE_SRC(message);
    if (source && G_IS_OBJECT(source)) {
        GParamSpec* port = g_object_class_find_property(G_OBJECT_GET_CLASS(source), "port");
        if (port && port->value_type == G_TYPE_INT) {
            gint number = 0;
            g_object_get(source, "port", &number, nullptr);
            text += " (" + std::string(GST_OBJECT_NAME(source)) + ", port " + std::to_string(number) + ")";
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
                EventLoop(false, false, Gst::STATE_VOID_PENDING);
                m_bin.ThrowError("Pipeline does not want to pause");
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

bool PipelineMessageProcessor::EventLoop(bool blocking, bool do_progress, Gst::State target_state)
{
    auto pipeline = m_bin.GetPipeline();
    LogSource& logger = m_bin.GetLogger();
    auto bus = pipeline->get_bus();
    if (!bus)
        m_bin.ThrowError("Unable to get gstreamer pipeline bus");

    bool in_progress = false;
    bool buffering = false;
    bool prerolled = target_state != Gst::STATE_PAUSED;

    while (true) {
        if (IsTerminated())
            return false;
        Glib::RefPtr<Gst::Message> message = bus->pop(blocking ? kBusPollTimeout : 0);
        if (!message) {
            if (!blocking)
                return true;
            continue;
        }
        GstMessage* raw = message->gobj();

        switch (GST_MESSAGE_TYPE(raw)) {
            case GST_MESSAGE_EOS:
                m_bin.ThrowError("Got EOS");
            case GST_MESSAGE_ERROR:
                m_bin.ThrowError("GStreamer error: " + ErrorText(raw));
            case GST_MESSAGE_BUFFERING: {
                if (m_is_live)
                    break;
                gint percent = 0;
                gst_message_parse_buffering(raw, &percent);
                if (percent == 100) {
                    buffering = false;
                    if (target_state == Gst::STATE_PLAYING) {
                        LOG(logger, trace) << "Done buffering, setting pipeline to PLAYING...";
                        pipeline->set_state(Gst::STATE_PLAYING);
                    } else if (prerolled && !in_progress) {
                        return true;
                    }
                } else {
                    if (!buffering && target_state == Gst::STATE_PLAYING) {
                        LOG(logger, trace) << "Buffering, setting pipeline to PAUSED...";
                        pipeline->set_state(Gst::STATE_PAUSED);
                    }
                    buffering = true;
                }
                break;
            }
            case GST_MESSAGE_STATE_CHANGED: {
                if (GST_MESSAGE_SRC(raw) != GST_OBJECT(pipeline->gobj()) || target_state != Gst::STATE_PAUSED)
                    break;
                GstState new_state = GST_STATE_VOID_PENDING;
                gst_message_parse_state_changed(raw, nullptr, &new_state, nullptr);
                if (new_state != GST_STATE_PAUSED)
                    break;
                if (buffering) {
                    LOG(logger, trace) << "Prerolled, waiting for buffering to finish...";
                    prerolled = true;
                } else if (in_progress) {
                    LOG(logger, trace) << "Prerolled, waiting for progress to finish...";
                    prerolled = true;
                } else {
                    return true;
                }
                break;
            }
            case GST_MESSAGE_PROGRESS: {
                GstProgressType type = GST_PROGRESS_TYPE_START;
                gchar* raw_code = nullptr;
                gchar* raw_text = nullptr;
                gst_message_parse_progress(raw, &type, &raw_code, &raw_text);
                GText code(raw_code);
                GText text(raw_text);
                switch (type) {
                    case GST_PROGRESS_TYPE_START:
                    case GST_PROGRESS_TYPE_CONTINUE:
                        if (do_progress) {
                            in_progress = true;
                            blocking = true;
                        }
                        break;
                    case GST_PROGRESS_TYPE_COMPLETE:
                    case GST_PROGRESS_TYPE_CANCELED:
                    case GST_PROGRESS_TYPE_ERROR:
                        in_progress = false;
                        break;
                }
                if (do_progress && !in_progress && prerolled && !buffering)
                    return true;
                break;
            }
            case GST_MESSAGE_REQUEST_STATE: {
                GstState state = GST_STATE_VOID_PENDING;
                gst_message_parse_request_state(raw, &state);
                LOG(logger, trace) << "Setting state to " << gst_element_state_get_name(state) << "...";
                pipeline->set_state(static_cast<Gst::State>(state));
                break;
            }
            case GST_MESSAGE_CLOCK_LOST:
                LOG(logger, trace) << "Clock lost, selecting a new one";
                pipeline->set_state(Gst::STATE_PAUSED);
                pipeline->set_state(Gst::STATE_PLAYING);
                break;
            default:
                break;
        }
    }
}

}  // namespace streaming
