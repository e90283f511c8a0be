#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <memory>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "application/runtime/buffer_wrapper.h"
#include "application/runtime/unique_fd.h"

// A blocking test client of a stream server on 127.0.0.1 or on a local socket path. Every read is bounded.
class StreamClient {
public:
    struct Received {
        std::string bytes;
        bool closed_by_server = false;
    };

    struct NotConnected {};

    explicit StreamClient(unsigned short port) : StreamClient(AF_INET) { ConnectTo(port); }
    explicit StreamClient(const std::string& path) : StreamClient(AF_UNIX) { ConnectTo(path); }
    // A TCP socket to connect later with ConnectTo.
    explicit StreamClient(NotConnected) : StreamClient(AF_INET) {}

    void ConnectTo(unsigned short port)
    {
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(port);
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        Connect(reinterpret_cast<const sockaddr*>(&address), sizeof(address));
    }

    void ConnectTo(const std::string& path)
    {
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::strncpy(address.sun_path, path.c_str(), sizeof(address.sun_path) - 1);
        Connect(reinterpret_cast<const sockaddr*>(&address), sizeof(address));
    }

    // Reads until the server closes the connection, `count` bytes have come, or the time is up.
    Received Read(std::size_t count = static_cast<std::size_t>(-1),
                  std::chrono::milliseconds timeout = std::chrono::seconds(3))
    {
        Received received;
        const auto deadline = std::chrono::steady_clock::now() + timeout;
        while (received.bytes.size() < count) {
            const auto left =
                std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
            pollfd poll_fd{m_socket.get(), POLLIN, 0};
            if (left.count() <= 0 || ::poll(&poll_fd, 1, static_cast<int>(left.count())) <= 0)
                break;
            char chunk[4096];
            const std::size_t wanted = std::min(sizeof(chunk), count - received.bytes.size());
            const ssize_t got = ::recv(m_socket.get(), chunk, wanted, 0);
            if (got <= 0) {
                received.closed_by_server = true;
                break;
            }
            received.bytes.append(chunk, static_cast<std::size_t>(got));
        }
        return received;
    }

    void Close() { m_socket.reset(); }

private:
    explicit StreamClient(int domain) : m_socket(::socket(domain, SOCK_STREAM | SOCK_CLOEXEC, 0)) {}

    void Connect(const sockaddr* address, socklen_t length)
    {
        if (!m_socket.isValid() || ::connect(m_socket.get(), address, length) != 0)
            throw std::runtime_error(std::string("test client cannot connect: ") + std::strerror(errno));
    }

    util::UniqueFd m_socket;
};

// A TCP port on 127.0.0.1 that was free a moment ago.
inline unsigned short FreeLoopbackPort()
{
    util::UniqueFd probe(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof(address);
    if (::bind(probe.get(), reinterpret_cast<const sockaddr*>(&address), sizeof(address)) != 0 ||
        ::getsockname(probe.get(), reinterpret_cast<sockaddr*>(&address), &length) != 0)
        throw std::runtime_error("no free port on 127.0.0.1");
    return ntohs(address.sin_port);
}

// Bytes for a stream server to send.
class StringBuffer : public IBufferWrapper {
public:
    explicit StringBuffer(std::string text) : m_text(std::move(text)) {}
    const unsigned char* GetData() const override { return reinterpret_cast<const unsigned char*>(m_text.data()); }
    std::size_t GetSize() const override { return m_text.size(); }

private:
    std::string m_text;
};

inline std::shared_ptr<IBufferWrapper> MakeBuffer(std::string text)
{
    return std::make_shared<StringBuffer>(std::move(text));
}
