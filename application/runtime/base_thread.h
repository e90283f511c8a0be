#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
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

    // Every thread started after this one has ended. Consumers are started before the producers
    // that feed them, so from then on nothing is handed over to this thread any more: a consumer
    // asked to stop finishes what still reaches it until this holds. The manager's stop calls it
    // just before it joins the thread; Terminate(true), which stops a thread alone, calls it too.
    // Overrides wake their own waits and call BaseThread::ProducersEnded.
    virtual void ProducersEnded();
    bool HaveProducersEnded() const { return m_producers_ended.load(); }

    LogSource& GetLogger() { return m_logger; }
    const std::string& GetName() const { return m_name; }
    ThreadManager& GetManager() { return m_manager; }

protected:
    virtual void ThreadFunc() = 0;

    // The thread body's one way to pause: waits for `duration` or until the stop is requested,
    // whichever comes first. Returns false when the thread is terminated.
    bool WaitFor(std::chrono::steady_clock::duration duration);
    // The same pause for a body that goes on after its stop request: it ends early only once the
    // producers have ended. Returns false when they have.
    bool WaitForProducers(std::chrono::steady_clock::duration duration);

private:
    ThreadManager& m_manager;  // the manager outlives its threads
    std::atomic<bool> m_terminated{false};
    std::atomic<bool> m_producers_ended{false};
    std::mutex m_wait_mutex;  // pairs m_wake_up with m_terminated and m_producers_ended
    std::condition_variable m_wake_up;
    std::string m_name;
    LogSource m_logger;
};
