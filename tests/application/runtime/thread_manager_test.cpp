#include "application/runtime/thread_manager.h"

#include <pthread.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <functional>
#include <future>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <typeinfo>
#include <vector>

#include <gtest/gtest.h>

#include "support/log_capture.h"

namespace {

using namespace std::chrono_literals;

// Runs until asked to stop; records its OS thread name.
class PollingThread : public BaseThread {
public:
    PollingThread(const std::string& name, ThreadManager& manager) : BaseThread(name, manager) {}

    std::promise<std::string> os_name;

protected:
    void ThreadFunc() override
    {
        char buffer[32] = {};
        pthread_getname_np(pthread_self(), buffer, sizeof(buffer));
        // The manager names the thread right after starting it: wait until that happened.
        for (int i = 0; i < 200 && std::string(buffer) != GetName().substr(0, 15); ++i) {
            std::this_thread::sleep_for(5ms);
            pthread_getname_np(pthread_self(), buffer, sizeof(buffer));
        }
        os_name.set_value(buffer);
        while (!IsTerminated())
            std::this_thread::sleep_for(1ms);
    }
};

// Throws what it is given from its body.
template <typename E>
class ThrowingThread : public BaseThread {
public:
    ThrowingThread(E error, ThreadManager& manager) : BaseThread("thrower", manager), m_error(error) {}

protected:
    void ThreadFunc() override { throw m_error; }

private:
    E m_error;
};

struct CallbackRecord {
    std::promise<bool> called_with_exception;
    std::atomic<int> calls{0};
};

TEST(ThreadManagerTest, NormalReturnLogsThreadTerminatedOnce)
{
    testing_support::LogCapture log;
    {
        ThreadManager manager;
        auto thread = manager.CreateThread<PollingThread>("worker");
        thread->os_name.get_future().wait_for(5s);
        thread->Terminate(true);
    }
    EXPECT_EQ(log.Count("[worker] Thread terminated"), 1);
}

TEST(ThreadManagerTest, OsThreadNameIsCutTo15Characters)
{
    ThreadManager manager;
    const std::string name = "a_very_long_thread_name";
    auto thread = manager.CreateThread<PollingThread>(name);
    auto future = thread->os_name.get_future();
    ASSERT_EQ(future.wait_for(5s), std::future_status::ready);
    EXPECT_EQ(future.get(), name.substr(0, 15));
    EXPECT_EQ(thread->GetName(), name);
}

TEST(ThreadManagerTest, UncaughtExceptionIsLoggedAndReportedOnce)
{
    testing_support::LogCapture log;
    CallbackRecord record;
    ThreadManager manager;
    manager.m_exception_callback = [&](std::shared_ptr<BaseThread> thread, const std::exception* error) {
        EXPECT_EQ(thread->GetName(), "thrower");
        ++record.calls;
        record.called_with_exception.set_value(error != nullptr && std::string(error->what()) == "x");
    };
    manager.CreateThread<ThrowingThread<std::runtime_error>>(std::runtime_error("x"));
    auto future = record.called_with_exception.get_future();
    ASSERT_EQ(future.wait_for(5s), std::future_status::ready);
    EXPECT_TRUE(future.get());
    manager.Terminate();

    EXPECT_EQ(record.calls.load(), 1);
    EXPECT_TRUE(log.Contains("[thrower, fatal] Uncaught exception!"));
    EXPECT_TRUE(log.Contains(std::string("[thrower, fatal] Error details: class: ") +
                             typeid(std::runtime_error).name() + "; message: x"));
    EXPECT_FALSE(log.Contains("[thrower] Thread terminated"));
}

TEST(ThreadManagerTest, NonStandardExceptionGivesNullPointerAndNoDetails)
{
    testing_support::LogCapture log;
    std::promise<bool> null_error;
    ThreadManager manager;
    manager.m_exception_callback = [&](std::shared_ptr<BaseThread>, const std::exception* error) {
        null_error.set_value(error == nullptr);
    };
    manager.CreateThread<ThrowingThread<int>>(5);
    auto future = null_error.get_future();
    ASSERT_EQ(future.wait_for(5s), std::future_status::ready);
    EXPECT_TRUE(future.get());
    manager.Terminate();
    EXPECT_TRUE(log.Contains("[thrower, fatal] Uncaught exception!"));
    for (const auto& line : log.Lines())
        EXPECT_EQ(line.find("Error details"), std::string::npos);
}

// Notes which threads had ended when it was told that its producers had ended, and whether every
// thread had been asked to stop by the time it ends; then ends.
class EndRecordingThread : public BaseThread {
public:
    EndRecordingThread(const std::string& name, std::shared_ptr<std::vector<std::string>> ended,
                       std::shared_ptr<std::mutex> mutex, ThreadManager& manager)
        : BaseThread(name, manager), m_ended(std::move(ended)), m_mutex(std::move(mutex))
    {
    }

    std::vector<std::string> ended_before_producers_ended;
    std::function<bool()> all_asked;  // set before the stop
    bool all_asked_when_ending = false;

protected:
    void ThreadFunc() override
    {
        while (!IsTerminated())
            std::this_thread::sleep_for(1ms);
        // Lingers, as a consumer taking its last work does, until nothing can reach it any more.
        for (int i = 0; i < 10 && WaitForProducers(1s); ++i) {
        }
        ended_before_producers_ended = Ended();
        all_asked_when_ending = all_asked();
        std::lock_guard<std::mutex> lock(*m_mutex);
        m_ended->push_back(GetName());
    }

private:
    std::vector<std::string> Ended()
    {
        std::lock_guard<std::mutex> lock(*m_mutex);
        return *m_ended;
    }

    std::shared_ptr<std::vector<std::string>> m_ended;
    std::shared_ptr<std::mutex> m_mutex;
};

TEST(ThreadManagerTest, TerminateAsksEveryThreadBeforeAnyEndsThenJoinsTheLastStartedFirstAndIsIdempotent)
{
    auto ended = std::make_shared<std::vector<std::string>>();
    auto mutex = std::make_shared<std::mutex>();
    ThreadManager manager;
    std::vector<std::shared_ptr<EndRecordingThread>> threads;
    for (const char* name : {"consumer", "middle", "producer"})
        threads.push_back(manager.CreateThread<EndRecordingThread>(name, ended, mutex));
    const auto all_asked = [&threads] {
        return std::all_of(threads.begin(), threads.end(), [](const auto& thread) { return thread->IsTerminated(); });
    };
    for (const auto& thread : threads) thread->all_asked = all_asked;
    manager.Terminate();

    EXPECT_EQ(*ended, (std::vector<std::string>{"producer", "middle", "consumer"}));
    for (const auto& thread : threads) EXPECT_TRUE(thread->all_asked_when_ending) << thread->GetName();
    EXPECT_EQ(threads[0]->ended_before_producers_ended, (std::vector<std::string>{"producer", "middle"}));
    EXPECT_EQ(threads[1]->ended_before_producers_ended, (std::vector<std::string>{"producer"}));
    EXPECT_TRUE(manager.IsTerminated());
    manager.Terminate();
    // The entry was already taken by the manager: this returns without joining.
    threads[0]->Terminate(true);
}

TEST(ThreadManagerTest, NoThreadStartsAfterTerminate)
{
    testing_support::LogCapture log;
    ThreadManager manager;
    manager.Terminate();
    auto thread = manager.CreateThread<PollingThread>("late");
    ASSERT_NE(thread, nullptr);
    auto future = thread->os_name.get_future();
    EXPECT_EQ(future.wait_for(100ms), std::future_status::timeout);
    thread->Terminate(true);  // nothing recorded: returns at once
}

TEST(ThreadManagerTest, TerminateWithoutWaitOnlySetsTheFlag)
{
    ThreadManager manager;
    auto thread = manager.CreateThread<PollingThread>("flag");
    thread->os_name.get_future().wait_for(5s);
    thread->Terminate(false);
    EXPECT_TRUE(thread->IsTerminated());
}

// Pauses through BaseThread::WaitFor and reports how each pause ended.
class WaitingThread : public BaseThread {
public:
    WaitingThread(std::chrono::milliseconds pause, ThreadManager& manager)
        : BaseThread("waiter", manager), m_pause(pause)
    {
    }

    std::promise<bool> first_pause_completed;
    std::atomic<int> completed_pauses{0};

protected:
    void ThreadFunc() override
    {
        bool first = true;
        while (true) {
            const bool completed = WaitFor(m_pause);
            if (first)
                first_pause_completed.set_value(completed);
            first = false;
            if (!completed)
                return;
            ++completed_pauses;
        }
    }

private:
    std::chrono::milliseconds m_pause;
};

TEST(BaseThreadTest, WaitForEndsAtOnceWhenTerminatedAndRunsItsTimeOtherwise)
{
    {
        // A pause far longer than the test: only the stop request can end it.
        ThreadManager manager;
        auto thread = manager.CreateThread<WaitingThread>(std::chrono::milliseconds(20000));
        std::this_thread::sleep_for(50ms);
        const auto before = std::chrono::steady_clock::now();
        manager.Terminate();
        EXPECT_LT(std::chrono::steady_clock::now() - before, 10s);
        auto result = thread->first_pause_completed.get_future();
        ASSERT_EQ(result.wait_for(0s), std::future_status::ready);
        EXPECT_FALSE(result.get());
    }
    {
        // Short pauses complete on their own, several times, until the stop.
        ThreadManager manager;
        auto thread = manager.CreateThread<WaitingThread>(std::chrono::milliseconds(1));
        auto result = thread->first_pause_completed.get_future();
        ASSERT_EQ(result.wait_for(5s), std::future_status::ready);
        EXPECT_TRUE(result.get());
        for (int i = 0; i < 500 && thread->completed_pauses.load() < 3; ++i)
            std::this_thread::sleep_for(10ms);
        EXPECT_GE(thread->completed_pauses.load(), 3);
    }
}

}  // namespace
