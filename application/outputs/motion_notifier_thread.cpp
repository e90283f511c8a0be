#include "application/outputs/motion_notifier_thread.h"

#include <boost/asio/ip/address.hpp>
#include <boost/asio/ip/address_v4.hpp>
#include <boost/make_shared.hpp>
#include <cstdint>
#include <cstring>
#include <vector>

namespace {

constexpr std::uint32_t kMotionMessageKind = 4;
const char kMotionText[] = "{\t\"type\": \"motion\"}";
constexpr std::size_t kMotionTextLength = sizeof(kMotionText) - 1;

void AppendLittleEndian(std::vector<unsigned char>& bytes, std::uint64_t value, std::size_t size)
{
    for (std::size_t i = 0; i < size; ++i) bytes.push_back(static_cast<unsigned char>(value >> (8 * i)));
}

// Kind, text length, wall-clock milliseconds since 1970, then the text without a terminating zero.
MulticastSender::Datagram MakeMotionDatagram(std::int64_t milliseconds)
{
    auto datagram = boost::make_shared<std::vector<unsigned char>>();
    datagram->reserve(16 + kMotionTextLength);
    AppendLittleEndian(*datagram, kMotionMessageKind, 4);
    AppendLittleEndian(*datagram, kMotionTextLength, 4);
    AppendLittleEndian(*datagram, static_cast<std::uint64_t>(milliseconds), 8);
    datagram->insert(datagram->end(), kMotionText, kMotionText + kMotionTextLength);
    return datagram;
}

}  // namespace

MotionNotifierThread::MotionNotifierThread(const std::string& name, ThreadManager& manager)
    : MotionNotifierThread(name, kPort, manager)
{
}

MotionNotifierThread::MotionNotifierThread(const std::string& name, unsigned short port, ThreadManager& manager)
    : BaseThread(name, manager),
      m_sender(m_service, boost::asio::ip::make_address("226.1.1.1"), port,
               boost::asio::ip::make_address_v4("127.0.0.1")),
      m_last_sent(std::chrono::steady_clock::now())
{
}

void MotionNotifierThread::MotionDetected()
{
    if (m_sender.IsStopped())
        return;
    const auto now = std::chrono::steady_clock::now();
    {
        std::lock_guard<std::mutex> lock(m_rate_mutex);
        if (now - m_last_sent < std::chrono::seconds(1))
            return;
        m_last_sent = now;
    }
    const auto since_epoch = std::chrono::system_clock::now().time_since_epoch();
    m_sender.Send(MakeMotionDatagram(std::chrono::duration_cast<std::chrono::milliseconds>(since_epoch).count()));
}

void MotionNotifierThread::Terminate(bool wait)
{
    m_sender.Stop();
    BaseThread::Terminate(wait);
}

void MotionNotifierThread::ThreadFunc()
{
    m_service.run();
}
