// early_stop: how the service ends when SIGTERM comes very early in its life. A measurement, not a
// benchmark and not a test (scripts/measure-early-stop.sh runs it).
//
//   early_stop [--runs 20] [--delays-us 0,500,5000] [--after-output TEXT] -- PROGRAM [ARGUMENTS...]
//   early_stop --free-ports N
//
// For each run and each delay, in turn (the delays interleaved): starts PROGRAM with its
// arguments (standard output and error to /dev/null), sends it SIGTERM the given number of
// microseconds after the start returned, and waits for it. Prints, per delay, how many runs ended
// in order (exit code 0), how many were ended by the signal itself, and how many otherwise, and the
// median and the longest time from the signal to the end of the process.
//
// With --after-output the delay counts from the moment the program has written TEXT on its
// standard output or error (read through a pipe, and drained until the program ends) instead of
// from its start, so that a start that takes long on a busy machine is not taken for part of the
// stop; the median and the longest time from the start to TEXT are printed as well. A program that
// ends, or has not written TEXT after kOutputPatience, is signalled at once and counted as a run
// without TEXT: such runs are listed apart (which runs, and how each ended) and left out of every
// figure and count of the table, since their stop time is not that of a program that was running.
// When at some delay no run wrote TEXT, the program says so and ends with exit code 1.
// scripts/measure-stop-time.sh uses it with delays of seconds after the line the counter writes
// when it takes its first frame, for a service that has been counting.
//
// A call that fails (pipe, fork, poll, read) ends the measurement with a message and exit code 1,
// once the program it started has been ended and waited for.
//
// With --free-ports, prints N different TCP ports that the kernel gave to sockets bound to port 0
// on all interfaces, one a line, and ends: ports that were free a moment ago, for a script to hand
// to the program it measures.

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

namespace {

using Clock = std::chrono::steady_clock;

// How long a run waits for the text given with --after-output.
constexpr std::chrono::seconds kOutputPatience{120};

// The runs of one delay. The counts and figures are over the runs in which the awaited text came
// (every run when none is awaited); the others are only listed.
struct Outcomes {
    int orderly = 0;
    int by_signal = 0;
    int other = 0;
    std::vector<double> stop_ms;    // from the signal to the end of the process
    std::vector<double> output_ms;  // from the start to the awaited text
    std::string without_output;     // the runs in which the awaited text did not come, and how each ended
    int without_output_count = 0;
};

struct Run {
    int status = 0;  // the wait status
    double stop_ms = 0.0;
    double output_ms = -1.0;  // from the start to the awaited text; -1 when it did not come or none is awaited
    std::string error;        // the call that failed and why; the run measured nothing when set
};

double Milliseconds(Clock::duration duration)
{
    return std::chrono::duration<double, std::milli>(duration).count();
}

void SleepMicroseconds(long microseconds)
{
    if (microseconds <= 0)
        return;
    timespec delay{microseconds / 1000000, (microseconds % 1000000) * 1000};
    while (clock_nanosleep(CLOCK_MONOTONIC, 0, &delay, &delay) == EINTR) {
    }
}

std::string Failed(const char* call)
{
    return std::string(call) + ": " + std::strerror(errno);
}

// Reads the program's output until it holds `text`; returns the time from `started` to then, or -1
// when the output ends or kOutputPatience passes first, or when a call fails (said in `error`).
double WaitForOutput(int fd, const std::string& text, Clock::time_point started, std::string& error)
{
    const auto deadline = started + kOutputPatience;
    std::string seen;
    char buffer[4096];
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (left <= 0)
            return -1.0;
        pollfd entry{fd, POLLIN, 0};
        const int ready = ::poll(&entry, 1, static_cast<int>(left));
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready < 0) {
            error = Failed("poll");
            return -1.0;
        }
        if (ready == 0)
            continue;  // the deadline is looked at again
        const ssize_t length = ::read(fd, buffer, sizeof buffer);
        if (length < 0 && errno == EINTR)
            continue;
        if (length < 0) {
            error = Failed("read");
            return -1.0;
        }
        if (length == 0)
            return -1.0;
        seen.append(buffer, static_cast<std::size_t>(length));
        if (seen.find(text) != std::string::npos)
            return Milliseconds(Clock::now() - started);
        // Only what may still begin the text is kept.
        if (seen.size() >= text.size())
            seen.erase(0, seen.size() - text.size() + 1);
    }
}

// Reads and drops the program's output, so that the program never waits for room in the pipe,
// until the pipe is closed or `ended` is set (a process left behind by the program may hold it).
// A call that fails is said in `error`, read once the thread has been joined.
void DrainOutput(int fd, const std::atomic<bool>& ended, std::string& error)
{
    char buffer[4096];
    while (!ended.load()) {
        pollfd entry{fd, POLLIN, 0};
        const int ready = ::poll(&entry, 1, 50);
        if (ready < 0 && errno != EINTR) {
            error = Failed("poll");
            return;
        }
        if (ready <= 0)
            continue;
        const ssize_t length = ::read(fd, buffer, sizeof buffer);
        if (length < 0 && errno != EINTR) {
            error = Failed("read");
            return;
        }
        if (length == 0)
            return;
    }
}

// Starts the program, signals it after the delay (counted from its start, or from when it wrote
// `awaited` when that is not empty) and waits for it.
Run RunOnce(const std::vector<char*>& argv, long delay_us, const std::string& awaited)
{
    Run run;
    int output[2] = {-1, -1};
    if (!awaited.empty() && ::pipe2(output, O_CLOEXEC) != 0) {
        run.error = Failed("pipe2");
        return run;
    }
    const pid_t child = fork();
    if (child < 0) {
        run.error = Failed("fork");
        if (!awaited.empty()) {
            ::close(output[0]);
            ::close(output[1]);
        }
        return run;
    }
    if (child == 0) {
        // The descriptors that dup2 makes are kept across exec; the pipe's own ones are not.
        const int target = awaited.empty() ? open("/dev/null", O_WRONLY) : output[1];
        if (target >= 0) {
            dup2(target, STDOUT_FILENO);
            dup2(target, STDERR_FILENO);
        }
        execv(argv[0], argv.data());
        _exit(127);
    }
    const auto started = Clock::now();
    std::atomic<bool> ended{false};
    std::string drain_error;
    std::thread drain;
    if (!awaited.empty()) {
        ::close(output[1]);
        run.output_ms = WaitForOutput(output[0], awaited, started, run.error);
        if (run.error.empty()) {
            drain = std::thread(DrainOutput, output[0], std::cref(ended), std::ref(drain_error));
        } else {
            // Nothing reads the output any more: the program's writes fail rather than wait.
            ::close(output[0]);
            output[0] = -1;
        }
    }
    if (run.error.empty() && (awaited.empty() || run.output_ms >= 0.0))
        SleepMicroseconds(delay_us);
    const auto signalled = Clock::now();
    kill(child, SIGTERM);
    while (waitpid(child, &run.status, 0) < 0 && errno == EINTR) {
    }
    run.stop_ms = Milliseconds(Clock::now() - signalled);
    if (drain.joinable()) {
        ended.store(true);
        drain.join();
    }
    if (output[0] >= 0)
        ::close(output[0]);
    if (run.error.empty())
        run.error = drain_error;
    return run;
}

// How a run ended, for the list of runs without the awaited text.
std::string HowItEnded(int status)
{
    if (WIFEXITED(status))
        return "exit code " + std::to_string(WEXITSTATUS(status));
    if (WIFSIGNALED(status))
        return "signal " + std::to_string(WTERMSIG(status));
    return "status " + std::to_string(status);
}

// Prints `count` different TCP ports that the kernel gives to sockets bound to port 0, all held
// until the last is given so that none comes twice; false with a message when a call fails.
bool PrintFreePorts(int count)
{
    std::vector<int> sockets;
    std::vector<int> ports;
    std::string error;
    for (int i = 0; i < count && error.empty(); ++i) {
        const int socket_fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (socket_fd < 0) {
            error = Failed("socket");
            break;
        }
        sockets.push_back(socket_fd);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_ANY);
        address.sin_port = 0;
        socklen_t length = sizeof address;
        if (::bind(socket_fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0)
            error = Failed("bind");
        else if (::getsockname(socket_fd, reinterpret_cast<sockaddr*>(&address), &length) != 0)
            error = Failed("getsockname");
        else
            ports.push_back(ntohs(address.sin_port));
    }
    for (const int socket_fd : sockets) ::close(socket_fd);
    if (!error.empty()) {
        std::fprintf(stderr, "early_stop: %s\n", error.c_str());
        return false;
    }
    for (const int port : ports) std::printf("%d\n", port);
    return true;
}

double Median(std::vector<double>& values)
{
    std::sort(values.begin(), values.end());
    const std::size_t n = values.size();
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

[[noreturn]] void Usage()
{
    std::fprintf(stderr,
                 "usage: early_stop [--runs N] [--delays-us D1,D2,...] [--after-output TEXT] -- PROGRAM "
                 "[ARGUMENTS...]\n"
                 "       early_stop --free-ports N\n");
    std::exit(2);
}

}  // namespace

int main(int argc, char* argv[])
{
    if (argc >= 2 && std::strcmp(argv[1], "--free-ports") == 0) {
        if (argc != 3)
            Usage();
        char* end = nullptr;
        const long count = std::strtol(argv[2], &end, 10);
        if (end == argv[2] || *end != '\0' || count < 1 || count > 100)
            Usage();
        return PrintFreePorts(static_cast<int>(count)) ? 0 : 1;
    }
    int runs = 20;
    std::vector<long> delays = {0, 500, 5000};
    std::string awaited;
    int i = 1;
    for (; i < argc && std::strcmp(argv[i], "--") != 0; ++i) {
        const std::string option = argv[i];
        if (i + 1 >= argc)
            Usage();
        if (option == "--runs") {
            runs = std::atoi(argv[++i]);
        } else if (option == "--delays-us") {
            delays.clear();
            std::istringstream list(argv[++i]);
            for (std::string item; std::getline(list, item, ',');) delays.push_back(std::atol(item.c_str()));
        } else if (option == "--after-output") {
            awaited = argv[++i];
            if (awaited.empty())
                Usage();
        } else {
            Usage();
        }
    }
    if (i + 1 >= argc || runs < 1 || delays.empty())
        Usage();
    const std::vector<char*> program(argv + i + 1, argv + argc + 1);  // with its terminating null

    std::map<long, Outcomes> outcomes;
    for (int run = 0; run < runs; ++run) {
        for (const long delay : delays) {
            const Run ended = RunOnce(program, delay, awaited);
            if (!ended.error.empty()) {
                std::fprintf(stderr, "early_stop: run %d at %.2f ms: %s\n", run + 1, delay / 1000.0,
                             ended.error.c_str());
                return 1;
            }
            const int status = ended.status;
            Outcomes& counted = outcomes[delay];
            if (!awaited.empty() && ended.output_ms < 0.0) {
                counted.without_output += (counted.without_output_count++ ? ", run " : "run ") +
                                          std::to_string(run + 1) + " (" + HowItEnded(status) + ")";
                continue;
            }
            counted.stop_ms.push_back(ended.stop_ms);
            if (ended.output_ms >= 0.0)
                counted.output_ms.push_back(ended.output_ms);
            if (WIFEXITED(status) && WEXITSTATUS(status) == 0)
                ++counted.orderly;
            else if (WIFSIGNALED(status) && WTERMSIG(status) == SIGTERM)
                ++counted.by_signal;
            else
                ++counted.other;
        }
    }
    if (!awaited.empty())
        std::printf("Each delay counts from when the program wrote \"%s\"; the runs without it are left out.\n",
                    awaited.c_str());
    std::printf("%12s %6s %8s %16s %6s %14s %11s\n", "SIGTERM after", "runs", "orderly", "ended by signal", "other",
                "stop median", "stop max");
    std::vector<long> unmeasured;  // the delays at which no run wrote the awaited text
    for (const long delay : delays) {
        Outcomes& counted = outcomes[delay];
        const int measured = static_cast<int>(counted.stop_ms.size());
        if (measured == 0) {
            unmeasured.push_back(delay);
            std::printf("%9.2f ms %6d %8d %16d %6d %14s %11s\n", delay / 1000.0, 0, 0, 0, 0, "-", "-");
            continue;
        }
        const double median = Median(counted.stop_ms);
        std::printf("%9.2f ms %6d %8d %16d %6d %11.0f ms %8.0f ms\n", delay / 1000.0, measured, counted.orderly,
                    counted.by_signal, counted.other, median, counted.stop_ms.back());
    }
    if (awaited.empty())
        return 0;
    for (const long delay : delays) {
        const Outcomes& counted = outcomes[delay];
        if (counted.without_output_count > 0)
            std::printf("Without the text at %.2f ms: %d of %d runs, left out of the figures: %s\n", delay / 1000.0,
                        counted.without_output_count, runs, counted.without_output.c_str());
    }
    std::printf("%12s %21s %18s\n", "SIGTERM after", "start to text median", "start to text max");
    for (const long delay : delays) {
        Outcomes& counted = outcomes[delay];
        if (counted.output_ms.empty()) {
            std::printf("%9.2f ms %21s %18s\n", delay / 1000.0, "-", "-");
            continue;
        }
        const double median = Median(counted.output_ms);
        std::printf("%9.2f ms %18.0f ms %15.0f ms\n", delay / 1000.0, median, counted.output_ms.back());
    }
    for (const long delay : unmeasured)
        std::fprintf(stderr, "early_stop: no run at %.2f ms wrote \"%s\": that delay has no figure\n", delay / 1000.0,
                     awaited.c_str());
    return unmeasured.empty() ? 0 : 1;
}
