#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <random>

namespace testing_support {

// True when a TCP socket can bind `port` on all interfaces right now.
inline bool PortIsFree(int port)
{
    const int socket_fd = socket(AF_INET, SOCK_STREAM, 0);
    if (socket_fd < 0)
        return false;
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_ANY);
    address.sin_port = htons(static_cast<uint16_t>(port));
    const bool free = bind(socket_fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)) == 0;
    close(socket_fd);
    return free;
}

// True when a server accepts a TCP connection on 127.0.0.1 at `port` right now.
inline bool IsListening(int port)
{
    const int socket_fd = socket(AF_INET, SOCK_STREAM, 0);
    if (socket_fd < 0)
        return false;
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(static_cast<uint16_t>(port));
    const bool listening = connect(socket_fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)) == 0;
    close(socket_fd);
    return listening;
}

// The first of `count` consecutive TCP ports that were all free a moment ago.
inline int FreePortRange(int count)
{
    std::random_device seed;
    std::mt19937 random(seed());
    // Below the kernel's ephemeral range (32768 and up), where the client sockets of tests running
    // at the same time would take ports between this check and the server's bind.
    std::uniform_int_distribution<int> base(20000, 32000 - count);
    for (;;) {
        const int first = base(random);
        bool all_free = true;
        for (int port = first; port < first + count && all_free; ++port)
            all_free = PortIsFree(port);
        if (all_free)
            return first;
    }
}

}  // namespace testing_support
