#include "application/devices/frame_buffer.h"

#include <fcntl.h>
#include <sys/ioctl.h>
#include <sys/mman.h>

#include <chrono>
#include <cstring>
#include <opencv2/imgproc.hpp>
#include <stdexcept>
#include <utility>

namespace {

constexpr unsigned int kBitsPerPixel = 16;

}  // namespace

int LinuxFrameBufferDriver::GetFixedScreenInfo(int device, fb_fix_screeninfo& info)
{
    return ::ioctl(device, FBIOGET_FSCREENINFO, &info);
}

int LinuxFrameBufferDriver::GetVariableScreenInfo(int device, fb_var_screeninfo& info)
{
    return ::ioctl(device, FBIOGET_VSCREENINFO, &info);
}

int LinuxFrameBufferDriver::PutVariableScreenInfo(int device, fb_var_screeninfo& info)
{
    return ::ioctl(device, FBIOPUT_VSCREENINFO, &info);
}

void* LinuxFrameBufferDriver::Map(int device, std::size_t length)
{
    return ::mmap(nullptr, length, PROT_READ | PROT_WRITE, MAP_SHARED, device, 0);
}

int LinuxFrameBufferDriver::Unmap(void* address, std::size_t length)
{
    return ::munmap(address, length);
}

MappedScreenMemory::MappedScreenMemory(std::shared_ptr<IFrameBufferDriver> driver, void* address, std::size_t length)
    : m_driver(std::move(driver)), m_address(address), m_length(length)
{
}

MappedScreenMemory::~MappedScreenMemory()
{
    Reset();
}

MappedScreenMemory::MappedScreenMemory(MappedScreenMemory&& other) noexcept
    : m_driver(std::move(other.m_driver)),
      m_address(std::exchange(other.m_address, nullptr)),
      m_length(std::exchange(other.m_length, 0))
{
}

MappedScreenMemory& MappedScreenMemory::operator=(MappedScreenMemory&& other) noexcept
{
    if (this != &other) {
        Reset();
        m_driver = std::move(other.m_driver);
        m_address = std::exchange(other.m_address, nullptr);
        m_length = std::exchange(other.m_length, 0);
    }
    return *this;
}

void MappedScreenMemory::Reset()
{
    if (m_address)
        m_driver->Unmap(m_address, m_length);
    m_address = nullptr;
    m_length = 0;
}

cv::Mat MappedScreenMemory::Lines(std::size_t line_length) const
{
    if (!m_address || line_length == 0 || m_length < line_length)
        return cv::Mat();
    return cv::Mat(static_cast<int>(m_length / line_length), static_cast<int>(line_length), CV_8UC1, m_address,
                   line_length);
}

FrameBuffer::FrameBuffer(const std::string& device_path, const std::string& name, ThreadManager& manager)
    : FrameBuffer(device_path, name, std::make_shared<LinuxFrameBufferDriver>(), manager)
{
}

FrameBuffer::FrameBuffer(const std::string& device_path, const std::string& name,
                         std::shared_ptr<IFrameBufferDriver> driver, ThreadManager& manager)
    : BaseThread(name, manager), m_driver(std::move(driver)), m_queue(kQueueCapacity)
{
    SetUpDevice(device_path);
}

void FrameBuffer::SetUpDevice(const std::string& device_path)
{
    m_device.reset(::open(device_path.c_str(), O_RDWR | O_CLOEXEC));
    if (!m_device.isValid())
        throw std::runtime_error("Cannot open framebuffer device.");
    const int device = m_device.get();
    if (m_driver->GetFixedScreenInfo(device, m_fixed_info) != 0)
        throw std::runtime_error("Error reading fixed information.");
    if (m_driver->GetVariableScreenInfo(device, m_variable_info) != 0)
        throw std::runtime_error("Error reading variable information.");
    m_variable_info.bits_per_pixel = kBitsPerPixel;
    if (m_driver->PutVariableScreenInfo(device, m_variable_info) != 0)
        throw std::runtime_error("Error putting variable information.");

    // A driver may refuse the depth or change the line length with it: draw with what it now reports.
    if (m_driver->GetVariableScreenInfo(device, m_variable_info) != 0)
        throw std::runtime_error("Error reading variable information.");
    if (m_variable_info.bits_per_pixel != kBitsPerPixel)
        throw std::runtime_error("Framebuffer device does not accept 16 bits per pixel.");
    if (m_driver->GetFixedScreenInfo(device, m_fixed_info) != 0)
        throw std::runtime_error("Error reading fixed information.");

    void* address = m_driver->Map(device, m_fixed_info.smem_len);
    if (address == MAP_FAILED)
        throw std::runtime_error("Failed to map framebuffer device to memory.");
    m_screen_memory = MappedScreenMemory(m_driver, address, m_fixed_info.smem_len);
}

void FrameBuffer::DrawFrame(std::shared_ptr<cv::Mat> image, const cv::Point& position, float scale)
{
    m_queue.push_back(Bitmap{std::move(image), position, scale});
}

float FrameBuffer::ScaleForSlot(int slot_width, int image_width)
{
    if (image_width <= 0)
        return 1.0f;
    const int quotient = slot_width / image_width;
    if (quotient == 0)
        return static_cast<float>(slot_width) / static_cast<float>(image_width);
    return static_cast<float>(quotient);
}

void FrameBuffer::Terminate(bool wait)
{
    // The stop request first, so the frame wait that the release ends sees it.
    BaseThread::Terminate(false);
    m_queue.release_waiters();
    BaseThread::Terminate(wait);
}

void FrameBuffer::ThreadFunc()
{
    while (!IsTerminated()) {
        Bitmap bitmap;
        if (!m_queue.timed_front(bitmap, std::chrono::seconds(1)))
            continue;
        try {
            Draw(bitmap);
        } catch (const std::exception& error) {
            LOG(GetLogger(), warning) << "Frame skipped: " << error.what();
        }
    }
}

void FrameBuffer::Draw(const Bitmap& bitmap)
{
    if (!bitmap.image)
        throw std::runtime_error("Bad frame type.");
    cv::Mat scaled;
    cv::resize(*bitmap.image, scaled, cv::Size(0, 0), static_cast<double>(bitmap.scale),
               static_cast<double>(bitmap.scale), cv::INTER_LINEAR);

    const long long x = bitmap.position.x;
    const long long y = bitmap.position.y;
    if (x < 0 || y < 0)
        throw std::out_of_range("Top-left coordinate is negative.");
    if (x + scaled.cols > static_cast<long long>(m_variable_info.xres))
        throw std::out_of_range("x coordinate is too large.");
    if (y + scaled.rows > static_cast<long long>(m_variable_info.yres))
        throw std::out_of_range("y coordinate is too large.");

    cv::Mat converted;
    if (scaled.type() == CV_8UC1)
        cv::cvtColor(scaled, converted, cv::COLOR_GRAY2BGR565);
    else if (scaled.type() == CV_8UC3)
        cv::cvtColor(scaled, converted, cv::COLOR_BGR2BGR565);
    else
        throw std::runtime_error("Bad frame type.");

    const long long bytes_per_pixel = m_variable_info.bits_per_pixel / 8;
    const long long row_bytes = static_cast<long long>(converted.cols) * 2;
    const long long first_line = y + m_variable_info.yoffset;
    const long long first_byte = (x + m_variable_info.xoffset) * bytes_per_pixel;
    cv::Mat screen = m_screen_memory.Lines(m_fixed_info.line_length);
    if (first_line + converted.rows > screen.rows || first_byte + row_bytes > screen.cols)
        throw std::out_of_range("Picture does not fit the mapped screen memory.");
    for (int r = 0; r < converted.rows; ++r)
        std::memcpy(screen.ptr(static_cast<int>(first_line) + r) + first_byte, converted.ptr(r),
                    static_cast<std::size_t>(row_bytes));
}
