// The test group runner (tests/runner/test_group_runner.c), the built program itself, on small
// shell commands: it ends as the command did, and it ends what the command leaves running.
#include <cerrno>
#include <chrono>
#include <cstring>
#include <sstream>
#include <string>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "application/runtime/unique_fd.h"

namespace {

// How long the runner's output may stay open after it has started: far more than it needs, even
// on a loaded machine.
constexpr auto kEndBound = std::chrono::seconds(30);

struct RunnerEnd {
    int status = 0;             // the runner's wait status
    bool outputClosed = false;  // its output reached its end within kEndBound
    std::string output;
};

class TestGroupRunnerTest : public ::testing::Test {
protected:
    // What outlives a runner that failed to end it comes to this process, to be killed and reaped
    // here.
    void SetUp() override { ASSERT_EQ(prctl(PR_SET_CHILD_SUBREAPER, 1), 0) << std::strerror(errno); }

    // Starts the runner on `sh -c script` (with SIGCHLD ignored on `ignoreSigchld`, as a caller
    // may hand it down), reads its output until its end for at most kEndBound, and reaps it,
    // killing it first should the output still be open then.
    static RunnerEnd RunScript(const std::string& script, bool ignoreSigchld = false)
    {
        RunnerEnd run;
        int ends[2];
        if (pipe2(ends, O_CLOEXEC) != 0) {
            ADD_FAILURE() << "pipe2: " << std::strerror(errno);
            return run;
        }
        util::UniqueFd readEnd(ends[0]);
        util::UniqueFd writeEnd(ends[1]);
        const pid_t runner = fork();
        if (runner == 0) {
            if (ignoreSigchld)
                signal(SIGCHLD, SIG_IGN);
            dup2(writeEnd.get(), STDOUT_FILENO);
            execl(TEST_GROUP_RUNNER, TEST_GROUP_RUNNER, "/bin/sh", "-c", script.c_str(), static_cast<char*>(nullptr));
            _exit(127);
        }
        if (runner < 0) {
            ADD_FAILURE() << "fork: " << std::strerror(errno);
            return run;
        }
        writeEnd.reset();
        const auto deadline = std::chrono::steady_clock::now() + kEndBound;
        for (;;) {
            const auto left =
                std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
            pollfd readable{readEnd.get(), POLLIN, 0};
            const int ready = left.count() > 0 ? poll(&readable, 1, static_cast<int>(left.count())) : 0;
            if (ready < 0 && errno == EINTR)
                continue;
            if (ready <= 0)
                break;
            char buffer[512];
            const ssize_t size = read(readEnd.get(), buffer, sizeof buffer);
            if (size < 0 && errno == EINTR)
                continue;
            if (size <= 0) {
                run.outputClosed = size == 0;
                break;
            }
            run.output.append(buffer, static_cast<size_t>(size));
        }
        if (!run.outputClosed)
            kill(runner, SIGKILL);
        while (waitpid(runner, &run.status, 0) < 0 && errno == EINTR) {
        }
        return run;
    }
};

TEST_F(TestGroupRunnerTest, EndsWithTheProgramsExitCodeOrByItsSignal)
{
    const struct {
        const char* script;
        int exitCode;  // when no signal
        int signal;
    } cases[] = {{"exit 3", 3, 0}, {"exit 0", 0, 0}, {"kill -TERM $$", 0, SIGTERM}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.script);
        const RunnerEnd run = RunScript(c.script);
        EXPECT_TRUE(run.outputClosed);
        if (c.signal != 0) {
            ASSERT_TRUE(WIFSIGNALED(run.status)) << run.status;
            EXPECT_EQ(WTERMSIG(run.status), c.signal);
        } else {
            ASSERT_TRUE(WIFEXITED(run.status)) << run.status;
            EXPECT_EQ(WEXITSTATUS(run.status), c.exitCode);
        }
    }
}

TEST_F(TestGroupRunnerTest, KeepsTheExitCodeWhenItsCallerIgnoresSigchld)
{
    const RunnerEnd run = RunScript("exit 3", true);
    EXPECT_TRUE(run.outputClosed);
    ASSERT_TRUE(WIFEXITED(run.status)) << run.status;
    EXPECT_EQ(WEXITSTATUS(run.status), 3);
}

TEST_F(TestGroupRunnerTest, EndsWhatTheProgramLeavesInItsGroupAndInASessionOfItsOwn)
{
    // Each leftover writes "pid group session" from /proc, then sleeps on, holding the runner's
    // output open (descriptor 3); the command substitution ends once it has begun to sleep.
    const RunnerEnd run = RunScript(
        "exec 3>&1\n"
        "report='read -r pid name state parent group session rest < /proc/$$/stat;"
        " echo \"$pid $group $session\"; exec sleep 300 >&3'\n"
        "echo \"$$ $(sh -c \"$report\" &) $(setsid -f sh -c \"$report\")\"\n"
        "exit 5\n");
    std::istringstream fields(run.output);
    pid_t program = 0;
    pid_t inGroup[3] = {};
    pid_t ownSession[3] = {};
    fields >> program >> inGroup[0] >> inGroup[1] >> inGroup[2] >> ownSession[0] >> ownSession[1] >> ownSession[2];

    for (const pid_t leftover : {inGroup[0], ownSession[0]}) {
        if (leftover <= 0)
            continue;
        EXPECT_NE(kill(leftover, 0), 0) << leftover << " still runs";
        // Should it run on, it is this process's child now (the runner has been reaped).
        if (kill(leftover, SIGKILL) == 0)
            waitpid(leftover, nullptr, 0);
    }
    EXPECT_TRUE(run.outputClosed) << "output: " << run.output;
    ASSERT_TRUE(WIFEXITED(run.status)) << run.status;
    EXPECT_EQ(WEXITSTATUS(run.status), 5);
    ASSERT_FALSE(fields.fail()) << "output: " << run.output;
    EXPECT_EQ(inGroup[1], program);
    EXPECT_EQ(ownSession[2], ownSession[0]);
}

}  // namespace
