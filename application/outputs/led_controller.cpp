#include "application/outputs/led_controller.h"

#include <algorithm>
#include <cerrno>
#include <condition_variable>
#include <deque>
#include <exception>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <set>
#include <sstream>
#include <string>
#include <system_error>
#include <thread>

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <boost/process/args.hpp>
#include <boost/process/child.hpp>
#include <boost/process/env.hpp>
#include <boost/process/error.hpp>
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
    std::set<pid_t> left_behind;                   // groups of utilities that exited with processes still in them
    bool stopped = false;                          // no further event runs
};

namespace {

// How often Stop looks whether the processes left behind have ended (nothing tells it).
constexpr std::chrono::milliseconds kGroupPoll{50};

// Sends the signal to every process of each group.
void SignalGroups(const std::set<pid_t>& groups, int signal_number)
{
    for (const pid_t group : groups)
        ::kill(-group, signal_number);
}

// The process group still holds a process that runs. One that has ended but waits to be reaped by
// its new parent counts as gone; it can do nothing any more.
bool GroupIsRunning(pid_t group)
{
    if (::kill(-group, 0) != 0)
        return false;
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator("/proc", error)) {
        const std::string name = entry.path().filename().string();
        if (name.empty() || !std::all_of(name.begin(), name.end(), [](char c) { return c >= '0' && c <= '9'; }))
            continue;
        // "pid (name) state ppid pgrp ...": the name may itself hold blanks and brackets.
        std::ifstream file(entry.path() / "stat");
        std::string stat;
        std::getline(file, stat);
        const auto name_end = stat.rfind(')');
        if (name_end == std::string::npos)
            continue;
        char state = 0;
        long parent = 0;
        long process_group = 0;
        std::istringstream fields(stat.substr(name_end + 1));
        if (fields >> state >> parent >> process_group && process_group == group && state != 'Z')
            return true;
    }
    return false;
}

void ForgetEndedGroups(std::set<pid_t>& groups)
{
    for (auto it = groups.begin(); it != groups.end();) it = GroupIsRunning(*it) ? std::next(it) : groups.erase(it);
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
    const auto wait_until_ended = [&launcher, &lock](std::chrono::milliseconds timeout) {
        const auto deadline = std::chrono::steady_clock::now() + timeout;
        for (;;) {
            ForgetEndedGroups(launcher.left_behind);
            if (launcher.utilities.empty() && launcher.running == 0 && launcher.left_behind.empty())
                return true;
            const auto now = std::chrono::steady_clock::now();
            if (now >= deadline)
                return false;
            launcher.changed.wait_for(lock, std::min<std::chrono::steady_clock::duration>(kGroupPoll, deadline - now));
        }
    };
    if (wait_until_ended(kStopGrace))
        return;
    std::set<pid_t> groups = launcher.utilities;
    groups.insert(launcher.left_behind.begin(), launcher.left_behind.end());
    LOG(launcher.logger, warning) << "Ending LED utilities still running at stop: " << groups.size();
    SignalGroups(groups, SIGTERM);
    if (wait_until_ended(kTermGrace))
        return;
    groups = launcher.utilities;
    groups.insert(launcher.left_behind.begin(), launcher.left_behind.end());
    SignalGroups(groups, SIGKILL);
    // The workers reap the utilities as soon as they are gone.
    wait_until_ended(5 * kTermGrace);
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
        // stop reaches whatever it starts as well. A child whose exec fails ends at once, but the
        // library hands back no child for it: its process id is taken from the failure, so that
        // it is reaped.
        bp::environment no_environment;
        no_environment.clear();
        std::error_code start_error;
        pid_t failed_child = -1;
        bp::child child(bp::exe = launcher.set_leds_path, bp::args = arguments, no_environment, bp::std_in.close(),
                        bp::std_out > "/dev/null", bp::std_err > "/dev/null", start_error,
                        bp::extend::on_exec_setup = [](auto&) { ::setpgid(0, 0); },
                        bp::extend::on_error = [&failed_child](auto& exec, const std::error_code&) {
                            failed_child = exec.pid;
                        });
        if (start_error) {
            if (failed_child > 0)
                while (::waitpid(failed_child, nullptr, 0) == -1 && errno == EINTR) {
                }
            LOG(launcher.logger, error) << "Can not run LED utility " << launcher.set_leds_path << ": "
                                        << (failed_child > 0 ? "execve failed: " : "") << start_error.message();
            return;
        }
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
        // What the utility started in the background stays in its group, for Stop to end.
        const bool left_behind = GroupIsRunning(group);
        {
            std::lock_guard<std::mutex> lock(launcher.mutex);
            launcher.utilities.erase(group);
            ForgetEndedGroups(launcher.left_behind);
            if (left_behind)
                launcher.left_behind.insert(group);
        }
        launcher.changed.notify_all();
        if (wait_error)
            LOG(launcher.logger, error) << "boost::process::child::wait: waitpid(2) failed: " << wait_error.message();
    } catch (const std::exception& error) {
        // What else fails while the utility is started (memory, the library's own set-up).
        LOG(launcher.logger, error) << "Can not run LED utility " << launcher.set_leds_path << ": " << error.what();
    }
}
