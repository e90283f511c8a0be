#include "application/debug_streams.h"

#include <sstream>
#include <stdexcept>
#include <string>

#include <gstreamermm/caps.h>

#include "application/runtime/buffer_wrapper.h"
#include "application/runtime/log_channels.h"
#include "application/runtime/mat_utils.h"
#include "application/runtime/thread_manager.h"
#include "application/streaming/stream_clients.h"
#include "application/streaming/stream_start.h"

namespace {

std::string SizeText(const cv::Size& size)
{
    std::ostringstream text;
    text << "[" << size.width << " x " << size.height << "]";
    return text.str();
}

const char* FormatForChannels(int channels)
{
    switch (channels) {
    case 1: return "GRAY8";
    case 3: return "BGR";
    case 4: return "AYUV";
    default: return nullptr;
    }
}

}  // namespace

DebugStreams::DebugStreams(LogSource& logger, int stream_port, ThreadManager& manager)
    : m_logger(logger), m_stream_port(stream_port), m_manager(manager)
{
}

void DebugStreams::OnDebugImages(const std::vector<cv::Mat>& images, unsigned long long timestamp)
{
    for (std::size_t i = 0; i < images.size(); ++i) {
        const cv::Mat& image = images[i];
        if (image.depth() != CV_8U)
            throw std::runtime_error("Incorrect depth of debug image with code " + std::to_string(image.depth()));
        const cv::Size size(image.cols, image.rows);
        const int channels = image.channels();
        if (i < m_streams.size()) {
            const DebugStream& stream = m_streams[i];
            if (stream.size != size)
                throw std::runtime_error("Unexpected change of debug image resolution from " + SizeText(stream.size) +
                                         " to " + SizeText(size));
            if (stream.channels != channels)
                throw std::runtime_error("Unexpected change of debug image channels from " +
                                         std::to_string(stream.channels) + " to " + std::to_string(channels));
        } else {
            AddStream(image);
        }
        if (!m_streams[i].sink)
            continue;
        // The sink reads one block of bytes: an image that is a view into a larger one is copied.
        cv::Mat frame = image.isContinuous() ? image : image.clone();
        m_streams[i].sink->PushFrame(std::make_shared<MatBufferWrapper>(WrapMatrix(frame)), timestamp);
    }
}

void DebugStreams::AddStream(const cv::Mat& image)
{
    const std::size_t index = m_streams.size();
    Glib::RefPtr<Gst::Caps> caps = Gst::Caps::create_simple("video/x-raw");
    if (!caps)
        throw std::runtime_error("Unable to create caps for debug streamers");
    caps->set_simple("framerate", Gst::Fraction(0, 1));
    const int channels = image.channels();
    const char* format = FormatForChannels(channels);
    if (!format)
        throw std::runtime_error("Incorrect channels for debug image: " + std::to_string(channels));
    if (channels == 4)
        LOG(m_logger, warning) << "4channel debug image interpreted as AYUV";
    caps->set_simple("format", Glib::ustring(format));
    caps->set_simple("height", image.rows);
    caps->set_simple("width", image.cols);
    const cv::Size size(image.cols, image.rows);

    // A port beyond the last one would fall back to the TCP sink's default port: such an image is
    // not streamed, and the others are.
    const long long port_number = static_cast<long long>(m_stream_port) + 1 + static_cast<long long>(index);
    if (port_number > kLastPort) {
        LOG(m_logger, error) << "Debug image " << index << " is not streamed: its port stream_port + 1 + " << index
                             << " = " << port_number << " is beyond " << kLastPort;
        m_streams.push_back(DebugStream{size, channels, nullptr, nullptr});
        return;
    }
    const std::string port = std::to_string(port_number);
    const std::string name = channel::kDebugStreamPrefix + std::to_string(static_cast<unsigned>(index));
    auto sink = std::make_shared<streaming::Sink>(
        name, "matroskamux streamable=true ! tcpserversink host=0.0.0.0 sync=false port=" + port, caps);
    streaming::LimitStreamClients(*sink);
    streaming::StartClientsAtClusters(*sink);
    LOG(m_logger, info) << "Starting debug streaming on tcp port " << port << " with resolution " << SizeText(size);
    auto processor = m_manager.CreateThread<streaming::PipelineMessageProcessor>(std::ref(*sink));
    m_streams.push_back(DebugStream{size, channels, sink, processor});
}
