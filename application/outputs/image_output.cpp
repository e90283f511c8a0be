#include "application/outputs/image_output.h"

#include <boost/asio/ip/address_v4.hpp>
#include <chrono>
#include <utility>

namespace {

constexpr std::chrono::milliseconds kFirstFramePollPeriod(10);

}  // namespace

ImageOutput::ImageOutput(unsigned short port, const std::string& name, ThreadManager& manager)
    : BaseThread(name, manager),
      m_first_frame_timer(m_service),
      m_server(m_service, boost::asio::ip::tcp::endpoint(boost::asio::ip::address_v4::loopback(), port),
               [this](std::shared_ptr<IBufferWrapper>& buffer, ConnectionContext*) { return WriteNewestFrame(buffer); })
{
}

void ImageOutput::SendFrame(std::shared_ptr<IBufferWrapper> frame)
{
    std::lock_guard<std::mutex> lock(m_frame_mutex);
    m_newest_frame = std::move(frame);
}

void ImageOutput::Terminate(bool wait)
{
    m_service.stop();
    BaseThread::Terminate(wait);
}

void ImageOutput::ThreadFunc()
{
    m_service.run();
}

ImageOutput::ServerConnection::Status ImageOutput::WriteNewestFrame(std::shared_ptr<IBufferWrapper>& buffer)
{
    // A client that comes while the thread stops is closed without data.
    if (IsTerminated())
        return ServerConnection::kWriteAndClose;
    {
        std::lock_guard<std::mutex> lock(m_frame_mutex);
        buffer = m_newest_frame;
    }
    if (buffer)
        return ServerConnection::kWriteAndClose;
    // No image yet: the client idles without holding up the service until the timer wakes it.
    WaitForFirstFrame();
    return ServerConnection::kIdle;
}

void ImageOutput::WaitForFirstFrame()
{
    if (m_first_frame_timer_pending)
        return;
    m_first_frame_timer_pending = true;
    m_first_frame_timer.expires_after(kFirstFramePollPeriod);
    m_first_frame_timer.async_wait([this](const boost::system::error_code& error) {
        m_first_frame_timer_pending = false;
        if (error)
            return;
        std::shared_ptr<IBufferWrapper> frame;
        {
            std::lock_guard<std::mutex> lock(m_frame_mutex);
            frame = m_newest_frame;
        }
        if (frame)
            m_server.SendBuffer(frame);
        else
            WaitForFirstFrame();
    });
}
