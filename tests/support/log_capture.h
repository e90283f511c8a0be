#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <vector>

#include <boost/log/core.hpp>
#include <boost/log/sinks/basic_sink_backend.hpp>
#include <boost/log/sinks/sync_frontend.hpp>
#include <boost/make_shared.hpp>

#include "application/runtime/logger.h"

namespace testing_support {

// Collects every log line, formatted as the service writes it, for the life of the object.
class LogCapture {
public:
    LogCapture()
        : m_backend(boost::make_shared<Backend>()), m_sink(boost::make_shared<Sink>(m_backend))
    {
        m_sink->set_formatter(&Logger::FormatRecord);
        boost::log::core::get()->add_sink(m_sink);
    }
    ~LogCapture() { boost::log::core::get()->remove_sink(m_sink); }
    LogCapture(const LogCapture&) = delete;
    LogCapture& operator=(const LogCapture&) = delete;

    std::vector<std::string> Lines() const { return m_backend->Lines(); }

    int Count(const std::string& line) const
    {
        int count = 0;
        for (const auto& l : Lines())
            count += (l == line);
        return count;
    }

    bool Contains(const std::string& line) const { return Count(line) > 0; }

    // Waits up to `timeout` for a line equal to `line`.
    bool WaitFor(const std::string& line, std::chrono::milliseconds timeout = std::chrono::seconds(5)) const
    {
        return m_backend->WaitFor([&](const std::vector<std::string>& lines) {
            for (const auto& l : lines)
                if (l == line)
                    return true;
            return false;
        }, timeout);
    }

private:
    class Backend : public boost::log::sinks::basic_formatted_sink_backend<
                        char, boost::log::sinks::concurrent_feeding> {
    public:
        void consume(const boost::log::record_view&, const string_type& line)
        {
            {
                std::lock_guard<std::mutex> lock(m_mutex);
                m_lines.push_back(line);
            }
            m_changed.notify_all();
        }

        std::vector<std::string> Lines() const
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            return m_lines;
        }

        template <typename Predicate>
        bool WaitFor(Predicate predicate, std::chrono::milliseconds timeout)
        {
            std::unique_lock<std::mutex> lock(m_mutex);
            return m_changed.wait_for(lock, timeout, [&] { return predicate(m_lines); });
        }

    private:
        mutable std::mutex m_mutex;
        std::condition_variable m_changed;
        std::vector<std::string> m_lines;
    };
    using Sink = boost::log::sinks::synchronous_sink<Backend>;

    boost::shared_ptr<Backend> m_backend;
    boost::shared_ptr<Sink> m_sink;
};

}  // namespace testing_support
