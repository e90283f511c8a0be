#include <atomic>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <iostream>
#include <memory>
#include <string>
#include <typeinfo>

#include <boost/log/sources/severity_logger.hpp>

#include "application/runtime/file_error_handler.h"
#include "application/runtime/logger.h"
#include "application/runtime/service_options.h"
#include "application/service.h"
#include "application/runtime/thread_manager.h"

namespace {

// Process-wide stop request: written by the signal handler and the thread failure callback,
// polled by the main thread, never cleared.
std::atomic<int> g_stop{0};
std::atomic<int> g_last_signal{0};
static_assert(std::atomic<int>::is_always_lock_free, "the signal handler needs a lock-free flag");

extern "C" void OnSignal(int signal_number)
{
    g_last_signal.store(signal_number);
    g_stop.store(1);
}

void WaitForStop()
{
    while (g_stop.load() == 0) {
        timespec delay{0, 500000000};
        nanosleep(&delay, nullptr);
    }
}

int Run(int argc, char* argv[], boost::shared_ptr<LogSink>& log_sink)
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
    LogSource logger = Logger::GetLogSource("main");

    parser.ReadConfigFile(logger);
    parser.Finalize(logger);

    FileErrorHandler::SetErrorFileDirectory(options.error_file_directory);

    auto manager = std::make_shared<ThreadManager>();
    manager->m_exception_callback = [](std::shared_ptr<BaseThread>, const std::exception*) { g_stop.store(1); };

    Service service(options, logger, *manager);

    WaitForStop();

    if (g_last_signal.load() != 0)
        LOG(logger, info) << "Caught signal " << g_last_signal.load();
    LOG(logger, info) << "Thread is going to be terminated.";
    // The only owner: destroying the manager stops and joins every thread.
    manager.reset();
    std::remove(options.angle_file_path.c_str());
    LOG(logger, info) << "Thread is terminated.";
    return 0;
}

}  // namespace

int main(int argc, char* argv[])
{
    std::signal(SIGINT, &OnSignal);
    std::signal(SIGTERM, &OnSignal);
    std::srand(static_cast<unsigned>(std::time(nullptr)));

    boost::shared_ptr<LogSink> log_sink;
    try {
        return Run(argc, argv, log_sink);
    } catch (const std::exception& error) {
        boost::log::sources::severity_logger_mt<SeverityLevel> global;
        BOOST_LOG_SEV(global, boost::log::trivial::fatal)
            << "Uncaught exception during initialization: class: " << typeid(error).name()
            << "; message: " << error.what();
        // Write the queued records before the process ends.
        log_sink.reset();
        throw;
    }
}
