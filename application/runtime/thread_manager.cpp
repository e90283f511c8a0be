#include "application/runtime/thread_manager.h"

#include <pthread.h>

#include <typeinfo>

ThreadManager::~ThreadManager()
{
    Terminate();
}

void ThreadManager::StartThread(std::shared_ptr<BaseThread> thread)
{
    ThreadSettings settings{thread, nullptr};
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_busy = true;
        try {
            if (!m_terminated.load()) {
                settings.os_thread = std::make_shared<std::thread>(&ThreadManager::ThreadFunc, this, thread);
                m_threads.push_back(settings);
            }
        } catch (...) {
            // A thread that failed to start must not leave later joins waiting for the busy flag.
            m_busy = false;
            m_condition.notify_one();
            throw;
        }
        m_busy = false;
    }
    m_condition.notify_one();
    if (settings.os_thread)
        SetThreadName(*settings.os_thread, thread->GetName());
}

void ThreadManager::SetThreadName(std::thread& thread, const std::string& name)
{
    pthread_setname_np(thread.native_handle(), name.substr(0, 15).c_str());
}

void ThreadManager::ThreadFunc(std::shared_ptr<BaseThread> thread)
{
    try {
        thread->Run();
        LOG(thread->GetLogger(), info) << "Thread terminated";
    } catch (const std::exception& error) {
        HandleException(thread, &error);
    } catch (...) {
        HandleException(thread, nullptr);
    }
}

void ThreadManager::HandleException(const std::shared_ptr<BaseThread>& thread, const std::exception* error)
{
    LOG(thread->GetLogger(), fatal) << "Uncaught exception!";
    if (error) {
        const char* type_name = typeid(*error).name();
        if (*type_name == '*')
            ++type_name;
        // The text may carry what came from outside (a path, an option, GStreamer's own message).
        LOG(thread->GetLogger(), fatal) << "Error details: class: " << type_name
                                        << "; message: " << LoggedValue(error->what(), 4 * kLoggedValueLimit);
    }
    if (!m_exception_callback)
        throw;
    m_exception_callback(thread, error);
}

void ThreadManager::JoinThread(BaseThread& thread)
{
    ThreadSettings taken;
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        m_condition.wait(lock, [this] { return !m_busy; });
        for (auto it = m_threads.begin(); it != m_threads.end(); ++it) {
            if (it->base_thread.get() == &thread) {
                taken = *it;
                m_threads.erase(it);
                break;
            }
        }
    }
    // Stopped alone: it waits for nothing else.
    thread.ProducersEnded();
    if (taken.os_thread && taken.os_thread->joinable())
        taken.os_thread->join();
}

void ThreadManager::Terminate()
{
    m_terminated.store(true);
    std::vector<ThreadSettings> threads;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        threads.swap(m_threads);
    }
    // Every thread hears the request before any is waited for, so none waits in vain for work
    // from a thread that is still stopping.
    for (const ThreadSettings& settings : threads) {
        if (!settings.base_thread->IsTerminated())
            settings.base_thread->Terminate(false);
    }
    // The joins go the last started first: a consumer is started before the producers that feed
    // it, so it still takes what they hand over while they stop, and it is told when the last of
    // them has ended.
    for (auto it = threads.rbegin(); it != threads.rend(); ++it) {
        it->base_thread->ProducersEnded();
        if (it->os_thread && it->os_thread->joinable())
            it->os_thread->join();
    }
}
