#include "application/runtime/base_thread.h"

#include "application/runtime/thread_manager.h"

BaseThread::BaseThread(const std::string& name, ThreadManager& manager)
    : m_manager(manager), m_name(name), m_logger(Logger::GetLogSource(name))
{
}

void BaseThread::Terminate(bool wait)
{
    {
        // Under the lock, so a body between its check of the flag and its wait cannot miss it.
        std::lock_guard<std::mutex> lock(m_wait_mutex);
        m_terminated.store(true);
    }
    m_wake_up.notify_all();
    if (!wait)
        return;
    auto self = shared_from_this();
    m_manager.JoinThread(*self);
}

void BaseThread::ProducersEnded()
{
    {
        std::lock_guard<std::mutex> lock(m_wait_mutex);
        m_producers_ended.store(true);
    }
    m_wake_up.notify_all();
}

bool BaseThread::WaitFor(std::chrono::steady_clock::duration duration)
{
    std::unique_lock<std::mutex> lock(m_wait_mutex);
    return !m_wake_up.wait_for(lock, duration, [this] { return m_terminated.load(); });
}

bool BaseThread::WaitForProducers(std::chrono::steady_clock::duration duration)
{
    std::unique_lock<std::mutex> lock(m_wait_mutex);
    return !m_wake_up.wait_for(lock, duration, [this] { return m_producers_ended.load(); });
}
