#pragma once

#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <boost/log/attributes/value_extraction.hpp>
#include <boost/log/core.hpp>
#include <boost/log/expressions/message.hpp>
#include <boost/log/sinks/basic_sink_backend.hpp>
#include <boost/log/sinks/sync_frontend.hpp>
#include <boost/make_shared.hpp>
#include <boost/optional.hpp>

#include "application/runtime/logger.h"
#include "application/runtime/thread_manager.h"
#include "application/streaming/bin.h"
#include "application/streaming/pipeline_message_processor.h"
#include "support/polling.h"

namespace streaming_test {

// Keeps every log record written while it lives, as "[channel] message".
class LogCapture {
public:
    LogCapture() : m_backend(boost::make_shared<Backend>())
    {
        m_sink = boost::make_shared<Frontend>(m_backend);
        boost::log::core::get()->add_sink(m_sink);
    }
    ~LogCapture() { boost::log::core::get()->remove_sink(m_sink); }
    LogCapture(const LogCapture&) = delete;
    LogCapture& operator=(const LogCapture&) = delete;

    std::vector<std::string> Lines() const { return m_backend->Lines(); }

    std::size_t Count(const std::string& line) const
    {
        std::size_t count = 0;
        for (const auto& item : Lines()) count += item == line ? 1 : 0;
        return count;
    }

    bool Contains(const std::string& text) const
    {
        for (const auto& item : Lines())
            if (item.find(text) != std::string::npos)
                return true;
        return false;
    }

private:
    class Backend : public boost::log::sinks::basic_sink_backend<boost::log::sinks::synchronized_feeding> {
    public:
        void consume(const boost::log::record_view& record)
        {
            std::string channel;
            if (auto value = boost::log::extract<std::string>("Channel", record))
                channel = *value;
            std::string message;
            if (auto value = record[boost::log::expressions::smessage])
                message = *value;
            std::lock_guard<std::mutex> lock(m_mutex);
            m_lines.push_back("[" + channel + "] " + message);
        }

        std::vector<std::string> Lines() const
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            return m_lines;
        }

    private:
        mutable std::mutex m_mutex;
        std::vector<std::string> m_lines;
    };
    using Frontend = boost::log::sinks::synchronous_sink<Backend>;

    boost::shared_ptr<Backend> m_backend;
    boost::shared_ptr<Frontend> m_sink;
};

using testing_support::WaitUntil;

// A thread manager whose failure callback records the failing thread's exception text.
class RecordingManager {
public:
    RecordingManager() : m_manager(std::make_shared<ThreadManager>())
    {
        m_manager->m_exception_callback = [this](std::shared_ptr<BaseThread>, const std::exception* error) {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_failures.push_back(error ? error->what() : "unknown exception");
            m_condition.notify_all();
        };
    }
    ~RecordingManager() { m_manager.reset(); }

    ThreadManager& Get() { return *m_manager; }

    // Stops and joins every thread.
    void Shutdown() { m_manager->Terminate(); }

    // The first failure, waiting for it at most `timeout`.
    boost::optional<std::string> WaitForFailure(std::chrono::milliseconds timeout = std::chrono::seconds(5))
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        if (!m_condition.wait_for(lock, timeout, [this] { return !m_failures.empty(); }))
            return boost::none;
        return m_failures.front();
    }

    std::vector<std::string> Failures()
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_failures;
    }

private:
    std::mutex m_mutex;
    std::condition_variable m_condition;
    std::vector<std::string> m_failures;
    std::shared_ptr<ThreadManager> m_manager;
};

// Runs a top-level bin on its pipeline thread and returns the text of the failure that ends it.
inline std::string RunUntilFailure(streaming::Bin& bin)
{
    RecordingManager manager;
    manager.Get().CreateThread<streaming::PipelineMessageProcessor>(std::ref(bin));
    auto failure = manager.WaitForFailure();
    return failure ? *failure : "no failure";
}

}  // namespace streaming_test
