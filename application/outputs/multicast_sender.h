#pragma once

#include <atomic>
#include <boost/asio/io_service.hpp>
#include <boost/asio/ip/address.hpp>
#include <boost/asio/ip/address_v4.hpp>
#include <boost/asio/ip/udp.hpp>
#include <boost/shared_ptr.hpp>
#include <memory>
#include <vector>

#include "application/runtime/bounded_buffer.h"

// Sends UDP datagrams to a multicast group, one at a time, on the thread that runs the io_service. Keeps
// that service running until Stop. Send errors are ignored; a full queue drops its oldest datagram.
class MulticastSender {
public:
    using Datagram = boost::shared_ptr<std::vector<unsigned char>>;

    static constexpr std::size_t kQueueCapacity = 50;

    // Socket errors are thrown as boost::system::system_error.
    MulticastSender(boost::asio::io_service& service, const boost::asio::ip::address& group, unsigned short port,
                    const boost::asio::ip::address_v4& outbound_interface);
    MulticastSender(const MulticastSender&) = delete;
    MulticastSender& operator=(const MulticastSender&) = delete;

    // Any thread; ignored after Stop.
    void Send(Datagram datagram);
    // Any thread: lets the service run out of work; datagrams still queued are not sent.
    void Stop();
    bool IsStopped() const { return m_stopped.load(); }

private:
    void SendNext();

    boost::asio::io_service& m_service;  // owned by the sender's owner, outlives the sender
    boost::asio::ip::udp::endpoint m_endpoint;
    boost::asio::ip::udp::socket m_socket;
    std::unique_ptr<boost::asio::io_service::work> m_work;
    util::bounded_buffer<Datagram> m_queue;
    bool m_sending = false;  // service thread only
    std::atomic<bool> m_stopped{false};
};
