#pragma once

#include <string>
#include <vector>

#include <gst/gst.h>
#include <gstreamermm/sample.h>

namespace streaming_test {

// A sample over a new buffer holding `bytes`, with the caps given as text (none when empty).
inline Glib::RefPtr<Gst::Sample> MakeSample(const std::vector<unsigned char>& bytes, const std::string& caps_text)
{
    GstBuffer* buffer = gst_buffer_new_allocate(nullptr, bytes.size(), nullptr);
    gst_buffer_fill(buffer, 0, bytes.data(), bytes.size());
    GstCaps* caps = caps_text.empty() ? nullptr : gst_caps_from_string(caps_text.c_str());
    GstSample* sample = gst_sample_new(buffer, caps, nullptr, nullptr);
    gst_buffer_unref(buffer);
    if (caps)
        gst_caps_unref(caps);
    return Glib::wrap(sample, false);
}

// Sets a flag when a buffer is freed.
class BufferWatch {
public:
    explicit BufferWatch(GstBuffer* buffer)
    {
        gst_mini_object_weak_ref(GST_MINI_OBJECT(buffer), &BufferWatch::OnFreed, this);
    }
    bool Freed() const { return m_freed; }

private:
    static void OnFreed(gpointer self, GstMiniObject*) { static_cast<BufferWatch*>(self)->m_freed = true; }

    bool m_freed = false;
};

}  // namespace streaming_test
