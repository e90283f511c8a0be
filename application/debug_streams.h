#pragma once

#include <memory>
#include <vector>

#include <opencv2/core.hpp>

#include "application/runtime/logger.h"
#include "application/streaming/pipeline_message_processor.h"
#include "application/streaming/sink.h"

class ThreadManager;

// Serves image i of every debug-image emission as a Matroska stream on TCP port
// stream_port + 1 + i (all interfaces). A stream is created the first time its index appears and
// keeps the size and channel count of that first image for the whole run. An image whose port
// would pass 65535 is not streamed (an error names it once); the others are.
class DebugStreams {
public:
    static constexpr long long kLastPort = 65535;

    struct DebugStream {
        cv::Size size;
        int channels = 0;
        std::shared_ptr<streaming::Sink> sink;  // null: not streamed, its port is beyond kLastPort
        std::shared_ptr<streaming::PipelineMessageProcessor> processor;
    };

    // `logger` and `manager` are owned by the start-up code and outlive this object.
    DebugStreams(LogSource& logger, int stream_port, ThreadManager& manager);

    // The debug-image slot; runs on the algorithm thread. Throws std::runtime_error on an image of
    // another depth, an unsupported channel count or a change of an existing stream's format.
    void OnDebugImages(const std::vector<cv::Mat>& images, unsigned long long timestamp);

    const std::vector<DebugStream>& Streams() const { return m_streams; }

private:
    void AddStream(const cv::Mat& image);

    LogSource& m_logger;
    int m_stream_port;
    ThreadManager& m_manager;
    std::vector<DebugStream> m_streams;
};
