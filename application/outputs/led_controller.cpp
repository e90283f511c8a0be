#include "application/outputs/led_controller.h"

#include <deque>
#include <exception>
#include <mutex>
#include <system_error>
#include <thread>

#include <boost/process/args.hpp>
#include <boost/process/child.hpp>
#include <boost/process/env.hpp>
#include <boost/process/environment.hpp>
#include <boost/process/exe.hpp>
#include <boost/process/io.hpp>

#include "application/runtime/log_channels.h"
#include "application/runtime/logger.h"

namespace bp = boost::process;

// What the workers need, copied out of the controller so that it may be destroyed while they run.
struct LedController::Launcher {
    explicit Launcher(const std::string& path) : set_leds_path(path), logger(Logger::GetLogSource(channel::kLed)) {}

    const std::string set_leds_path;
    LogSource logger;

    std::mutex mutex;
    std::deque<std::vector<std::string>> pending;  // events not yet taken by a worker
    unsigned running = 0;                          // workers alive
};

LedController::LedController(const std::string& set_leds_path) : m_launcher(std::make_shared<Launcher>(set_leds_path))
{
}

void LedController::EventIn()
{
    ExecSetLeds({kModeArg, kInEvent});
}

void LedController::EventOut()
{
    ExecSetLeds({kModeArg, kOutEvent});
}

void LedController::ProcessAlarm(const Alarm& alarm)
{
    if (alarm.type == kIncoming)
        EventIn();
    else if (alarm.type == kOutgoing)
        EventOut();
}

void LedController::ExecSetLeds(const std::vector<std::string>& arguments)
{
    Launcher& launcher = *m_launcher;
    std::lock_guard<std::mutex> lock(launcher.mutex);
    if (launcher.pending.size() >= kMaxPending) {
        LOG(launcher.logger, warning) << "Too many LED events waiting, event dropped";
        return;
    }
    launcher.pending.push_back(arguments);
    if (launcher.running >= kMaxRunning)
        return;  // a running worker takes it when done
    try {
        std::thread(&LedController::ThreadFunc, m_launcher).detach();
        ++launcher.running;
    } catch (const std::system_error& error) {
        LOG(launcher.logger, error) << "Failed to start LED thread: " << error.what();
        if (launcher.running == 0)
            launcher.pending.clear();
    }
}

void LedController::ThreadFunc(std::shared_ptr<Launcher> launcher)
{
    for (;;) {
        std::vector<std::string> arguments;
        {
            std::lock_guard<std::mutex> lock(launcher->mutex);
            if (launcher->pending.empty()) {
                --launcher->running;
                return;
            }
            arguments = std::move(launcher->pending.front());
            launcher->pending.pop_front();
        }
        RunSetLeds(*launcher, arguments);
    }
}

void LedController::RunSetLeds(Launcher& launcher, const std::vector<std::string>& arguments)
{
    try {
        // The utility gets its own path as program name, no environment, no standard input, and
        // its output streams sent to /dev/null.
        bp::environment no_environment;
        no_environment.clear();
        bp::child child(bp::exe = launcher.set_leds_path, bp::args = arguments, no_environment, bp::std_in.close(),
                        bp::std_out > "/dev/null", bp::std_err > "/dev/null");
        child.wait();
    } catch (const std::exception& error) {
        // Failures to start or wait for the utility (boost::system and std::system_error alike).
        LOG(launcher.logger, error) << error.what();
    }
}
