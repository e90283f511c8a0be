#include "application/runtime/close_on_exec.h"

#include <cerrno>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <ostream>
#include <string>
#include <thread>

#include <fcntl.h>
#include <linux/audit.h>
#include <linux/close_range.h>
#include <linux/filter.h>
#include <linux/seccomp.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/syscall.h>
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

// Where a kernel without close_range is played, the child lowers its soft limit to this once it
// has planted its descriptors: the one at kLimit - 1 stays open above it, where the /proc walk finds
// it and the limit walk does not.
constexpr int kLoweredLimit = 1024;

// How the child ends: what it found, or the step of its set-up that failed.
enum Outcome : int { kAllMarked, kSetUpFailed, kMarkedBelowFirst, kClosed, kUnmarked, kNoSeccomp };

bool Planted(int fd)
{
    return fd == kFirst || (fd >= kBlockBegin && fd < kBlockEnd) || fd == kLimit - 1;
}

// The architecture of this program's system calls, which the seccomp filter checks before it
// looks at their numbers; 0 where the test does not know it.
#if defined(__x86_64__)
constexpr std::uint32_t kAuditArch = AUDIT_ARCH_X86_64;
#elif defined(__i386__)
constexpr std::uint32_t kAuditArch = AUDIT_ARCH_I386;
#elif defined(__aarch64__)
constexpr std::uint32_t kAuditArch = AUDIT_ARCH_AARCH64;
#elif defined(__arm__) && !defined(__ARMEB__)
constexpr std::uint32_t kAuditArch = AUDIT_ARCH_ARM;
#else
constexpr std::uint32_t kAuditArch = 0;
#endif

// What /proc/self/fd looks like to the child of a kernel played as old.
enum class Proc {
    kReadable,
    kAbsent,    // opening it fails with ENOENT, as where /proc is not mounted
    kUnlisted,  // it opens, but reading its entries fails with EIO
};

// A kernel before 5.11 as the child plays it: close_range fails with `close_range_error` (ENOSYS
// before 5.9; EINVAL, for the close-on-exec flag, on 5.9 and 5.10), and /proc is as `proc` says.
struct OldKernel {
    const char* name;
    int close_range_error;
    Proc proc;
};

struct Refusal {
    long call;
    int error;
};

// Installs a seccomp filter that makes the calls of `old` fail as it says (the child does not open
// anything after it), and checks that they do. kAllMarked when all went well, kNoSeccomp when the
// system takes no filter (qemu-user refuses every one), kSetUpFailed when a call does not fail.
int PlayOldKernel(const OldKernel& old) noexcept
{
    Refusal refusals[6];
    int count = 0;
    refusals[count++] = {SYS_close_range, old.close_range_error};
    if (old.proc == Proc::kAbsent) {
        refusals[count++] = {SYS_openat, ENOENT};
#ifdef SYS_open
        refusals[count++] = {SYS_open, ENOENT};
#endif
#ifdef SYS_openat2
        refusals[count++] = {SYS_openat2, ENOENT};
#endif
    } else if (old.proc == Proc::kUnlisted) {
        refusals[count++] = {SYS_getdents64, EIO};
#ifdef SYS_getdents
        refusals[count++] = {SYS_getdents, EIO};
#endif
    }
    // A call of another architecture is let through; one of these numbers fails with its error.
    sock_filter program[4 + 2 * 6 + 1];
    unsigned short length = 0;
    program[length++] = BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, arch));
    program[length++] = BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, kAuditArch, 1, 0);
    program[length++] = BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW);
    program[length++] = BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, nr));
    for (int i = 0; i < count; ++i) {
        program[length++] = BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, static_cast<std::uint32_t>(refusals[i].call), 0, 1);
        program[length++] = BPF_STMT(
            BPF_RET | BPF_K, SECCOMP_RET_ERRNO | (static_cast<std::uint32_t>(refusals[i].error) & SECCOMP_RET_DATA));
    }
    program[length++] = BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW);
    sock_fprog filter{length, program};
    if (::prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) != 0)
        return kNoSeccomp;
    if (::syscall(SYS_seccomp, SECCOMP_SET_MODE_FILTER, 0, &filter) != 0 &&
        ::prctl(PR_SET_SECCOMP, SECCOMP_MODE_FILTER, &filter, 0, 0) != 0)
        return kNoSeccomp;

    // A range beyond every descriptor: the call marks nothing where the kernel carries it out.
    if (::close_range(~0U, ~0U, CLOSE_RANGE_CLOEXEC) == 0 || errno != old.close_range_error)
        return kSetUpFailed;
    const int directory = ::open("/proc/self/fd", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (old.proc == Proc::kAbsent)
        return directory < 0 && errno == ENOENT ? kAllMarked : kSetUpFailed;
    if (directory < 0)
        return kSetUpFailed;
    alignas(8) char entries[4096];
    const long listed = ::syscall(SYS_getdents64, directory, entries, sizeof entries);
    ::close(directory);
    const bool as_played = old.proc == Proc::kUnlisted ? listed < 0 && errno == EIO : listed > 0;
    return as_played ? kAllMarked : kSetUpFailed;
}

// The forked child: async-signal-safe calls only, since the test program may have threads. With
// `old`, the kernel is played as old before the marking: every descriptor open from kFirst up
// must be marked where /proc is readable, those below the lowered limit where it is not.
[[noreturn]] void PlantMarkAndCheck(CloseOnExecWay way, const OldKernel* old = nullptr) noexcept
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

    int reach = kLimit;  // every open descriptor from kFirst below it must end marked
    if (old != nullptr) {
        limit.rlim_cur = kLoweredLimit;
        if (::setrlimit(RLIMIT_NOFILE, &limit) != 0)
            ::_exit(kSetUpFailed);
        const int played = PlayOldKernel(*old);
        if (played != kAllMarked)
            ::_exit(played);
        if (old->proc != Proc::kReadable)
            reach = kLoweredLimit;
    }

    util::MarkCloseOnExecFrom(kFirst, way);

    for (int fd = 0; fd < kLimit; ++fd) {
        const int flags = ::fcntl(fd, F_GETFD);
        if (fd < kFirst && (flags < 0 || (flags & FD_CLOEXEC) != 0))
            ::_exit(kMarkedBelowFirst);
        if (Planted(fd) && flags < 0)
            ::_exit(kClosed);
        if (fd >= kFirst && fd < reach && flags >= 0 && (flags & FD_CLOEXEC) == 0)
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

// What the child's exit status says it found.
const char* Found(int status)
{
    const char* const found[] = {"",
                                 "the child's set-up failed",
                                 "a descriptor below 3 was closed or marked",
                                 "a planted descriptor was closed instead of marked",
                                 "a descriptor from 3 up was left without close-on-exec",
                                 "no seccomp filter could be installed"};
    return WIFEXITED(status) && WEXITSTATUS(status) <= kNoSeccomp ? found[WEXITSTATUS(status)] : "unknown exit status";
}

// A test whose child plants descriptors up to kLimit: skipped where the hard limit is below that.
template <typename Param>
class PlantingTest : public ::testing::TestWithParam<Param> {
protected:
    void SetUp() override
    {
        rlimit limit{};
        ASSERT_EQ(::getrlimit(RLIMIT_NOFILE, &limit), 0) << std::strerror(errno);
        if (limit.rlim_max != RLIM_INFINITY && limit.rlim_max < static_cast<rlim_t>(kLimit))
            GTEST_SKIP() << "the hard descriptor limit " << limit.rlim_max << " is below the " << kLimit
                         << " descriptors this test opens";
    }
};

struct Way {
    const char* name;
    CloseOnExecWay way;
};

void PrintTo(const Way& way, std::ostream* out)
{
    *out << way.name;
}

class MarkCloseOnExecFromTest : public PlantingTest<Way> {};

// Run in a child, which may rearrange its descriptors freely. Every descriptor open from `first`
// up ends close-on-exec and still open; those below keep their flags.
TEST_P(MarkCloseOnExecFromTest, MarksEveryOpenDescriptorFromFirstUpAndNoneBelow)
{
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
    EXPECT_EQ(WEXITSTATUS(status), kAllMarked) << Found(status);
}

INSTANTIATE_TEST_SUITE_P(EachWay, MarkCloseOnExecFromTest,
                         ::testing::Values(Way{"Best", CloseOnExecWay::kBest},
                                           Way{"CloseRange", CloseOnExecWay::kCloseRange},
                                           Way{"ProcWalk", CloseOnExecWay::kProcWalk},
                                           Way{"LimitWalk", CloseOnExecWay::kLimitWalk}),
                         [](const ::testing::TestParamInfo<Way>& way) { return std::string(way.param.name); });

void PrintTo(const OldKernel& old, std::ostream* out)
{
    *out << old.name;
}

class MarkCloseOnExecFromOldKernelTest : public PlantingTest<OldKernel> {};

// The service's own way on a kernel before 5.11, played in a child through a seccomp filter: where
// close_range is refused, every open descriptor from 3 up is marked all the same, through /proc
// (also the one above the soft limit, which only /proc finds), else through every number below the
// limit.
TEST_P(MarkCloseOnExecFromOldKernelTest, BestMarksEveryOpenDescriptorThroughTheFallbacks)
{
    if (kAuditArch == 0)
        GTEST_SKIP() << "the test does not know this architecture's seccomp name";

    const pid_t child = ::fork();
    ASSERT_NE(child, -1) << std::strerror(errno);
    if (child == 0)
        PlantMarkAndCheck(CloseOnExecWay::kBest, &GetParam());
    const int status = StatusOf(child);
    ASSERT_TRUE(WIFEXITED(status)) << "the child did not end by itself: status " << status;
    if (WEXITSTATUS(status) == kNoSeccomp)
        GTEST_SKIP() << "this system installs no seccomp filter (qemu-user refuses every one), so close_range can "
                        "not be made to fail as on a kernel before 5.11";
    EXPECT_EQ(WEXITSTATUS(status), kAllMarked) << Found(status);
}

INSTANTIATE_TEST_SUITE_P(EachFallback, MarkCloseOnExecFromOldKernelTest,
                         ::testing::Values(OldKernel{"WithoutCloseRange", ENOSYS, Proc::kReadable},
                                           OldKernel{"WithoutCloseRangeCloexecFlag", EINVAL, Proc::kReadable},
                                           OldKernel{"WithoutCloseRangeOrProc", ENOSYS, Proc::kAbsent},
                                           OldKernel{"WithoutCloseRangeOrProcListing", ENOSYS, Proc::kUnlisted}),
                         [](const ::testing::TestParamInfo<OldKernel>& old) { return std::string(old.param.name); });

}  // namespace
