#pragma once

#include <boost/asio/io_service.hpp>
#include <chrono>
#include <mutex>
#include <string>

#include "application/outputs/multicast_sender.h"
#include "application/runtime/base_thread.h"

class ThreadManager;

// Turns motion events into multicast datagrams for the local cloud-video agent: at most one a second, to
// 226.1.1.1 through the interface 127.0.0.1.
class MotionNotifierThread : public BaseThread {
public:
    static constexpr unsigned short kPort = 9091;

    MotionNotifierThread(const std::string& name, ThreadManager& manager);
    // Sends to another port of the group.
    MotionNotifierThread(const std::string& name, unsigned short port, ThreadManager& manager);

    // The motion slot; any thread. Events within a second of the last datagram (or of construction) are
    // dropped.
    void MotionDetected();
    // Stops the sender first, so that the service runs out of work.
    void Terminate(bool wait) override;

protected:
    void ThreadFunc() override;

private:
    boost::asio::io_service m_service;
    MulticastSender m_sender;
    std::chrono::steady_clock::time_point m_last_sent;
    std::mutex m_rate_mutex;
};
