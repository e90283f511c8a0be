// early_stop: how the service ends when SIGTERM comes very early in its life. A measurement, not a
// benchmark and not a test (scripts/measure-early-stop.sh runs it).
//
//   early_stop [--runs 20] [--delays-us 0,500,5000] [--after-output TEXT] -- PROGRAM [ARGUMENTS...]
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
// without TEXT. scripts/measure-stop-time.sh uses it with delays of seconds after the line the
// counter writes when it takes its first frame, for a service that has been counting.

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

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

namespace {

using Clock = std::chrono::steady_clock;

// How long a run waits for the text given with --after-output.
constexpr std::chrono::seconds kOutputPatience{120};

struct Outcomes {
    int orderly = 0;
    int by_signal = 0;
    int other = 0;
    int without_output = 0;         // runs in which the awaited text did not come
    std::vector<double> stop_ms;    // from the signal to the end of the process, every run
    std::vector<double> output_ms;  // from the start to the awaited text, the runs in which it came
};

struct Run {
    int status;  // the wait status; -1 when the program could not be started
    double stop_ms;
    double output_ms;  // from the start to the awaited text; -1 when it did not come or none is awaited
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

// Reads the program's output until it holds `text`; returns the time from `started` to then, or -1
// when the output ends or kOutputPatience passes first.
double WaitForOutput(int fd, const std::string& text, Clock::time_point started)
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
        if (ready <= 0)
            continue;  // the deadline is looked at again
        const ssize_t length = ::read(fd, buffer, sizeof buffer);
        if (length < 0 && errno == EINTR)
            continue;
        if (length <= 0)
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
void DrainOutput(int fd, const std::atomic<bool>& ended)
{
    char buffer[4096];
    while (!ended.load()) {
        pollfd entry{fd, POLLIN, 0};
        const int ready = ::poll(&entry, 1, 50);
        if (ready < 0 && errno != EINTR)
            return;
        if (ready <= 0)
            continue;
        const ssize_t length = ::read(fd, buffer, sizeof buffer);
        if (length == 0 || (length < 0 && errno != EINTR))
            return;
    }
}

// Starts the program, signals it after the delay (counted from its start, or from when it wrote
// `awaited` when that is not empty) and waits for it.
Run RunOnce(const std::vector<char*>& argv, long delay_us, const std::string& awaited)
{
    int output[2] = {-1, -1};
    if (!awaited.empty() && ::pipe2(output, O_CLOEXEC) != 0)
        return {-1, 0.0, -1.0};
    const pid_t child = fork();
    if (child < 0) {
        if (!awaited.empty()) {
            ::close(output[0]);
            ::close(output[1]);
        }
        return {-1, 0.0, -1.0};
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
    double output_ms = -1.0;
    std::atomic<bool> ended{false};
    std::thread drain;
    if (!awaited.empty()) {
        ::close(output[1]);
        output_ms = WaitForOutput(output[0], awaited, started);
        drain = std::thread(DrainOutput, output[0], std::cref(ended));
    }
    if (awaited.empty() || output_ms >= 0.0)
        SleepMicroseconds(delay_us);
    const auto signalled = Clock::now();
    kill(child, SIGTERM);
    int status = 0;
    while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    const double stop_ms = Milliseconds(Clock::now() - signalled);
    if (drain.joinable()) {
        ended.store(true);
        drain.join();
        ::close(output[0]);
    }
    return {status, stop_ms, output_ms};
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
                 "[ARGUMENTS...]\n");
    std::exit(2);
}

}  // namespace

int main(int argc, char* argv[])
{
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
            const int status = ended.status;
            Outcomes& counted = outcomes[delay];
            counted.stop_ms.push_back(ended.stop_ms);
            if (ended.output_ms >= 0.0)
                counted.output_ms.push_back(ended.output_ms);
            else if (!awaited.empty())
                ++counted.without_output;
            if (status >= 0 && WIFEXITED(status) && WEXITSTATUS(status) == 0)
                ++counted.orderly;
            else if (status >= 0 && WIFSIGNALED(status) && WTERMSIG(status) == SIGTERM)
                ++counted.by_signal;
            else
                ++counted.other;
        }
    }
    if (!awaited.empty())
        std::printf("Each delay counts from when the program wrote \"%s\".\n", awaited.c_str());
    std::printf("%12s %6s %8s %16s %6s %14s %11s\n", "SIGTERM after", "runs", "orderly", "ended by signal", "other",
                "stop median", "stop max");
    for (const long delay : delays) {
        Outcomes& counted = outcomes[delay];
        const double median = Median(counted.stop_ms);
        std::printf("%9.2f ms %6d %8d %16d %6d %11.0f ms %8.0f ms\n", delay / 1000.0, runs, counted.orderly,
                    counted.by_signal, counted.other, median, counted.stop_ms.back());
    }
    if (awaited.empty())
        return 0;
    std::printf("%12s %17s %21s %18s\n", "SIGTERM after", "without the text", "start to text median",
                "start to text max");
    for (const long delay : delays) {
        Outcomes& counted = outcomes[delay];
        if (counted.output_ms.empty()) {
            std::printf("%9.2f ms %17d %21s %18s\n", delay / 1000.0, counted.without_output, "-", "-");
            continue;
        }
        const double median = Median(counted.output_ms);
        std::printf("%9.2f ms %17d %18.0f ms %15.0f ms\n", delay / 1000.0, counted.without_output, median,
                    counted.output_ms.back());
    }
    return 0;
}
