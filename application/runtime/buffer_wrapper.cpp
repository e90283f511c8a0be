#include "application/runtime/buffer_wrapper.h"

#include <cassert>
#include <stdexcept>
#include <utility>

GstBufferMapping::GstBufferMapping(GstBuffer* buffer) : m_buffer(gst_buffer_ref(buffer)), m_info()
{
    if (!gst_buffer_map(m_buffer, &m_info, GST_MAP_READ)) {
        gst_buffer_unref(m_buffer);
        throw std::runtime_error("Unable to map sample buffer");
    }
}

GstBufferMapping::~GstBufferMapping()
{
    gst_buffer_unmap(m_buffer, &m_info);
    gst_buffer_unref(m_buffer);
}

MatBufferWrapper::MatBufferWrapper(std::shared_ptr<cv::Mat> mat) : m_mat(std::move(mat))
{
    assert(m_mat && "Null matrix pointer");
    assert(!m_mat->empty() && "Empty matrix");
    assert(m_mat->isContinuous() && "Matrix is not continuous");
}

const unsigned char* MatBufferWrapper::GetData() const
{
    return m_mat->data;
}

std::size_t MatBufferWrapper::GetSize() const
{
    return m_mat->total() * m_mat->elemSize();
}

GstreamerBufferWrapper::GstreamerBufferWrapper(const Glib::RefPtr<Gst::Sample>& sample)
{
    GstBuffer* buffer = sample ? gst_sample_get_buffer(sample->gobj()) : nullptr;
    if (!buffer)
        throw std::runtime_error("Unable to get sample buffer");
    m_mapping = std::make_unique<GstBufferMapping>(buffer);
}

const unsigned char* GstreamerBufferWrapper::GetData() const
{
    return m_mapping->GetData();
}

std::size_t GstreamerBufferWrapper::GetSize() const
{
    return m_mapping->GetSize();
}

DataBufferWrapper::DataBufferWrapper(std::vector<unsigned char> data) : m_data(std::move(data)) {}

const unsigned char* DataBufferWrapper::GetData() const
{
    return m_data.data();
}

unsigned char* DataBufferWrapper::GetData()
{
    return m_data.data();
}

std::size_t DataBufferWrapper::GetSize() const
{
    return m_data.size();
}
