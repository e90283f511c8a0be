#pragma once

#include <atomic>
#include <condition_variable>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "application/runtime/base_thread.h"

// Starts, names, stops and joins the service's threads, and reports a thread's uncaught
// exception to one failure callback.
class ThreadManager {
public:
    using ExceptionCallback = std::function<void(std::shared_ptr<BaseThread>, const std::exception*)>;

    struct ThreadSettings {
        std::shared_ptr<BaseThread> base_thread;
        std::shared_ptr<std::thread> os_thread;
    };

    ThreadManager() = default;
    ~ThreadManager();
    ThreadManager(const ThreadManager&) = delete;
    ThreadManager& operator=(const ThreadManager&) = delete;

    // Builds T with the arguments followed by this manager and starts it.
    template <typename T, typename... Args>
    std::shared_ptr<T> CreateThread(Args&&... args)
    {
        auto thread = std::make_shared<T>(std::forward<Args>(args)..., *this);
        InitializeThread(thread);
        return thread;
    }

    // Starts a thread object built outside the manager.
    template <typename T>
    void AddThread(const std::shared_ptr<T>& thread)
    {
        InitializeThread(thread);
    }

    template <typename T>
    void InitializeThread(const std::shared_ptr<T>& thread)
    {
        StartThread(std::static_pointer_cast<BaseThread>(thread));
    }

    // Asks every thread to stop, then joins them the last started first, telling each that its
    // producers have ended just before its join (BaseThread::ProducersEnded). Idempotent.
    void Terminate();
    bool IsTerminated() const { return m_terminated.load(); }

    // OS thread names are limited to 15 characters; longer names are cut.
    static void SetThreadName(std::thread& thread, const std::string& name);

    // Takes the thread's entry out of the list (after any start in progress), tells the thread
    // that its producers have ended and joins it.
    void JoinThread(BaseThread& thread);

    ExceptionCallback m_exception_callback;

private:
    void StartThread(std::shared_ptr<BaseThread> thread);
    void ThreadFunc(std::shared_ptr<BaseThread> thread);
    void HandleException(const std::shared_ptr<BaseThread>& thread, const std::exception* error);

    std::mutex m_mutex;
    std::condition_variable m_condition;
    std::vector<ThreadSettings> m_threads;
    std::atomic<bool> m_terminated{false};
    bool m_busy = false;
};
