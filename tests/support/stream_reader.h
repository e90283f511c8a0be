#pragma once

#include <stdexcept>
#include <string>

#include <gst/app/gstappsink.h>
#include <gst/gst.h>

namespace testing_support {

// A GStreamer client that reads one Matroska stream from 127.0.0.1 and keeps the first frame's caps.
class StreamReader {
public:
    explicit StreamReader(int port)
    {
        const std::string description = "tcpclientsrc host=127.0.0.1 port=" + std::to_string(port) +
                                        " ! matroskademux ! appsink name=out sync=false";
        GError* error = nullptr;
        m_pipeline = gst_parse_launch(description.c_str(), &error);
        if (error) {
            const std::string message = error->message;
            g_error_free(error);
            throw std::runtime_error(message);
        }
        m_sink = gst_bin_get_by_name(GST_BIN(m_pipeline), "out");
        gst_element_set_state(m_pipeline, GST_STATE_PLAYING);
    }
    ~StreamReader()
    {
        gst_element_set_state(m_pipeline, GST_STATE_NULL);
        gst_object_unref(m_sink);
        gst_object_unref(m_pipeline);
    }
    StreamReader(const StreamReader&) = delete;
    StreamReader& operator=(const StreamReader&) = delete;

    // "format width x height" of the first frame, empty when none came in time.
    std::string FirstFrameFormat()
    {
        GstSample* sample = gst_app_sink_try_pull_sample(GST_APP_SINK(m_sink), 10 * GST_SECOND);
        if (!sample)
            return "";
        GstBuffer* buffer = gst_sample_get_buffer(sample);
        m_first_frame_timed = buffer && GST_BUFFER_PTS_IS_VALID(buffer);
        const GstStructure* structure = gst_caps_get_structure(gst_sample_get_caps(sample), 0);
        int width = 0;
        int height = 0;
        gst_structure_get_int(structure, "width", &width);
        gst_structure_get_int(structure, "height", &height);
        const std::string result = std::string(gst_structure_get_string(structure, "format")) + " " +
                                   std::to_string(width) + "x" + std::to_string(height);
        gst_sample_unref(sample);
        return result;
    }

    // Whether the frame FirstFrameFormat read carried a time stamp (a demuxer that got frames
    // before its segment gives them none).
    bool FirstFrameTimed() const { return m_first_frame_timed; }

private:
    bool m_first_frame_timed = false;
    GstElement* m_pipeline = nullptr;
    GstElement* m_sink = nullptr;
};

}  // namespace testing_support
