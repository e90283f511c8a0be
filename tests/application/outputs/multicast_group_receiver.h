#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "application/runtime/unique_fd.h"

// A member of the multicast group 226.1.1.1 on the loopback interface, listening on a port chosen at run
// time.
class MulticastGroupReceiver {
public:
    MulticastGroupReceiver() : m_socket(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0))
    {
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = ::inet_addr("226.1.1.1");
        socklen_t length = sizeof(address);
        ip_mreq membership{};
        membership.imr_multiaddr.s_addr = ::inet_addr("226.1.1.1");
        membership.imr_interface.s_addr = htonl(INADDR_LOOPBACK);
        if (!m_socket.isValid() || ::bind(m_socket.get(), reinterpret_cast<sockaddr*>(&address), length) != 0 ||
            ::getsockname(m_socket.get(), reinterpret_cast<sockaddr*>(&address), &length) != 0)
            throw std::runtime_error(std::string("test receiver cannot bind: ") + std::strerror(errno));
        m_port = ntohs(address.sin_port);
        m_joined = ::setsockopt(m_socket.get(), IPPROTO_IP, IP_ADD_MEMBERSHIP, &membership, sizeof(membership)) == 0;
    }

    unsigned short Port() const { return m_port; }

    // Whether a datagram sent to the group through 127.0.0.1, with multicast loopback on, reaches this
    // member. Sandboxes without a multicast-capable loopback make it false.
    bool LoopbackDeliversMulticast()
    {
        if (!m_joined)
            return false;
        util::UniqueFd sender(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0));
        in_addr interface_address{};
        interface_address.s_addr = htonl(INADDR_LOOPBACK);
        const unsigned char loop = 1;
        sockaddr_in group{};
        group.sin_family = AF_INET;
        group.sin_port = htons(m_port);
        group.sin_addr.s_addr = ::inet_addr("226.1.1.1");
        const char probe[] = "probe";
        if (::setsockopt(sender.get(), IPPROTO_IP, IP_MULTICAST_IF, &interface_address, sizeof(interface_address)) ||
            ::setsockopt(sender.get(), IPPROTO_IP, IP_MULTICAST_LOOP, &loop, sizeof(loop)) ||
            ::sendto(sender.get(), probe, sizeof(probe), 0, reinterpret_cast<const sockaddr*>(&group), sizeof(group)) <
                0)
            return false;
        return Receive(std::chrono::seconds(1)).has_value();
    }

    // The next datagram, or nothing when none comes within the timeout.
    std::optional<std::vector<unsigned char>> Receive(std::chrono::milliseconds timeout)
    {
        pollfd poll_fd{m_socket.get(), POLLIN, 0};
        if (::poll(&poll_fd, 1, static_cast<int>(timeout.count())) <= 0)
            return std::nullopt;
        std::vector<unsigned char> datagram(2048);
        const ssize_t got = ::recv(m_socket.get(), datagram.data(), datagram.size(), 0);
        if (got < 0)
            return std::nullopt;
        datagram.resize(static_cast<std::size_t>(got));
        return datagram;
    }

private:
    util::UniqueFd m_socket;
    unsigned short m_port = 0;
    bool m_joined = false;
};

#define SKIP_WITHOUT_LOOPBACK_MULTICAST(receiver)                                                        \
    if (!(receiver).LoopbackDeliversMulticast())                                                         \
    GTEST_SKIP() << "Multicast to 226.1.1.1 through 127.0.0.1 is not delivered on this host's loopback " \
                    "interface (no multicast route on lo); nothing to test against."
