#include "application/runtime/logger.h"

#include <iostream>

#include <boost/algorithm/string/split.hpp>
#include <boost/algorithm/string/trim.hpp>
#include <boost/core/null_deleter.hpp>
#include <boost/log/attributes/value_extraction.hpp>
#include <boost/log/expressions.hpp>
#include <boost/log/keywords/channel.hpp>
#include <boost/log/utility/formatting_ostream.hpp>
#include <boost/make_shared.hpp>

namespace logging = boost::log;

namespace {

const char* SeverityName(SeverityLevel level)
{
    switch (level) {
    case logging::trivial::trace: return "trace";
    case logging::trivial::debug: return "debug";
    case logging::trivial::info: return "info";
    case logging::trivial::warning: return "warning";
    case logging::trivial::error: return "error";
    case logging::trivial::fatal: return "fatal";
    }
    return "trace";
}

}  // namespace

void Logger::FormatRecord(const logging::record_view& record, logging::formatting_ostream& stream)
{
    stream << "[";
    if (auto channel = logging::extract<std::string>("Channel", record))
        stream << *channel;
    auto severity = logging::extract<SeverityLevel>("Severity", record);
    if (severity && *severity >= logging::trivial::warning)
        stream << ", " << SeverityName(*severity);
    stream << "] " << record[logging::expressions::smessage];
}

SeverityLevel SeverityFromName(const std::string& name)
{
    if (name == "debug") return logging::trivial::debug;
    if (name == "info") return logging::trivial::info;
    if (name == "warning") return logging::trivial::warning;
    if (name == "error") return logging::trivial::error;
    if (name == "fatal") return logging::trivial::fatal;
    return logging::trivial::trace;
}

LogSink::LogSink(boost::shared_ptr<Sink> sink) : m_sink(std::move(sink)) {}

LogSink::~LogSink()
{
    auto core = logging::core::get();
    core->remove_sink(m_sink);
    m_sink->stop();
    m_sink->flush();
}

void LogSink::SetFilters(const std::string& filter)
{
    std::vector<std::string> items;
    boost::algorithm::split(items, filter, [](char c) { return c == ';'; });
    for (const auto& item : items) {
        std::vector<std::string> parts;
        // Adjacent separators count as one.
        boost::algorithm::split(parts, item, [](char c) { return c == ':'; },
                                boost::algorithm::token_compress_on);
        if (parts.size() != 2)
            continue;
        const std::string name = boost::algorithm::trim_copy(parts[0]);
        const SeverityLevel level = SeverityFromName(boost::algorithm::trim_copy(parts[1]));
        if (name == "*")
            m_global_level = level;
        else
            m_channel_levels[name] = level;
    }
    InstallFilter();
}

void LogSink::SetChannelFilter(const std::string& channel, SeverityLevel level)
{
    m_channel_levels[channel] = level;
    InstallFilter();
}

void LogSink::SetGlobalMinimalSeverity(SeverityLevel level)
{
    m_global_level = level;
}

void LogSink::InstallFilter()
{
    m_sink->set_filter(
        [global = m_global_level, channels = m_channel_levels](const logging::attribute_value_set& values) {
            auto severity = logging::extract<SeverityLevel>("Severity", values);
            if (!severity)
                return false;
            if (*severity >= global)
                return true;
            auto channel = logging::extract<std::string>("Channel", values);
            if (!channel)
                return false;
            auto it = channels.find(*channel);
            return it != channels.end() && *severity >= it->second;
        });
}

boost::shared_ptr<LogSink> Logger::Init()
{
    return Init(std::cout);
}

boost::shared_ptr<LogSink> Logger::Init(std::ostream& out)
{
    auto backend = boost::make_shared<logging::sinks::text_ostream_backend>();
    backend->add_stream(boost::shared_ptr<std::ostream>(&out, boost::null_deleter()));
    backend->auto_flush(true);

    auto sink = boost::make_shared<LogSink::Sink>(backend);
    sink->set_formatter(&Logger::FormatRecord);
    logging::core::get()->add_sink(sink);
    return boost::make_shared<LogSink>(sink);
}

LogSource Logger::GetLogSource(const std::string& channel)
{
    return LogSource(logging::keywords::channel = channel);
}
