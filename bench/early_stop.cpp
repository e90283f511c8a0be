// early_stop: how the service ends when SIGTERM comes very early in its life. A measurement, not a
// benchmark and not a test (scripts/measure-early-stop.sh runs it).
//
//   early_stop [--runs 20] [--delays-us 0,500,5000] -- PROGRAM [ARGUMENTS...]
//
// For each run and each delay, in turn (the delays interleaved): starts PROGRAM with its
// arguments (standard output and error to /dev/null), sends it SIGTERM the given number of
// microseconds after the start returned, and waits for it. Prints, per delay, how many runs ended
// in order (exit code 0), how many were ended by the signal itself, and how many otherwise, and the
// median and the longest time from the signal to the end of the process (scripts/measure-stop-time.sh
// uses these with delays of seconds, for a service that has been counting).

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

namespace {

struct Outcomes {
    int orderly = 0;
    int by_signal = 0;
    int other = 0;
    std::vector<double> stop_ms;  // from the signal to the end of the process, every run
};

struct Run {
    int status;  // the wait status; -1 when the program could not be started
    double stop_ms;
};

void SleepMicroseconds(long microseconds)
{
    if (microseconds <= 0)
        return;
    timespec delay{microseconds / 1000000, (microseconds % 1000000) * 1000};
    while (clock_nanosleep(CLOCK_MONOTONIC, 0, &delay, &delay) == EINTR) {
    }
}

// Starts the program, signals it after the delay and waits for it.
Run RunOnce(const std::vector<char*>& argv, long delay_us)
{
    const pid_t child = fork();
    if (child < 0)
        return {-1, 0.0};
    if (child == 0) {
        const int null = open("/dev/null", O_WRONLY);
        if (null >= 0) {
            dup2(null, STDOUT_FILENO);
            dup2(null, STDERR_FILENO);
        }
        execv(argv[0], argv.data());
        _exit(127);
    }
    SleepMicroseconds(delay_us);
    const auto signalled = std::chrono::steady_clock::now();
    kill(child, SIGTERM);
    int status = 0;
    while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    return {status, std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - signalled).count()};
}

[[noreturn]] void Usage()
{
    std::fprintf(stderr, "usage: early_stop [--runs N] [--delays-us D1,D2,...] -- PROGRAM [ARGUMENTS...]\n");
    std::exit(2);
}

}  // namespace

int main(int argc, char* argv[])
{
    int runs = 20;
    std::vector<long> delays = {0, 500, 5000};
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
            const Run ended = RunOnce(program, delay);
            const int status = ended.status;
            Outcomes& counted = outcomes[delay];
            counted.stop_ms.push_back(ended.stop_ms);
            if (status >= 0 && WIFEXITED(status) && WEXITSTATUS(status) == 0)
                ++counted.orderly;
            else if (status >= 0 && WIFSIGNALED(status) && WTERMSIG(status) == SIGTERM)
                ++counted.by_signal;
            else
                ++counted.other;
        }
    }
    std::printf("%12s %6s %8s %16s %6s %14s %11s\n", "SIGTERM after", "runs", "orderly", "ended by signal", "other",
                "stop median", "stop max");
    for (const long delay : delays) {
        Outcomes& counted = outcomes[delay];
        std::sort(counted.stop_ms.begin(), counted.stop_ms.end());
        const std::size_t n = counted.stop_ms.size();
        const double median = n % 2 ? counted.stop_ms[n / 2] : (counted.stop_ms[n / 2 - 1] + counted.stop_ms[n / 2]) / 2;
        std::printf("%9.2f ms %6d %8d %16d %6d %11.0f ms %8.0f ms\n", delay / 1000.0, runs, counted.orderly,
                    counted.by_signal, counted.other, median, counted.stop_ms.back());
    }
    return 0;
}
