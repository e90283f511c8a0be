#pragma once

#include <boost/asio/io_service.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/steady_timer.hpp>
#include <memory>
#include <mutex>
#include <string>

#include "application/outputs/tcp_server.h"
#include "application/runtime/base_thread.h"
#include "application/runtime/buffer_wrapper.h"

class ThreadManager;

// The "image" thread: every client that connects to 127.0.0.1 on the image port receives the raw bytes of
// the newest JPEG image and is then disconnected. A client that comes before the first image waits for it.
class ImageOutput : public BaseThread {
public:
    // Listens at once (a port that cannot be bound throws); clients are served once the thread runs.
    ImageOutput(unsigned short port, const std::string& name, ThreadManager& manager);

    // Any thread: the image every following client receives.
    void SendFrame(std::shared_ptr<IBufferWrapper> frame);
    // Stops the service first, so that the thread leaves it.
    void Terminate(bool wait) override;

protected:
    void ThreadFunc() override;

private:
    using Server = TcpServer<boost::asio::ip::tcp>;
    using ServerConnection = Connection<boost::asio::ip::tcp>;

    ServerConnection::Status WriteNewestFrame(std::shared_ptr<IBufferWrapper>& buffer);
    // Polls for the first image on the service's timer and then wakes the waiting clients.
    void WaitForFirstFrame();

    std::mutex m_frame_mutex;
    boost::asio::io_service m_service;
    boost::asio::steady_timer m_first_frame_timer;
    bool m_first_frame_timer_pending = false;  // service thread only
    Server m_server;
    std::shared_ptr<IBufferWrapper> m_newest_frame;
};
