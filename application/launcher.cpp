// flowtally: starts the service program "flowtally-service" beside it, in the same process, with
// SIGINT, SIGTERM and SIGHUP blocked.
//
// Before its first instruction the service's dynamic loader maps and links a few hundred shared
// libraries (OpenCV's video input and output bring most of them), which takes tenths of a second
// on a busy machine. A stop signal arriving then would end the process before it could handle
// it. This program is linked statically and needs only the C library, so it blocks the signals
// within a few milliseconds of its start; a blocked signal stays pending across exec, and the
// service takes it as soon as its handlers are installed (see main.cpp), for an orderly stop.
//
// Only C library calls here: nothing else may be linked in.

#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdio>
#include <cstring>

#include <unistd.h>

namespace {

const char kServiceName[] = "flowtally-service";

}  // namespace

int main(int argc, char* argv[])
{
    (void)argc;
    sigset_t stop_signals;
    sigemptyset(&stop_signals);
    sigaddset(&stop_signals, SIGINT);
    sigaddset(&stop_signals, SIGTERM);
    sigaddset(&stop_signals, SIGHUP);
    sigprocmask(SIG_BLOCK, &stop_signals, nullptr);

    // The service lies in the directory of this program's own file.
    char path[PATH_MAX];
    const ssize_t length = readlink("/proc/self/exe", path, sizeof(path) - 1);
    if (length <= 0) {
        std::fprintf(stderr, "flowtally: can not find its own file: %s\n", std::strerror(errno));
        return 127;
    }
    path[length] = '\0';
    char* slash = std::strrchr(path, '/');
    const size_t directory_length = slash ? static_cast<size_t>(slash - path + 1) : 0;
    if (directory_length + sizeof(kServiceName) > sizeof(path)) {
        std::fprintf(stderr, "flowtally: path too long: %s\n", path);
        return 127;
    }
    std::memcpy(path + directory_length, kServiceName, sizeof(kServiceName));

    execv(path, argv);
    std::fprintf(stderr, "flowtally: can not start %s: %s\n", path, std::strerror(errno));
    return 127;
}
