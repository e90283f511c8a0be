#pragma once

#include <linux/fb.h>

#include <cstddef>
#include <memory>
#include <opencv2/core.hpp>
#include <string>

#include "application/runtime/base_thread.h"
#include "application/runtime/bounded_buffer.h"
#include "application/runtime/unique_fd.h"

class ThreadManager;

// The calls a frame-buffer display needs of its Linux driver: the screen-info ioctls and the mapping of
// the screen memory. The real one is LinuxFrameBufferDriver. Results follow the system calls: 0 or -1,
// MAP_FAILED for a failed mapping.
class IFrameBufferDriver {
public:
    virtual ~IFrameBufferDriver() = default;

    virtual int GetFixedScreenInfo(int device, fb_fix_screeninfo& info) = 0;
    virtual int GetVariableScreenInfo(int device, fb_var_screeninfo& info) = 0;
    virtual int PutVariableScreenInfo(int device, fb_var_screeninfo& info) = 0;
    virtual void* Map(int device, std::size_t length) = 0;
    virtual int Unmap(void* address, std::size_t length) = 0;
};

class LinuxFrameBufferDriver : public IFrameBufferDriver {
public:
    int GetFixedScreenInfo(int device, fb_fix_screeninfo& info) override;
    int GetVariableScreenInfo(int device, fb_var_screeninfo& info) override;
    int PutVariableScreenInfo(int device, fb_var_screeninfo& info) override;
    void* Map(int device, std::size_t length) override;
    int Unmap(void* address, std::size_t length) override;
};

// Owns a mapping of screen memory made through a driver and unmaps it when destroyed. Move-only.
class MappedScreenMemory {
public:
    MappedScreenMemory() = default;
    MappedScreenMemory(std::shared_ptr<IFrameBufferDriver> driver, void* address, std::size_t length);
    ~MappedScreenMemory();
    MappedScreenMemory(MappedScreenMemory&& other) noexcept;
    MappedScreenMemory& operator=(MappedScreenMemory&& other) noexcept;
    MappedScreenMemory(const MappedScreenMemory&) = delete;
    MappedScreenMemory& operator=(const MappedScreenMemory&) = delete;

    // A non-owning view of the memory as whole screen lines of line_length bytes (one byte per element).
    cv::Mat Lines(std::size_t line_length) const;

private:
    void Reset();

    std::shared_ptr<IFrameBufferDriver> m_driver;
    void* m_address = nullptr;
    std::size_t m_length = 0;
};

// The "hdmi" thread: draws queued images, scaled and converted to 16-bit RGB565, on a Linux frame-buffer
// device. A picture that cannot be drawn is skipped with a warning.
class FrameBuffer : public BaseThread {
public:
    struct Bitmap {
        std::shared_ptr<cv::Mat> image;  // 8-bit grey or BGR
        cv::Point position;              // top-left corner in pixels of the visible area
        float scale = 1.0f;
    };

    static constexpr std::size_t kQueueCapacity = 200;

    // Opens and maps the device; throws std::runtime_error when it cannot be used.
    FrameBuffer(const std::string& device_path, const std::string& name, ThreadManager& manager);
    FrameBuffer(const std::string& device_path, const std::string& name, std::shared_ptr<IFrameBufferDriver> driver,
                ThreadManager& manager);

    // Any thread; never blocks beyond the queue's lock. A full queue drops its oldest request.
    void DrawFrame(std::shared_ptr<cv::Mat> image, const cv::Point& position, float scale);

    // The scale of an image drawn into a slot `slot_width` pixels wide: the integer quotient of
    // the two widths (a 480-wide frame in a 640-wide slot is drawn at 1); only an image wider than
    // its slot, whose quotient is 0, gets the fractional scale that fits it. Width 0 gives 1.
    static float ScaleForSlot(int slot_width, int image_width);

    // Also ends the wait for the next picture.
    void Terminate(bool wait) override;

protected:
    void ThreadFunc() override;

private:
    void SetUpDevice(const std::string& device_path);
    // Throws for a picture that cannot be drawn where it was asked for.
    void Draw(const Bitmap& bitmap);

    std::shared_ptr<IFrameBufferDriver> m_driver;
    util::UniqueFd m_device;
    fb_var_screeninfo m_variable_info{};
    fb_fix_screeninfo m_fixed_info{};
    MappedScreenMemory m_screen_memory;
    util::bounded_buffer<Bitmap> m_queue;
};
