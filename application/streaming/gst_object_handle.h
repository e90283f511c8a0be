#pragma once

#include <utility>

#include <gst/gst.h>

namespace streaming {

// Owns one reference to a GstObject-derived C object (for calls gstreamermm does not wrap).
// The factory functions make the caller say what kind of reference it hands over.
template <typename T>
class GstObjectHandle {
public:
    GstObjectHandle() = default;
    ~GstObjectHandle() { Reset(); }

    GstObjectHandle(GstObjectHandle&& other) noexcept : m_object(other.Release()) {}
    GstObjectHandle& operator=(GstObjectHandle&& other) noexcept
    {
        if (this != &other) {
            Reset();
            m_object = other.Release();
        }
        return *this;
    }
    GstObjectHandle(const GstObjectHandle&) = delete;
    GstObjectHandle& operator=(const GstObjectHandle&) = delete;

    // Takes over a full (non-floating) reference the caller owns, e.g. a "transfer full" result.
    static GstObjectHandle Adopt(T* object) { return GstObjectHandle(object); }

    // Takes ownership of a newly created object whose reference may be floating.
    static GstObjectHandle Sink(T* object)
    {
        if (object)
            gst_object_ref_sink(object);
        return GstObjectHandle(object);
    }

    T* Get() const { return m_object; }
    explicit operator bool() const { return m_object != nullptr; }

    // Hands the reference over to the caller.
    T* Release() { return std::exchange(m_object, nullptr); }

    void Reset()
    {
        if (m_object)
            gst_object_unref(std::exchange(m_object, nullptr));
    }

private:
    explicit GstObjectHandle(T* object) : m_object(object) {}

    T* m_object = nullptr;
};

}  // namespace streaming
