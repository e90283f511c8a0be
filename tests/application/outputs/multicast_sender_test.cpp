#include "application/outputs/multicast_sender.h"

#include <gtest/gtest.h>

#include <boost/asio/ip/address.hpp>
#include <boost/make_shared.hpp>
#include <chrono>
#include <future>
#include <utility>
#include <vector>

#include "application/outputs/multicast_group_receiver.h"

namespace {

using std::chrono::milliseconds;

MulticastSender::Datagram Bytes(std::vector<unsigned char> bytes)
{
    return boost::make_shared<std::vector<unsigned char>>(std::move(bytes));
}

// Runs a service on its own thread; stops and joins it at the end of the test, whatever happened.
class ServiceRunner {
public:
    explicit ServiceRunner(boost::asio::io_service& service)
        : m_service(service), m_run(std::async(std::launch::async, [&service] { service.run(); }))
    {
    }
    ~ServiceRunner()
    {
        m_service.stop();
        m_run.wait();
    }
    bool ReturnsWithin(milliseconds timeout) { return m_run.wait_for(timeout) == std::future_status::ready; }

private:
    boost::asio::io_service& m_service;
    std::future<void> m_run;
};

TEST(MulticastSenderTest, SendsEachDatagramInOrderAndKeepsTheServiceBusyUntilStopped)
{
    MulticastGroupReceiver receiver;
    SKIP_WITHOUT_LOOPBACK_MULTICAST(receiver);
    boost::asio::io_service service;
    MulticastSender sender(service, boost::asio::ip::make_address("226.1.1.1"), receiver.Port(),
                           boost::asio::ip::make_address_v4("127.0.0.1"));
    ServiceRunner runner(service);

    for (unsigned char value = 1; value <= 3; ++value) sender.Send(Bytes({value, value}));
    for (unsigned char value = 1; value <= 3; ++value)
        EXPECT_EQ(receiver.Receive(milliseconds(2000)), (std::vector<unsigned char>{value, value}));
    EXPECT_FALSE(runner.ReturnsWithin(milliseconds(100)));

    sender.Stop();
    EXPECT_TRUE(sender.IsStopped());
    EXPECT_TRUE(runner.ReturnsWithin(milliseconds(2000)));
    sender.Send(Bytes({9}));
    EXPECT_FALSE(receiver.Receive(milliseconds(300)).has_value());
}

}  // namespace
