#include "application/outputs/multicast_sender.h"

#include <boost/asio/ip/multicast.hpp>
#include <boost/asio/post.hpp>
#include <chrono>
#include <utility>

MulticastSender::MulticastSender(boost::asio::io_service& service, const boost::asio::ip::address& group,
                                 unsigned short port, const boost::asio::ip::address_v4& outbound_interface)
    : m_service(service),
      m_endpoint(group, port),
      m_socket(service, m_endpoint.protocol()),
      m_work(std::make_unique<boost::asio::io_service::work>(service)),
      m_queue(kQueueCapacity)
{
    m_socket.set_option(boost::asio::ip::multicast::outbound_interface(outbound_interface));
}

void MulticastSender::Send(Datagram datagram)
{
    if (m_stopped.load())
        return;
    m_queue.push_back(std::move(datagram));
    boost::asio::post(m_service, [this] { SendNext(); });
}

void MulticastSender::Stop()
{
    if (m_stopped.exchange(true))
        return;
    m_work.reset();
}

void MulticastSender::SendNext()
{
    if (m_sending || m_stopped.load())
        return;
    Datagram datagram;
    if (!m_queue.timed_front(datagram, std::chrono::milliseconds(0)))
        return;
    m_sending = true;
    m_socket.async_send_to(boost::asio::buffer(*datagram), m_endpoint,
                           [this, datagram](const boost::system::error_code&, std::size_t) {
                               m_sending = false;
                               SendNext();
                           });
}
