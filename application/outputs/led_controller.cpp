#include "application/outputs/led_controller.h"

#include <algorithm>
#include <cerrno>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <deque>
#include <exception>
#include <filesystem>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <system_error>
#include <thread>
#include <utility>

#include <fcntl.h>
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

#include "application/runtime/close_on_exec.h"
#include "application/runtime/log_channels.h"
#include "application/runtime/logger.h"
#include "application/runtime/unique_fd.h"

namespace bp = boost::process;

using Clock = std::chrono::steady_clock;

namespace {

// How often Stop looks whether the processes left behind have ended (nothing tells it).
constexpr std::chrono::milliseconds kGroupPoll{50};
// A worker looks whether its utility has ended after kFirstPoll, then at doubling intervals of at
// most kLongestPoll: a quick utility is reaped within a millisecond or two, a slow one costs a few
// looks a second.
constexpr std::chrono::milliseconds kFirstPoll{1};
constexpr std::chrono::milliseconds kLongestPoll{20};

// The process groups that hold a process that runs, found in one pass over /proc. One that has
// ended and waits to be reaped by its new parent counts as gone; it can do nothing any more.
std::set<pid_t> LiveProcessGroups()
{
    std::set<pid_t> groups;
    std::error_code error;
    for (std::filesystem::directory_iterator it("/proc", error), end; !error && it != end; it.increment(error)) {
        const std::string name = it->path().filename().string();
        if (name.empty() || !std::all_of(name.begin(), name.end(), [](char c) { return c >= '0' && c <= '9'; }))
            continue;
        const util::UniqueFd file(::open(("/proc/" + name + "/stat").c_str(), O_RDONLY | O_CLOEXEC));
        if (!file.isValid())
            continue;  // it has just ended
        char stat[256];
        const ssize_t size = ::read(file.get(), stat, sizeof stat - 1);
        if (size <= 0)
            continue;
        stat[size] = '\0';
        // "pid (name) state ppid pgrp ...": the name may itself hold blanks and brackets, the
        // fields after it are numbers.
        const char* const name_end = std::strrchr(stat, ')');
        if (name_end == nullptr)
            continue;
        char state = 0;
        long parent = 0;
        long process_group = 0;
        if (std::sscanf(name_end + 1, " %c %ld %ld", &state, &parent, &process_group) == 3 && state != 'Z' &&
            process_group > 0)
            groups.insert(static_cast<pid_t>(process_group));
    }
    return groups;
}

// A started utility, the leader of its own process group, until it is reaped. One that its worker
// could not reap (an exception on the way) is killed with its group and reaped when this is destroyed.
class UtilityProcess {
public:
    explicit UtilityProcess(pid_t pid) : m_pid(pid) {}
    ~UtilityProcess()
    {
        if (m_reaped)
            return;
        ::kill(-m_pid, SIGKILL);
        std::error_code ignored;
        Reap(0, ignored);
    }
    UtilityProcess(const UtilityProcess&) = delete;
    UtilityProcess& operator=(const UtilityProcess&) = delete;

    pid_t Group() const { return m_pid; }

    // Reaps the utility if it has ended (flags WNOHANG) or once it ends (flags 0); true when it is
    // reaped. A failing waitpid is put into `error`, and the utility then counts as reaped: there
    // is nothing left to wait for.
    bool Reap(int flags, std::error_code& error)
    {
        while (!m_reaped) {
            const pid_t result = ::waitpid(m_pid, nullptr, flags);
            if (result == 0)
                return false;
            if (result == -1 && errno == EINTR)
                continue;
            if (result == -1)
                error.assign(errno, std::system_category());
            m_reaped = true;
        }
        return true;
    }

private:
    const pid_t m_pid;
    bool m_reaped = false;
};

// Sends the signal to every process of each group.
void SignalGroups(const std::set<pid_t>& groups, int signal_number)
{
    for (const pid_t group : groups)
        ::kill(-group, signal_number);
}

}  // namespace

// What the workers need, copied out of the controller so that it may be destroyed while they run.
// The mutex guards only short updates of the queue, the counters and the sets; nobody holds it
// while a utility starts, while waiting for one, or while looking through /proc.
struct LedController::Launcher {
    struct Event {
        std::vector<std::string> arguments;
        Clock::time_point queued;
    };

    explicit Launcher(const std::string& path)
        : set_leds_path(path),
          logger(Logger::GetLogSource(channel::kLed)),
          stale_reported(Clock::now() - kStaleReportInterval)
    {
    }

    // Drops the events at the head of the queue that have waited longer than kStaleAfter. Returns
    // how many stale drops to report now: none while the last report is younger than
    // kStaleReportInterval. Called with the mutex held.
    std::size_t DropStale(Clock::time_point now)
    {
        while (!pending.empty() && now - pending.front().queued > kStaleAfter) {
            pending.pop_front();
            ++stale_unreported;
        }
        if (stale_unreported == 0 || now - stale_reported < kStaleReportInterval)
            return 0;
        stale_reported = now;
        return std::exchange(stale_unreported, 0);
    }

    void ReportStale(std::size_t dropped)
    {
        LOG(logger, warning) << "LED events dropped, they waited longer than " << kStaleAfter.count()
                             << " ms for a worker: " << dropped;
    }

    // Calls `done` until it holds (true) or the deadline passes (false). In between it waits on
    // `changed` for a growing pause, cut short when Stop signals the groups or a worker ends.
    template <typename Done>
    bool PollUntil(Clock::time_point deadline, Done done)
    {
        auto pause = std::chrono::duration_cast<Clock::duration>(kFirstPoll);
        for (;;) {
            if (done())
                return true;
            const auto now = Clock::now();
            if (now >= deadline)
                return false;
            {
                std::unique_lock<std::mutex> lock(mutex);
                changed.wait_until(lock, std::min(now + pause, deadline));
            }
            pause = std::min<Clock::duration>(2 * pause, kLongestPoll);
        }
    }

    // Forgets the groups left behind that were known when `live` was looked up (numbered below
    // `known_before`) and are not in it. Called with the mutex held.
    void ForgetEndedGroups(const std::set<pid_t>& live, std::uint64_t known_before)
    {
        for (auto it = left_behind.begin(); it != left_behind.end();)
            it = it->second < known_before && live.count(it->first) == 0 ? left_behind.erase(it) : std::next(it);
    }

    // Looks once through /proc, outside the lock, for which of the groups left behind still run.
    // With `utility` (a group whose leader has been reaped) it also forgets that utility, and keeps
    // its group among those left behind when processes of it still run.
    void UpdateGroups(pid_t utility = -1)
    {
        const bool utility_group_exists = utility > 0 && ::kill(-utility, 0) == 0;
        std::uint64_t known_before = 0;
        bool others = false;
        {
            std::lock_guard<std::mutex> lock(mutex);
            known_before = next_left_behind;
            others = !left_behind.empty();
        }
        std::set<pid_t> live;
        if (utility_group_exists || others)
            live = LiveProcessGroups();
        {
            std::lock_guard<std::mutex> lock(mutex);
            if (utility > 0)
                utilities.erase(utility);
            ForgetEndedGroups(live, known_before);
            if (utility_group_exists && live.count(utility) != 0)
                left_behind[utility] = next_left_behind++;
        }
        changed.notify_all();
    }

    // The groups of the utilities running and of those left behind.
    std::set<pid_t> Groups()
    {
        std::lock_guard<std::mutex> lock(mutex);
        std::set<pid_t> groups = utilities;
        for (const auto& group : left_behind) groups.insert(group.first);
        return groups;
    }

    const std::string set_leds_path;
    LogSource logger;

    std::mutex mutex;
    std::condition_variable changed;  // a worker or a utility has ended, or Stop has signalled the groups
    std::deque<Event> pending;        // events not yet taken by a worker
    unsigned running = 0;             // workers alive
    std::set<pid_t> utilities;        // utilities running, each the leader of its group
    // Groups of utilities that exited with processes still in them, each numbered in the order found.
    std::map<pid_t, std::uint64_t> left_behind;
    std::uint64_t next_left_behind = 0;
    std::size_t stale_unreported = 0;  // stale events dropped since the last report
    Clock::time_point stale_reported;  // when that report was made
    bool stopped = false;              // no further event runs
};

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
    std::size_t not_run = 0;
    std::size_t stale = 0;
    {
        std::lock_guard<std::mutex> lock(launcher.mutex);
        if (!launcher.stopped) {
            launcher.stopped = true;
            not_run = launcher.pending.size();
            launcher.pending.clear();
            stale = std::exchange(launcher.stale_unreported, 0);
        }
    }
    if (stale != 0)
        launcher.ReportStale(stale);
    if (not_run != 0)
        LOG(launcher.logger, warning) << "LED events not run at stop: " << not_run;
    // Ended means the workers too: none may log after the service's logging is gone.
    const auto wait_until_ended = [&launcher](std::chrono::milliseconds timeout) {
        const auto deadline = Clock::now() + timeout;
        for (;;) {
            launcher.UpdateGroups();
            std::unique_lock<std::mutex> lock(launcher.mutex);
            if (launcher.utilities.empty() && launcher.running == 0 && launcher.left_behind.empty())
                return true;
            const auto now = Clock::now();
            if (now >= deadline)
                return false;
            launcher.changed.wait_for(lock, std::min<Clock::duration>(kGroupPoll, deadline - now));
        }
    };
    if (wait_until_ended(kStopGrace))
        return;
    std::set<pid_t> groups = launcher.Groups();
    LOG(launcher.logger, warning) << "Ending LED utilities still running at stop: " << groups.size();
    SignalGroups(groups, SIGTERM);
    launcher.changed.notify_all();
    if (wait_until_ended(kTermGrace))
        return;
    SignalGroups(launcher.Groups(), SIGKILL);
    launcher.changed.notify_all();
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
    Launcher::Event event{arguments, Clock::now()};
    std::size_t stale = 0;
    bool queued = false;
    bool start_worker = false;
    {
        std::lock_guard<std::mutex> lock(launcher.mutex);
        if (launcher.stopped)
            return;
        stale = launcher.DropStale(event.queued);
        if (launcher.pending.size() < kMaxPending) {
            launcher.pending.push_back(std::move(event));
            queued = true;
            // Otherwise a running worker takes it when done.
            start_worker = launcher.running < kMaxRunning;
            if (start_worker)
                ++launcher.running;
        }
    }
    if (stale != 0)
        launcher.ReportStale(stale);
    if (!queued) {
        LOG(launcher.logger, warning) << "Too many LED events waiting, event dropped";
        return;
    }
    if (!start_worker)
        return;
    try {
        std::thread(&LedController::ThreadFunc, m_launcher).detach();
    } catch (const std::system_error& error) {
        {
            std::lock_guard<std::mutex> lock(launcher.mutex);
            --launcher.running;
            if (launcher.running == 0)
                launcher.pending.clear();
        }
        launcher.changed.notify_all();
        LOG(launcher.logger, error) << "Failed to start LED thread: " << error.what();
    }
}

void LedController::ThreadFunc(std::shared_ptr<Launcher> launcher)
{
    for (;;) {
        std::vector<std::string> arguments;
        bool taken = false;
        std::size_t stale = 0;
        {
            std::lock_guard<std::mutex> lock(launcher->mutex);
            stale = launcher->DropStale(Clock::now());
            if (!launcher->pending.empty()) {
                arguments = std::move(launcher->pending.front().arguments);
                launcher->pending.pop_front();
                taken = true;
            } else if (stale == 0) {
                --launcher->running;
                launcher->changed.notify_all();
                return;
            }
        }
        // Still counted as running, so that Stop waits for the line.
        if (stale != 0)
            launcher->ReportStale(stale);
        if (taken)
            RunSetLeds(*launcher, arguments);
    }
}

void LedController::RunSetLeds(Launcher& launcher, const std::vector<std::string>& arguments)
{
    try {
        // The utility gets its own path as program name, no environment, no standard input, and
        // its output streams sent to /dev/null. It leads a process group of its own, so that a
        // stop reaches whatever it starts as well. It gets no other descriptor of the service:
        // whatever it leaves running would otherwise keep the service's listening sockets after
        // the service has ended, and a sibling start's exec-error pipe. A child whose exec fails
        // ends at once, but the library hands back no child for it: its process id is taken from
        // the failure, so that it is reaped.
        bp::environment no_environment;
        no_environment.clear();
        std::error_code start_error;
        pid_t failed_child = -1;
        bp::child child(bp::exe = launcher.set_leds_path, bp::args = arguments, no_environment, bp::std_in.close(),
                        bp::std_out > "/dev/null", bp::std_err > "/dev/null", start_error,
                        bp::extend::on_exec_setup =
                            [](auto&) {
                                ::setpgid(0, 0);
                                util::MarkCloseOnExecFrom(STDERR_FILENO + 1);
                            },
                        bp::extend::on_error = [&failed_child](auto& exec, const std::error_code&) {
                            failed_child = exec.pid;
                        });
        if (start_error) {
            if (failed_child > 0)
                while (::waitpid(failed_child, nullptr, 0) == -1 && errno == EINTR) {
                }
            LOG(launcher.logger, error) << "Can not run LED utility " << LoggedValue(launcher.set_leds_path) << ": "
                                        << (failed_child > 0 ? "execve failed: " : "") << start_error.message();
            return;
        }
        // Reaped here by its process id, with a bound on the wait the library does not offer.
        UtilityProcess utility(child.id());
        child.detach();
        const pid_t group = utility.Group();
        const auto deadline = Clock::now() + kRunBound;
        bool stopped = false;
        {
            std::lock_guard<std::mutex> lock(launcher.mutex);
            launcher.utilities.insert(group);
            stopped = launcher.stopped;
        }
        // Started while the controller stopped: it must not outlive the service either.
        if (stopped)
            ::kill(-group, SIGKILL);
        std::error_code wait_error;
        if (!launcher.PollUntil(deadline, [&] { return utility.Reap(WNOHANG, wait_error); })) {
            // Ended as at a stop: the group has kTermGrace to end on SIGTERM, leader first or
            // not; what of it still runs then is killed.
            LOG(launcher.logger, warning) << "LED utility " << LoggedValue(launcher.set_leds_path)
                                          << " still running after " << kRunBound.count() << " ms, ending it";
            ::kill(-group, SIGTERM);
            const bool ended = launcher.PollUntil(Clock::now() + kTermGrace, [&] {
                return utility.Reap(WNOHANG, wait_error) && ::kill(-group, 0) != 0;
            });
            if (!ended) {
                ::kill(-group, SIGKILL);
                utility.Reap(0, wait_error);
            }
        }
        // What the utility started in the background stays in its group, for Stop to end.
        launcher.UpdateGroups(group);
        if (wait_error)
            LOG(launcher.logger, error) << "boost::process::child::wait: waitpid(2) failed: " << wait_error.message();
    } catch (const std::exception& error) {
        // What else fails while the utility is started (memory, the library's own set-up).
        LOG(launcher.logger, error) << "Can not run LED utility " << LoggedValue(launcher.set_leds_path) << ": "
                                    << LoggedValue(error.what(), 4 * kLoggedValueLimit);
    }
}
