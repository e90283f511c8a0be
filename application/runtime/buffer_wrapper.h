#pragma once

#include <cstddef>
#include <memory>
#include <vector>

#include <opencv2/core.hpp>

#include <gst/gst.h>
#include <gstreamermm/sample.h>

// A read-only view of one frame's bytes that keeps whatever owns the bytes alive.
class IBufferWrapper {
public:
    virtual const unsigned char* GetData() const = 0;
    virtual std::size_t GetSize() const = 0;
    virtual ~IBufferWrapper() = default;
};

// Owns one reference to a GstBuffer and its read-only mapping: unmaps, then drops the reference.
class GstBufferMapping {
public:
    // Takes a new reference to the buffer and maps it for reading.
    // Throws std::runtime_error("Unable to map sample buffer"), holding nothing, when mapping fails.
    explicit GstBufferMapping(GstBuffer* buffer);
    ~GstBufferMapping();
    GstBufferMapping(const GstBufferMapping&) = delete;
    GstBufferMapping& operator=(const GstBufferMapping&) = delete;

    unsigned char* GetData() const { return m_info.data; }
    std::size_t GetSize() const { return m_info.size; }
    GstBuffer* GetBuffer() const { return m_buffer; }

private:
    GstBuffer* m_buffer;  // one full reference, dropped by the destructor
    GstMapInfo m_info;
};

// The bytes of an OpenCV matrix; the matrix stays alive as long as the wrapper.
class MatBufferWrapper : public IBufferWrapper {
public:
    // The matrix must be non-null, non-empty and continuous.
    explicit MatBufferWrapper(std::shared_ptr<cv::Mat> mat);

    const unsigned char* GetData() const override;
    std::size_t GetSize() const override;

private:
    std::shared_ptr<cv::Mat> m_mat;
};

// The bytes of a GStreamer sample's buffer, read in place while the wrapper lives.
class GstreamerBufferWrapper : public IBufferWrapper {
public:
    // Throws std::runtime_error("Unable to get sample buffer") or ("Unable to map sample buffer").
    explicit GstreamerBufferWrapper(const Glib::RefPtr<Gst::Sample>& sample);

    const unsigned char* GetData() const override;
    std::size_t GetSize() const override;

private:
    std::unique_ptr<GstBufferMapping> m_mapping;
};

// Bytes owned by the wrapper itself.
class DataBufferWrapper : public IBufferWrapper {
public:
    explicit DataBufferWrapper(std::vector<unsigned char> data);

    const unsigned char* GetData() const override;
    unsigned char* GetData();
    std::size_t GetSize() const override;

private:
    std::vector<unsigned char> m_data;
};
