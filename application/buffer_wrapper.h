#pragma once

#include <cstddef>
#include <memory>

// A read-only view of one frame's bytes that keeps whatever owns the bytes alive.
class IBufferWrapper {
public:
    virtual const unsigned char* GetData() const = 0;
    virtual std::size_t GetSize() const = 0;
    virtual ~IBufferWrapper() = default;
};
