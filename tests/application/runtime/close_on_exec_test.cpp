#include "application/runtime/close_on_exec.h"

#include <cerrno>
#include <chrono>
#include <cstring>
#include <ostream>
#include <string>
#include <thread>

#include <fcntl.h>
#include <linux/close_range.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

namespace {

using util::CloseOnExecWay;

// The child runs with this soft descriptor limit and plants descriptors that are not close-on-exec
// at 3 (what the LED utility's child marks from), at 100 to 599 (names of three digits, and more
// entries than one 4096-byte read of /proc/self/fd returns, at 24 bytes each) and at the limit's
// last number. The descriptor they are copies of lies at 1000 and up.
constexpr int kFirst = 3;
constexpr int kLimit = 2048;
constexpr int kBlockBegin = 100;
constexpr int kBlockEnd = 600;

// How the child ends: what it found, or the step of its set-up that failed.
enum Outcome : int { kAllMarked, kSetUpFailed, kMarkedBelowFirst, kClosed, kUnmarked };

bool Planted(int fd)
{
    return fd == kFirst || (fd >= kBlockBegin && fd < kBlockEnd) || fd == kLimit - 1;
}

// The forked child: async-signal-safe calls only, since the test program may have threads.
[[noreturn]] void PlantMarkAndCheck(CloseOnExecWay way) noexcept
{
    rlimit limit{};
    if (::getrlimit(RLIMIT_NOFILE, &limit) != 0)
        ::_exit(kSetUpFailed);
    limit.rlim_cur = kLimit;
    const int source = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
    if (::setrlimit(RLIMIT_NOFILE, &limit) != 0 || source < 0 || ::dup3(source, 1000, O_CLOEXEC) != 1000)
        ::_exit(kSetUpFailed);
    ::close(source);
    for (int fd = 0; fd < kLimit; ++fd) {
        const bool standard = fd < kFirst;
        if ((standard || Planted(fd)) && ::fcntl(fd, F_GETFD) < 0 && ::dup2(1000, fd) != fd)
            ::_exit(kSetUpFailed);
        if ((standard || Planted(fd)) && ::fcntl(fd, F_SETFD, 0) != 0)
            ::_exit(kSetUpFailed);
    }

    util::MarkCloseOnExecFrom(kFirst, way);

    for (int fd = 0; fd < kLimit; ++fd) {
        const int flags = ::fcntl(fd, F_GETFD);
        if (fd < kFirst && (flags < 0 || (flags & FD_CLOEXEC) != 0))
            ::_exit(kMarkedBelowFirst);
        if (Planted(fd) && flags < 0)
            ::_exit(kClosed);
        if (fd >= kFirst && flags >= 0 && (flags & FD_CLOEXEC) == 0)
            ::_exit(kUnmarked);
    }
    ::_exit(kAllMarked);
}

// The child's exit status, waited for at most a minute; the child is killed if it takes longer.
int StatusOf(pid_t child)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::minutes(1);
    int status = 0;
    while (::waitpid(child, &status, WNOHANG) == 0) {
        if (std::chrono::steady_clock::now() > deadline) {
            ::kill(child, SIGKILL);
            ::waitpid(child, &status, 0);
            return -1;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return status;
}

struct Way {
    const char* name;
    CloseOnExecWay way;
};

void PrintTo(const Way& way, std::ostream* out)
{
    *out << way.name;
}

class MarkCloseOnExecFromTest : public ::testing::TestWithParam<Way> {};

// Run in a child, which may rearrange its descriptors freely. Every descriptor open from `first`
// up ends close-on-exec and still open; those below keep their flags.
TEST_P(MarkCloseOnExecFromTest, MarksEveryOpenDescriptorFromFirstUpAndNoneBelow)
{
    rlimit limit{};
    ASSERT_EQ(::getrlimit(RLIMIT_NOFILE, &limit), 0) << std::strerror(errno);
    if (limit.rlim_max != RLIM_INFINITY && limit.rlim_max < static_cast<rlim_t>(kLimit))
        GTEST_SKIP() << "the hard descriptor limit " << limit.rlim_max << " is below the " << kLimit
                     << " descriptors this test opens";
    const CloseOnExecWay way = GetParam().way;
    if (way == CloseOnExecWay::kCloseRange && ::close_range(~0U, ~0U, CLOSE_RANGE_CLOEXEC) != 0 &&
        (errno == ENOSYS || errno == EINVAL))
        GTEST_SKIP() << "this kernel has no close_range with CLOSE_RANGE_CLOEXEC: " << std::strerror(errno);

    const pid_t child = ::fork();
    ASSERT_NE(child, -1) << std::strerror(errno);
    if (child == 0)
        PlantMarkAndCheck(way);
    const int status = StatusOf(child);
    ASSERT_TRUE(WIFEXITED(status)) << "the child did not end by itself: status " << status;
    const char* const found[] = {"", "the child's set-up failed", "a descriptor below 3 was closed or marked",
                                 "a planted descriptor was closed instead of marked",
                                 "a descriptor from 3 up was left without close-on-exec"};
    EXPECT_EQ(WEXITSTATUS(status), kAllMarked)
        << (WEXITSTATUS(status) < 5 ? found[WEXITSTATUS(status)] : "unknown exit status");
}

INSTANTIATE_TEST_SUITE_P(EachWay, MarkCloseOnExecFromTest,
                         ::testing::Values(Way{"Best", CloseOnExecWay::kBest},
                                           Way{"CloseRange", CloseOnExecWay::kCloseRange},
                                           Way{"ProcWalk", CloseOnExecWay::kProcWalk},
                                           Way{"LimitWalk", CloseOnExecWay::kLimitWalk}),
                         [](const ::testing::TestParamInfo<Way>& way) { return std::string(way.param.name); });

}  // namespace
