#pragma once

#include <cstddef>
#include <iosfwd>
#include <map>
#include <string>

#include <boost/log/core.hpp>
#include <boost/log/sinks/async_frontend.hpp>
#include <boost/log/sinks/text_ostream_backend.hpp>
#include <boost/log/sources/record_ostream.hpp>
#include <boost/log/sources/severity_channel_logger.hpp>
#include <boost/log/trivial.hpp>
#include <boost/log/utility/formatting_ostream_fwd.hpp>
#include <boost/shared_ptr.hpp>

#include "CommonUtilities/logged_text/logged_value.h"

// Severity of a log record: trace, debug, info, warning, error, fatal.
using SeverityLevel = boost::log::trivial::severity_level;

// A channel-tagged, thread-safe logger. Copies log on the same channel.
using LogSource = boost::log::sources::severity_channel_logger_mt<SeverityLevel, std::string>;

// The service's one logging front end: every record names its severity,
//     LOG(m_logger, info) << "text";
// on a log source of a channel declared in log_channels.h (or a thread's or bin's name).
#define LOG(source, severity) BOOST_LOG_SEV(source, ::boost::log::trivial::severity)

// The process's one sink on standard output and its per-channel filter.
class LogSink {
public:
    using Sink = boost::log::sinks::asynchronous_sink<boost::log::sinks::text_ostream_backend>;

    explicit LogSink(boost::shared_ptr<Sink> sink);
    ~LogSink();
    LogSink(const LogSink&) = delete;
    LogSink& operator=(const LogSink&) = delete;

    // Parses "*:warning;main:info;video_capture:trace" into the global minimum and per-channel minimums,
    // then installs the filter. Malformed items are ignored.
    void SetFilters(const std::string& filter);
    void SetChannelFilter(const std::string& channel, SeverityLevel level);
    // Takes effect the next time the filter is installed.
    void SetGlobalMinimalSeverity(SeverityLevel level);

private:
    void InstallFilter();

    boost::shared_ptr<Sink> m_sink;
    std::map<std::string, SeverityLevel> m_channel_levels;
    SeverityLevel m_global_level = boost::log::trivial::trace;
};

class Logger {
public:
    // Installs the asynchronous standard-output sink with the "[channel, severity] message" format.
    static boost::shared_ptr<LogSink> Init();
    // The same sink over another stream (not owned; it must outlive the returned LogSink).
    static boost::shared_ptr<LogSink> Init(std::ostream& out);
    static LogSource GetLogSource(const std::string& channel);
    // Writes one record as "[channel, severity] message" (the severity from warning up).
    static void FormatRecord(const boost::log::record_view& record, boost::log::formatting_ostream& stream);
};

// A value from outside (an option, a path, an exception's text) as a log line quotes it: the one
// rule of every library (logged_text/logged_value.h).
using logged_text::kLoggedValueLimit;
using logged_text::LoggedValue;

// Maps a severity name to a level: exact names debug..fatal, anything else is trace.
SeverityLevel SeverityFromName(const std::string& name);
