#include "application/outputs/tcp_server.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <boost/asio/post.hpp>
#include <boost/asio/socket_base.hpp>
#include <boost/asio/write.hpp>
#include <boost/make_shared.hpp>
#include <boost/system/system_error.hpp>
#include <chrono>
#include <sstream>
#include <string>
#include <type_traits>
#include <utility>

#include "application/runtime/log_channels.h"
#include "application/runtime/logger.h"

namespace {

LogSource& ServerLog()
{
    static LogSource source = Logger::GetLogSource(channel::kTcpServer);
    return source;
}

// A socket file left behind by an earlier run would stop the bind; anything else at the path is kept
// (and the bind then fails with its own error).
void RemoveStaleSocketFile(const std::string& path)
{
    struct stat status {};
    if (::lstat(path.c_str(), &status) == 0 && S_ISSOCK(status.st_mode))
        ::unlink(path.c_str());
}

constexpr std::chrono::milliseconds kAcceptRetryPause(100);
// Pending connections the kernel may queue before they are accepted.
constexpr int kListenBacklog = 128;

}  // namespace

template <typename P>
boost::shared_ptr<Connection<P>> Connection<P>::Create(boost::asio::io_service& service, TcpServer<P>& server,
                                                       Writer writer)
{
    return boost::make_shared<Connection>(CreateKey{}, service, server, std::move(writer));
}

template <typename P>
Connection<P>::Connection(CreateKey, boost::asio::io_service& service, TcpServer<P>& server, Writer writer)
    : m_service(service), m_queue(kQueueCapacity), m_socket(service), m_server(server), m_writer(std::move(writer))
{
}

template <typename P>
void Connection<P>::Start()
{
    m_started.store(true);
    boost::asio::post(m_service, [self = this->shared_from_this()] { self->WriteBuffer(); });
}

template <typename P>
void Connection<P>::SendBuffer(std::shared_ptr<IBufferWrapper> buffer)
{
    if (!buffer || !m_started.load())
        return;
    m_queue.push_back(buffer);
    boost::asio::post(m_service, [self = this->shared_from_this()] { self->WriteBuffer(); });
}

template <typename P>
void Connection<P>::WriteBuffer()
{
    if (m_writing)
        return;
    m_writing = true;

    std::shared_ptr<IBufferWrapper> buffer;
    Status status = m_writer(buffer, m_context.get());
    if (status == kWriteNext && !m_queue.timed_front(buffer, std::chrono::milliseconds(0)))
        status = kIdle;
    m_status.store(status);

    if (status == kIdle) {
        m_writing = false;
        return;
    }
    auto self = this->shared_from_this();
    if (status == kWriteAndClose && !buffer) {
        m_server.RemoveConnection(self);
        return;
    }
    boost::asio::async_write(
        m_socket, boost::asio::buffer(buffer->GetData(), buffer->GetSize()),
        [self, buffer](const boost::system::error_code& error, std::size_t) { self->HandleWrite(error, buffer); });
    // The write goes on; the socket closes when its handler lets the last reference go.
    if (status == kWriteAndClose)
        m_server.RemoveConnection(self);
}

template <typename P>
void Connection<P>::HandleWrite(const boost::system::error_code& error, std::shared_ptr<IBufferWrapper>)
{
    auto self = this->shared_from_this();
    if (m_service.stopped()) {
        m_server.RemoveConnection(self);
        return;
    }
    if (error) {
        LOG(ServerLog(), warning) << "Can not send data. Error: " << error.message();
        m_server.RemoveConnection(self);
        return;
    }
    if (m_status.load() == kWriteAndClose)
        return;
    m_writing = false;
    boost::asio::post(m_service, [self] { self->WriteBuffer(); });
}

template <typename P>
TcpServer<P>::TcpServer(boost::asio::io_service& service, const Endpoint& endpoint, Writer writer)
    : TcpServer(service, endpoint, std::move(writer), ContextFactory())
{
}

template <typename P>
TcpServer<P>::TcpServer(boost::asio::io_service& service, Endpoint endpoint, Writer writer,
                        ContextFactory context_factory)
    : m_service(service),
      m_acceptor(service),
      m_retry_timer(service),
      m_writer(std::move(writer)),
      m_context_factory(std::move(context_factory))
{
    Open(endpoint);
    StartAccept();
}

template <typename P>
TcpServer<P>::~TcpServer()
{
    {
        std::lock_guard<std::mutex> lock(m_connections_mutex);
        m_connections.clear();
    }
    m_writer = nullptr;
    m_context_factory = nullptr;
    m_retry_timer.cancel();
    boost::system::error_code ignored;
    m_acceptor.close(ignored);
}

template <typename P>
void TcpServer<P>::Open(const Endpoint& endpoint)
{
    if constexpr (std::is_same_v<P, boost::asio::local::stream_protocol>)
        RemoveStaleSocketFile(endpoint.path());
    try {
        m_acceptor.open(endpoint.protocol());
        m_acceptor.set_option(boost::asio::socket_base::reuse_address(true));
        m_acceptor.bind(endpoint);
        m_acceptor.listen(kListenBacklog);
    } catch (const boost::system::system_error& error) {
        // Boost's text names the call only ("bind: Address already in use"): name the endpoint.
        std::ostringstream text;
        text << "Can not listen on " << endpoint;
        throw boost::system::system_error(error.code(), text.str());
    }
}

template <typename P>
void TcpServer<P>::SendBuffer(std::shared_ptr<IBufferWrapper> buffer)
{
    std::lock_guard<std::mutex> lock(m_connections_mutex);
    for (const ConnectionPtr& connection : m_connections) connection->SendBuffer(buffer);
}

template <typename P>
void TcpServer<P>::RemoveConnection(const ConnectionPtr& connection)
{
    std::lock_guard<std::mutex> lock(m_connections_mutex);
    m_connections.erase(std::remove(m_connections.begin(), m_connections.end(), connection), m_connections.end());
}

template <typename P>
void TcpServer<P>::StartAccept()
{
    ConnectionPtr connection = Connection<P>::Create(m_service, *this, m_writer);
    {
        std::lock_guard<std::mutex> lock(m_connections_mutex);
        m_connections.push_back(connection);
    }
    m_acceptor.async_accept(connection->Socket(), [this, connection](const boost::system::error_code& error) {
        HandleAccept(connection, error);
    });
}

template <typename P>
void TcpServer<P>::HandleAccept(ConnectionPtr connection, const boost::system::error_code& error)
{
    if (error) {
        RemoveConnection(connection);
        if (error == boost::asio::error::operation_aborted || !m_acceptor.is_open())
            return;
        // A failed accept (out of descriptors, a client that gave up) costs only that client; the
        // server keeps listening, after a pause so that a lasting shortage does not spin.
        LOG(ServerLog(), warning) << "Can not accept. Error: " << error.message();
        m_retry_timer.expires_after(kAcceptRetryPause);
        m_retry_timer.async_wait([this](const boost::system::error_code& timer_error) {
            if (!timer_error && m_acceptor.is_open())
                StartAccept();
        });
        return;
    }
    if (m_context_factory) {
        std::unique_ptr<ConnectionContext> context;
        m_context_factory(context);
        connection->SetContext(std::move(context));
    }
    connection->Start();
    StartAccept();
}

template class Connection<boost::asio::ip::tcp>;
template class Connection<boost::asio::local::stream_protocol>;
template class TcpServer<boost::asio::ip::tcp>;
template class TcpServer<boost::asio::local::stream_protocol>;
