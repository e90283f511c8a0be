#pragma once

#include <atomic>
#include <memory>
#include <string>

#include "application/runtime/logger.h"

class ThreadManager;

// A named long-running activity run on its own OS thread by a ThreadManager.
// Always owned by a std::shared_ptr.
class BaseThread : public std::enable_shared_from_this<BaseThread> {
public:
    BaseThread(const std::string& name, ThreadManager& manager);
    virtual ~BaseThread() = default;
    BaseThread(const BaseThread&) = delete;
    BaseThread& operator=(const BaseThread&) = delete;

    // Requests the stop; with wait, also joins the OS thread. Never call with wait on oneself.
    // Overrides do their own wake-up work and then call BaseThread::Terminate.
    virtual void Terminate(bool wait);

    bool IsTerminated() const { return m_terminated.load(); }
    void Run() { ThreadFunc(); }

    LogSource& GetLogger() { return m_logger; }
    const std::string& GetName() const { return m_name; }
    ThreadManager& GetManager() { return m_manager; }

protected:
    virtual void ThreadFunc() = 0;

private:
    ThreadManager& m_manager;  // the manager outlives its threads
    std::atomic<bool> m_terminated{false};
    std::string m_name;
    LogSource m_logger;
};
