#include "application/outputs/led_controller.h"

#include <condition_variable>
#include <deque>
#include <exception>
#include <mutex>
#include <set>
#include <system_error>
#include <thread>

#include <signal.h>
#include <unistd.h>

#include <boost/process/args.hpp>
#include <boost/process/child.hpp>
#include <boost/process/env.hpp>
#include <boost/process/environment.hpp>
#include <boost/process/exe.hpp>
#include <boost/process/extend.hpp>
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
    std::condition_variable changed;               // a worker or a utility has ended
    std::deque<std::vector<std::string>> pending;  // events not yet taken by a worker
    unsigned running = 0;                          // workers alive
    std::set<pid_t> utilities;                     // utilities running, each the leader of its group
    bool stopped = false;                          // no further event runs
};

namespace {

// Sends the signal to every process of each utility's group.
void SignalGroups(const std::set<pid_t>& groups, int signal_number)
{
    for (const pid_t group : groups)
        ::kill(-group, signal_number);
}

}  // namespace

LedController::LedController(const std::string& set_leds_path) : m_launcher(std::make_shared<Launcher>(set_leds_path))
{
}

LedController::~LedController()
{
    Stop();
}

void LedController::Stop()
{
    Launcher& launcher = *m_launcher;
    std::unique_lock<std::mutex> lock(launcher.mutex);
    if (!launcher.stopped) {
        launcher.stopped = true;
        if (!launcher.pending.empty())
            LOG(launcher.logger, warning) << "LED events not run at stop: " << launcher.pending.size();
        launcher.pending.clear();
    }
    // Ended means the workers too: none may log after the service's logging is gone.
    const auto all_ended = [&launcher] { return launcher.utilities.empty() && launcher.running == 0; };
    if (launcher.changed.wait_for(lock, kStopGrace, all_ended))
        return;
    LOG(launcher.logger, warning) << "Ending LED utilities still running at stop: " << launcher.utilities.size();
    SignalGroups(launcher.utilities, SIGTERM);
    if (launcher.changed.wait_for(lock, kStopGrace, all_ended))
        return;
    SignalGroups(launcher.utilities, SIGKILL);
    // The workers reap them as soon as they are gone.
    launcher.changed.wait_for(lock, 5 * kStopGrace, all_ended);
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
    if (launcher.stopped)
        return;
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
                launcher->changed.notify_all();
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
        // its output streams sent to /dev/null. It leads a process group of its own, so that a
        // stop reaches whatever it starts as well.
        bp::environment no_environment;
        no_environment.clear();
        bp::child child(bp::exe = launcher.set_leds_path, bp::args = arguments, no_environment, bp::std_in.close(),
                        bp::std_out > "/dev/null", bp::std_err > "/dev/null",
                        bp::extend::on_exec_setup = [](auto&) { ::setpgid(0, 0); });
        const pid_t group = child.id();
        {
            std::lock_guard<std::mutex> lock(launcher.mutex);
            launcher.utilities.insert(group);
            // Started while the controller stopped: it must not outlive the service either.
            if (launcher.stopped)
                ::kill(-group, SIGKILL);
        }
        std::error_code wait_error;
        child.wait(wait_error);
        {
            std::lock_guard<std::mutex> lock(launcher.mutex);
            launcher.utilities.erase(group);
        }
        launcher.changed.notify_all();
        if (wait_error)
            LOG(launcher.logger, error) << "boost::process::child::wait: waitpid(2) failed: " << wait_error.message();
    } catch (const std::exception& error) {
        // Failures to start the utility (boost::system and std::system_error alike).
        LOG(launcher.logger, error) << error.what();
    }
}
