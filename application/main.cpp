#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <ctime>
#include <iostream>
#include <memory>
#include <string>
#include <typeinfo>

#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <boost/log/sources/severity_logger.hpp>
#include <glibmm/exception.h>

#include "application/runtime/file_error_handler.h"
#include "application/runtime/log_channels.h"
#include "application/runtime/logger.h"
#include "application/runtime/service_options.h"
#include "application/runtime/thread_manager.h"
#include "application/runtime/unique_fd.h"
#include "application/runtime/util.h"
#include "application/service.h"

namespace {

// Process-wide stop request: written by the signal handler and the thread failure callback,
// polled by the main thread, never cleared.
std::atomic<int> g_stop{0};
std::atomic<int> g_last_signal{0};
// Set by the failure callback when a failing thread caused the stop.
std::atomic<bool> g_thread_failed{false};
static_assert(std::atomic<int>::is_always_lock_free, "the signal handler needs a lock-free flag");
static_assert(std::atomic<bool>::is_always_lock_free, "the failure callback needs a lock-free flag");

// Write end of the pipe that wakes the main thread's wait; -1 until it exists. A write to a
// non-blocking pipe is safe in a signal handler.
std::atomic<int> g_wake_fd{-1};

void WakeMainThread()
{
    const int fd = g_wake_fd.load();
    if (fd < 0)
        return;
    const char byte = 1;
    // A full pipe already holds a wake-up; nothing else can fail here worth reporting.
    const ssize_t written = ::write(fd, &byte, 1);
    (void)written;
}

extern "C" void OnSignal(int signal_number)
{
    const int saved_errno = errno;
    g_last_signal.store(signal_number);
    g_stop.store(1);
    WakeMainThread();
    errno = saved_errno;
}

// The pipe the main thread sleeps on: any stop request makes it readable at once.
class StopPipe {
public:
    StopPipe()
    {
        int fds[2];
        if (::pipe2(fds, O_NONBLOCK | O_CLOEXEC) == 0) {
            m_read.reset(fds[0]);
            m_write.reset(fds[1]);
            g_wake_fd.store(fds[1]);
        }
    }
    ~StopPipe() { g_wake_fd.store(-1); }
    StopPipe(const StopPipe&) = delete;
    StopPipe& operator=(const StopPipe&) = delete;

    // Returns when a stop is requested. Without a pipe it still notices the flag within 0.5 s.
    void WaitForStop()
    {
        while (g_stop.load() == 0) {
            pollfd entry{m_read.get(), POLLIN, 0};
            ::poll(&entry, m_read.isValid() ? 1 : 0, 500);
        }
    }

private:
    util::UniqueFd m_read;
    util::UniqueFd m_write;
};

int Run(int argc, char* argv[], boost::shared_ptr<LogSink>& log_sink, StopPipe& stop_pipe)
{
    ServiceOptions options;
    ServiceOptionsParser parser(options);
    switch (parser.ParseCommandLine(argc, argv)) {
        case ServiceOptionsParser::Outcome::kHelp:
            parser.PrintHelp(std::cout);
            return 1;
        case ServiceOptionsParser::Outcome::kVersion:
            ServiceOptionsParser::PrintVersion(std::cout);
            return 0;
        case ServiceOptionsParser::Outcome::kRun:
            break;
    }

    log_sink = Logger::Init();
    log_sink->SetFilters(options.log_filter);
    LogSource logger = Logger::GetLogSource(channel::kMain);

    parser.ReadConfigFile(logger);
    parser.Finalize(logger);

    FileErrorHandler::SetErrorFileDirectory(options.error_file_directory);

    auto manager = std::make_shared<ThreadManager>();
    manager->m_exception_callback = [](std::shared_ptr<BaseThread>, const std::exception*) {
        // Only a failure that starts the stop makes it a failed run; one during a stop already
        // requested by a signal does not.
        int running = 0;
        if (g_stop.compare_exchange_strong(running, 1))
            g_thread_failed.store(true);
        WakeMainThread();
    };

    Service service(options, logger, *manager);

    stop_pipe.WaitForStop();

    if (g_last_signal.load() != 0)
        LOG(logger, info) << "Caught signal " << g_last_signal.load();
    LOG(logger, info) << "Thread is going to be terminated.";
    // The only owner: destroying the manager stops and joins every thread.
    manager.reset();
    util::RemoveRegularFile(options.angle_file_path);
    LOG(logger, info) << "Thread is terminated.";
    // A supervisor must see a stop caused by a failure as one.
    return g_thread_failed.load() ? 1 : 0;
}

template <typename Exception, typename Message>
void LogStartUpFailure(const Exception& error, const Message& message, boost::shared_ptr<LogSink>& log_sink)
{
    boost::log::sources::severity_logger_mt<SeverityLevel> global;
    LOG(global, fatal) << "Uncaught exception during initialization: class: " << typeid(error).name()
                       << "; message: " << LoggedValue(std::string(message), 4 * kLoggedValueLimit);
    // Write the queued records before the process ends.
    log_sink.reset();
}

// Installs the stop handlers, then takes the stop signals that came before: the program that
// starts the service ("flowtally", launcher.cpp) blocks them, so that one sent while the libraries
// were still being loaded waits for the handler instead of ending the process.
void HandleStopSignals()
{
    std::signal(SIGINT, &OnSignal);
    std::signal(SIGTERM, &OnSignal);
    // A closed terminal stops the service in order, like SIGTERM.
    std::signal(SIGHUP, &OnSignal);
    sigset_t stop_signals;
    sigemptyset(&stop_signals);
    sigaddset(&stop_signals, SIGINT);
    sigaddset(&stop_signals, SIGTERM);
    sigaddset(&stop_signals, SIGHUP);
    pthread_sigmask(SIG_UNBLOCK, &stop_signals, nullptr);
}

}  // namespace

int main(int argc, char* argv[])
{
    // First of all: a signal handled now only sets the stop flag, and the service built below
    // stops at once.
    StopPipe stop_pipe;
    HandleStopSignals();
    std::srand(static_cast<unsigned>(std::time(nullptr)));

    boost::shared_ptr<LogSink> log_sink;
    // The process ends abnormally, as with an uncaught exception, but by itself: std::terminate
    // would print the exception's text once more, unquoted, after the fatal line.
    try {
        return Run(argc, argv, log_sink, stop_pipe);
    } catch (const std::exception& error) {
        LogStartUpFailure(error, error.what(), log_sink);
        std::abort();
    } catch (const Glib::Exception& error) {
        // GLib's errors (e.g. an unparsable pipeline) are no std::exception.
        LogStartUpFailure(error, error.what(), log_sink);
        std::abort();
    }
}
