#pragma once

#include <atomic>
#include <boost/asio/io_service.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/local/stream_protocol.hpp>
#include <boost/asio/steady_timer.hpp>
#include <boost/enable_shared_from_this.hpp>
#include <boost/shared_ptr.hpp>
#include <boost/system/error_code.hpp>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

#include "application/runtime/bounded_buffer.h"
#include "application/runtime/buffer_wrapper.h"

// Per-connection state a server's owner may attach to each accepted connection.
class ConnectionContext {
public:
    virtual ~ConnectionContext() = default;
};

template <typename P>
class TcpServer;

// One accepted client of a TcpServer. Nothing is read from the client; what is written is decided by the
// server's writer function and by buffers pushed with SendBuffer. Always held by boost::shared_ptr; every
// handler runs on the thread that runs the io_service.
template <typename P>
class Connection : public boost::enable_shared_from_this<Connection<P>> {
public:
    enum Status {
        kWriteAndClose = 0,  // write the buffer the writer has just set, then close
        kIdle = 1,           // write nothing now; wait for a buffer pushed with SendBuffer
        kWriteNext = 2,      // write the next buffer of the queue, if there is one
    };
    using Writer = std::function<Status(std::shared_ptr<IBufferWrapper>&, ConnectionContext*)>;
    using SocketType = typename P::socket;

    static constexpr std::size_t kQueueCapacity = 200;

    static boost::shared_ptr<Connection> Create(boost::asio::io_service& service, TcpServer<P>& server, Writer writer);

private:
    struct CreateKey {};

public:
    // Use Create.
    Connection(CreateKey, boost::asio::io_service& service, TcpServer<P>& server, Writer writer);
    virtual ~Connection() = default;
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;

    SocketType& Socket() { return m_socket; }
    TcpServer<P>& GetServer() { return m_server; }
    void SetContext(std::unique_ptr<ConnectionContext> context) { m_context = std::move(context); }

    void Start();
    // Any thread. Ignored for an empty buffer or before the connection is started; a full queue drops its
    // oldest buffer.
    void SendBuffer(std::shared_ptr<IBufferWrapper> buffer);

protected:
    virtual void HandleWrite(const boost::system::error_code& error, std::shared_ptr<IBufferWrapper> buffer);

private:
    void WriteBuffer();

    boost::asio::io_service& m_service;  // owned by the server's owner, outlives every connection
    util::bounded_buffer<std::shared_ptr<IBufferWrapper>> m_queue;
    SocketType m_socket;
    TcpServer<P>& m_server;  // removes this connection from its list before it goes
    std::atomic<bool> m_started{false};
    bool m_writing = false;
    Writer m_writer;
    std::atomic<Status> m_status{kWriteNext};
    std::unique_ptr<ConnectionContext> m_context;
};

// A write-only stream server: accepts connections on one endpoint (TCP, or a local socket path) and feeds
// each of them through the writer function and the buffers pushed with SendBuffer. Accepting starts at
// construction; handlers run on whichever thread runs the io_service, which must not run handlers of this
// server after its destruction.
template <typename P>
class TcpServer {
public:
    using ConnectionPtr = boost::shared_ptr<Connection<P>>;
    using Writer = typename Connection<P>::Writer;
    using ContextFactory = std::function<void(std::unique_ptr<ConnectionContext>&)>;
    using Endpoint = typename P::endpoint;

    TcpServer(boost::asio::io_service& service, const Endpoint& endpoint, Writer writer);
    TcpServer(boost::asio::io_service& service, Endpoint endpoint, Writer writer, ContextFactory context_factory);
    ~TcpServer();
    TcpServer(const TcpServer&) = delete;
    TcpServer& operator=(const TcpServer&) = delete;

    // Any thread: hands the buffer to every started connection.
    void SendBuffer(std::shared_ptr<IBufferWrapper> buffer);
    void RemoveConnection(const ConnectionPtr& connection);

    Endpoint LocalEndpoint() const { return m_acceptor.local_endpoint(); }

private:
    void Open(const Endpoint& endpoint);
    void StartAccept();
    void HandleAccept(ConnectionPtr connection, const boost::system::error_code& error);

    boost::asio::io_service& m_service;  // owned by the server's owner, outlives the server
    boost::asio::basic_socket_acceptor<P> m_acceptor;
    // Paces new attempts after a failed accept (such as running out of descriptors).
    boost::asio::steady_timer m_retry_timer;
    std::vector<ConnectionPtr> m_connections;
    std::mutex m_connections_mutex;
    Writer m_writer;
    ContextFactory m_context_factory;
};

extern template class Connection<boost::asio::ip::tcp>;
extern template class Connection<boost::asio::local::stream_protocol>;
extern template class TcpServer<boost::asio::ip::tcp>;
extern template class TcpServer<boost::asio::local::stream_protocol>;
