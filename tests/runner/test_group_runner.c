// Runs one test program of the device's build, here under the emulator, and ends whatever the
// program leaves running:
//
//     test_group_runner EMULATOR [EMULATOR-ARGUMENT...] PROGRAM [ARGUMENT...]
//
// CTest starts every test of a cross build through it when FLOWTALLY_TEST_GROUP_RUNNER names it
// (scripts/run-tests-armhf.sh builds it with this machine's compiler). Under qemu-user a fork of a
// threaded program now and then leaves the child stuck inside the emulator before its exec, which
// a device never meets. Such a child keeps what it inherited, CTest's output pipe among it, and
// CTest would wait for that pipe until the test's time-out, long after the program's own result.
// The runner starts the program in a process group of its own and takes over every process
// orphaned below it; once the program has exited, it kills that group and every process still
// below it, and ends as the program did.
#define _GNU_SOURCE
#include <dirent.h>
#include <errno.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

// Sends SIGKILL to every live process whose parent is this one or that belongs to `group`;
// returns how many there were.
static int KillChildrenAndGroup(pid_t group)
{
    const pid_t self = getpid();
    int killed = 0;
    DIR* proc = opendir("/proc");
    if (proc == NULL)
        return 0;
    for (struct dirent* entry; (entry = readdir(proc)) != NULL;) {
        char* end = NULL;
        const long pid = strtol(entry->d_name, &end, 10);
        if (*end != '\0' || pid <= 0)
            continue;
        char path[64];
        snprintf(path, sizeof path, "/proc/%ld/stat", pid);
        FILE* stat = fopen(path, "r");
        if (stat == NULL)
            continue;  // it has just ended
        char line[1024];
        const size_t size = fread(line, 1, sizeof line - 1, stat);
        fclose(stat);
        line[size] = '\0';
        // "pid (name) state ppid ...": the name may itself hold blanks and brackets.
        const char* name_end = strrchr(line, ')');
        char state = 0;
        long parent = 0;
        long process_group = 0;
        if (name_end != NULL && sscanf(name_end + 1, " %c %ld %ld", &state, &parent, &process_group) == 3 &&
            (parent == self || process_group == group) && state != 'Z' && kill((pid_t)pid, SIGKILL) == 0)
            ++killed;
    }
    closedir(proc);
    return killed;
}

// Kills and reaps `group` and every process below this one, each orphan as it comes up, for at
// most 10 s; returns how many were killed.
static int EndEverythingBelow(pid_t group)
{
    const struct timespec pause = {0, 10 * 1000 * 1000};
    int killed = 0;
    for (int round = 0; round < 1000; ++round) {
        killed += KillChildrenAndGroup(group);
        pid_t reaped = 0;
        while ((reaped = waitpid(-1, NULL, WNOHANG)) > 0) {
        }
        if (reaped < 0 && errno == ECHILD)
            return killed;
        nanosleep(&pause, NULL);
    }
    fprintf(stderr, "test_group_runner: processes below the test still run after 10 s\n");
    return killed;
}

int main(int argc, char* argv[])
{
    if (argc < 2) {
        fprintf(stderr, "usage: %s PROGRAM [ARGUMENT...]\n", argv[0]);
        return 2;
    }
    // Orphans below this process become its children rather than init's.
    if (prctl(PR_SET_CHILD_SUBREAPER, 1) != 0)
        perror("test_group_runner: PR_SET_CHILD_SUBREAPER");
    const pid_t runner = getpid();
    const pid_t program = fork();
    if (program < 0) {
        perror("test_group_runner: fork");
        return 125;
    }
    if (program == 0) {
        setpgid(0, 0);
        // Ends with the runner, should CTest end that at the test's time-out.
        prctl(PR_SET_PDEATHSIG, SIGKILL);
        if (getppid() != runner)
            _exit(125);
        execvp(argv[1], argv + 1);
        fprintf(stderr, "test_group_runner: can not run %s: %s\n", argv[1], strerror(errno));
        _exit(127);
    }
    setpgid(program, program);  // also here: the group exists before the kill below, whoever runs first

    int status = 0;
    while (waitpid(program, &status, 0) < 0) {
        if (errno != EINTR) {
            perror("test_group_runner: waitpid");
            status = 125 << 8;
            break;
        }
    }
    const int ended = EndEverythingBelow(program);
    if (ended > 0)
        fprintf(stderr, "test_group_runner: ended %d processes the test left running\n", ended);

    if (WIFSIGNALED(status)) {
        // Ends by the same signal, so that CTest reports the program's own end.
        const int signal_number = WTERMSIG(status);
        signal(signal_number, SIG_DFL);
        sigset_t set;
        sigemptyset(&set);
        sigaddset(&set, signal_number);
        sigprocmask(SIG_UNBLOCK, &set, NULL);
        raise(signal_number);
        return 128 + signal_number;
    }
    return WEXITSTATUS(status);
}
