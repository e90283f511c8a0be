// Runs one test program of the device's build, here under the emulator, and ends whatever the
// program leaves running:
//
//     test_group_runner EMULATOR [EMULATOR-ARGUMENT...] PROGRAM [ARGUMENT...]
//
// Any command line works: the emulator part is what a cross build puts in front of each test
// program. CTest starts every test of a cross build through it when FLOWTALLY_TEST_GROUP_RUNNER
// names it (scripts/run-tests-armhf.sh builds it with this machine's compiler; a native build
// builds it and runs its tests). Under qemu-user a fork of a threaded program now and then leaves
// the child stuck inside the emulator before its exec, which a device never meets. Such a child
// keeps what it inherited, CTest's output pipe among it, and CTest would wait for that pipe until
// the test's time-out, long after the program's own result.
//
// The runner starts the command in a process group of its own and takes over every process
// orphaned below it. Once the command has exited, and while it is still an unreaped zombie (so
// that the number of its group cannot name another group yet), the runner kills that group and
// every process below itself; then it reaps the command, and for up to 10 s more kills and reaps
// whatever else comes up below itself, by parent only. It ends as the command did: with its exit
// code, or by the signal that ended it. SIGCHLD goes back to its default first, for the runner and
// the command alike: a caller that ignores it would otherwise leave nothing to wait for.
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

// Sends SIGKILL to every live process whose parent is this one or, when `group` is above 0, that
// belongs to `group`; returns how many there were.
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
            (parent == self || (group > 0 && process_group == group)) && state != 'Z' && kill((pid_t)pid, SIGKILL) == 0)
            ++killed;
    }
    closedir(proc);
    return killed;
}

// Kills and reaps every process below this one (found by its parent), each orphan as it comes up,
// for at most 10 s; returns how many were killed.
static int EndEverythingBelow(void)
{
    const struct timespec pause = {0, 10 * 1000 * 1000};
    int killed = 0;
    for (int round = 0; round < 1000; ++round) {
        killed += KillChildrenAndGroup(0);
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
        fprintf(stderr, "usage: %s EMULATOR [EMULATOR-ARGUMENT...] PROGRAM [ARGUMENT...]\n", argv[0]);
        return 2;
    }
    // Inherited SIG_IGN would have the kernel reap the command itself, and waiting would fail.
    signal(SIGCHLD, SIG_DFL);
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

    // Waits for the command's end but leaves it a zombie: its number, and so its group's, stays
    // taken until it is reaped below.
    siginfo_t info;
    memset(&info, 0, sizeof info);
    int waited = 0;
    while ((waited = waitid(P_PID, (id_t)program, &info, WEXITED | WNOWAIT)) < 0 && errno == EINTR) {
    }
    int ended = 0;
    if (waited < 0) {
        perror("test_group_runner: waitid");
        info.si_code = CLD_EXITED;
        info.si_status = 125;
    } else {
        // Each live member of the group and each orphan already handed to this process, counted;
        // then the group at once, should one of them have forked meanwhile.
        ended = KillChildrenAndGroup(program);
        kill(-program, SIGKILL);
        while (waitpid(program, NULL, 0) < 0 && errno == EINTR) {
        }
    }
    ended += EndEverythingBelow();
    if (ended > 0)
        fprintf(stderr, "test_group_runner: ended %d processes the test left running\n", ended);

    if (info.si_code == CLD_KILLED || info.si_code == CLD_DUMPED) {
        // Ends by the same signal, so that CTest reports the program's own end.
        const int signal_number = info.si_status;
        signal(signal_number, SIG_DFL);
        sigset_t set;
        sigemptyset(&set);
        sigaddset(&set, signal_number);
        sigprocmask(SIG_UNBLOCK, &set, NULL);
        raise(signal_number);
        return 128 + signal_number;
    }
    return info.si_status;
}
