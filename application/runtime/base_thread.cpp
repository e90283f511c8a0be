#include "application/runtime/base_thread.h"

#include "application/runtime/thread_manager.h"

BaseThread::BaseThread(const std::string& name, ThreadManager& manager)
    : m_manager(manager), m_name(name), m_logger(Logger::GetLogSource(name))
{
}

void BaseThread::Terminate(bool wait)
{
    m_terminated.store(true);
    if (!wait)
        return;
    auto self = shared_from_this();
    m_manager.JoinThread(*self);
}
