#include "application/outputs/io_service_thread.h"

IOServiceThread::IOServiceThread(boost::asio::io_service& service, const std::string& name, ThreadManager& manager)
    : BaseThread(name, manager), m_service(service)
{
}

void IOServiceThread::Terminate(bool wait)
{
    m_service.stop();
    BaseThread::Terminate(wait);
}

void IOServiceThread::ThreadFunc()
{
    m_service.run();
}
