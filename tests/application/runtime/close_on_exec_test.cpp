#include "application/runtime/close_on_exec.h"

#include <array>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <map>
#include <ostream>
#include <string>
#include <vector>

#include <fcntl.h>
#include <linux/close_range.h>
#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "application/runtime/unique_fd.h"

namespace {

using util::CloseOnExecWay;

// The child runs with this soft descriptor limit, and plants descriptors that are not close-on-exec
// at 3 (what the LED utility's child marks from), at 100 to 599 (names of three digits, and more
// entries than one 4096-byte read of /proc/self/fd returns, at 24 bytes each) and at the limit's
// last number. Its report and the source of the planted ones are moved to 1000 and up.
constexpr int kFirst = 3;
constexpr int kLimit = 2048;
constexpr int kBlockBegin = 100;
constexpr int kBlockEnd = 600;
constexpr int kMovedFrom = 1000;
// How the child ends when it could not write its report: its pipe was closed, not marked.
constexpr int kReportLost = 3;

std::vector<int> Planted()
{
    std::vector<int> planted{kFirst};
    for (int fd = kBlockBegin; fd < kBlockEnd; ++fd)
        planted.push_back(fd);
    planted.push_back(kLimit - 1);
    return planted;
}

// What the child reports first: the step of its set-up that failed (kNone: all went well) and
// errno then. Then, after the marking, one Record per descriptor open below the limit.
enum Step : int { kNone, kSetLimit, kMoveReport, kOpenSource, kOpenStandardStream, kClearStandardStream, kPlant };
struct Header {
    int failed_step;
    int error;
};
struct Record {
    int fd;
    int flags;
};

const char* StepName(int step)
{
    switch (step) {
    case kSetLimit: return "setting the soft descriptor limit";
    case kMoveReport: return "moving the report pipe";
    case kOpenSource: return "opening /dev/null";
    case kOpenStandardStream: return "opening a missing standard stream";
    case kClearStandardStream: return "clearing close-on-exec on a standard stream";
    case kPlant: return "planting a descriptor";
    default: return "an unknown step";
    }
}

bool WriteAll(int fd, const void* data, std::size_t size) noexcept
{
    const char* at = static_cast<const char*>(data);
    while (size > 0) {
        const ssize_t written = ::write(fd, at, size);
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0)
            return false;
        at += written;
        size -= static_cast<std::size_t>(written);
    }
    return true;
}

// The forked child: async-signal-safe calls only, since it is the child of a process that may have
// threads. Reports through `report` and ends; never returns into the test program.
[[noreturn]] void PlantMarkAndReport(int unused_read_end, int report, const std::vector<int>& planted,
                                     CloseOnExecWay way) noexcept
{
    ::close(unused_read_end);
    const auto fail = [&report](Step step) {
        const Header header{step, errno};
        WriteAll(report, &header, sizeof header);
        ::_exit(0);
    };
    rlimit limit{};
    if (::getrlimit(RLIMIT_NOFILE, &limit) != 0)
        fail(kSetLimit);
    limit.rlim_cur = kLimit;
    if (::setrlimit(RLIMIT_NOFILE, &limit) != 0)
        fail(kSetLimit);
    const int moved_report = ::fcntl(report, F_DUPFD_CLOEXEC, kMovedFrom);
    if (moved_report < 0)
        fail(kMoveReport);
    ::close(report);
    report = moved_report;
    const int opened = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
    if (opened < 0)
        fail(kOpenSource);
    const int source = ::fcntl(opened, F_DUPFD_CLOEXEC, kMovedFrom);
    if (source < 0)
        fail(kOpenSource);
    ::close(opened);
    for (int fd = 0; fd < kFirst; ++fd) {
        if (::fcntl(fd, F_GETFD) < 0 && ::dup2(source, fd) != fd)
            fail(kOpenStandardStream);
        if (::fcntl(fd, F_SETFD, 0) != 0)
            fail(kClearStandardStream);
    }
    for (const int fd : planted)
        if (::dup2(source, fd) != fd)
            fail(kPlant);

    util::MarkCloseOnExecFrom(kFirst, way);

    static std::array<Record, kLimit> records;
    std::size_t count = 0;
    for (int fd = 0; fd < kLimit; ++fd) {
        const int flags = ::fcntl(fd, F_GETFD);
        if (flags >= 0)
            records[count++] = Record{fd, flags};
    }
    const Header header{kNone, 0};
    const bool reported = WriteAll(report, &header, sizeof header) &&
                          WriteAll(report, records.data(), count * sizeof(Record));
    ::_exit(reported ? 0 : kReportLost);
}

// Killed and reaped on every way out of the test.
class ForkedChild {
public:
    explicit ForkedChild(pid_t pid) : m_pid(pid) {}
    ~ForkedChild()
    {
        if (m_pid > 0) {
            ::kill(m_pid, SIGKILL);
            Reap();
        }
    }
    ForkedChild(const ForkedChild&) = delete;
    ForkedChild& operator=(const ForkedChild&) = delete;

    int Reap()
    {
        int status = 0;
        while (::waitpid(m_pid, &status, 0) == -1 && errno == EINTR) {
        }
        m_pid = -1;
        return status;
    }

private:
    pid_t m_pid;
};

// Everything `fd` delivers until its end; false when no end came within the bound.
bool ReadToEnd(int fd, std::string& bytes, std::chrono::seconds bound)
{
    const auto deadline = std::chrono::steady_clock::now() + bound;
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline -
                                                                                std::chrono::steady_clock::now());
        if (left.count() <= 0)
            return false;
        pollfd readable{fd, POLLIN, 0};
        const int ready = ::poll(&readable, 1, static_cast<int>(left.count()));
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready <= 0)
            return false;
        char buffer[4096];
        const ssize_t size = ::read(fd, buffer, sizeof buffer);
        if (size < 0 && errno == EINTR)
            continue;
        if (size <= 0)
            return size == 0;
        bytes.append(buffer, static_cast<std::size_t>(size));
    }
}

std::string Listed(const std::vector<int>& fds)
{
    std::string listed;
    for (const int fd : fds)
        listed += std::to_string(fd) + " ";
    return listed;
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
// up ends close-on-exec, still open; those below keep their flags.
TEST_P(MarkCloseOnExecFromTest, MarksEveryOpenDescriptorFromFirstUpAndNoneBelow)
{
    rlimit limit{};
    ASSERT_EQ(::getrlimit(RLIMIT_NOFILE, &limit), 0) << std::strerror(errno);
    if (limit.rlim_max != RLIM_INFINITY && limit.rlim_max < static_cast<rlim_t>(kLimit))
        GTEST_SKIP() << "the hard descriptor limit " << limit.rlim_max << " is below the " << kLimit
                     << " descriptors this test opens";
    const CloseOnExecWay way = GetParam().way;
    if (way == CloseOnExecWay::kCloseRange &&
        ::close_range(~0U, ~0U, CLOSE_RANGE_CLOEXEC) != 0 && (errno == ENOSYS || errno == EINVAL))
        GTEST_SKIP() << "this kernel has no close_range with CLOSE_RANGE_CLOEXEC: " << std::strerror(errno);

    const std::vector<int> planted = Planted();
    int ends[2];
    ASSERT_EQ(::pipe2(ends, O_CLOEXEC), 0) << std::strerror(errno);
    util::UniqueFd read_end(ends[0]);
    util::UniqueFd write_end(ends[1]);
    const pid_t pid = ::fork();
    ASSERT_NE(pid, -1) << std::strerror(errno);
    if (pid == 0)
        PlantMarkAndReport(read_end.get(), write_end.get(), planted, way);
    ForkedChild child(pid);
    write_end.reset();

    std::string bytes;
    ASSERT_TRUE(ReadToEnd(read_end.get(), bytes, std::chrono::seconds(60))) << "the child did not end its report";
    const int status = child.Reap();
    ASSERT_FALSE(WIFEXITED(status) && WEXITSTATUS(status) == kReportLost) << "the child's report pipe was closed";
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "the child ended with status " << status;
    Header header{};
    ASSERT_GE(bytes.size(), sizeof header);
    std::memcpy(&header, bytes.data(), sizeof header);
    ASSERT_EQ(header.failed_step, kNone) << StepName(header.failed_step) << " failed in the child: "
                                         << std::strerror(header.error);
    ASSERT_EQ((bytes.size() - sizeof header) % sizeof(Record), 0u);

    std::map<int, int> flags;
    for (std::size_t at = sizeof header; at < bytes.size(); at += sizeof(Record)) {
        Record record{};
        std::memcpy(&record, bytes.data() + at, sizeof record);
        flags[record.fd] = record.flags;
    }
    std::vector<int> marked_below;
    for (int fd = 0; fd < kFirst; ++fd)
        if (flags.count(fd) == 0 || (flags[fd] & FD_CLOEXEC) != 0)
            marked_below.push_back(fd);
    std::vector<int> gone;
    for (const int fd : planted)
        if (flags.count(fd) == 0)
            gone.push_back(fd);
    std::vector<int> unmarked;
    for (const auto& [fd, fd_flags] : flags)
        if (fd >= kFirst && (fd_flags & FD_CLOEXEC) == 0)
            unmarked.push_back(fd);
    EXPECT_TRUE(marked_below.empty()) << "closed or marked below " << kFirst << ": " << Listed(marked_below);
    EXPECT_TRUE(gone.empty()) << "closed instead of marked: " << Listed(gone);
    EXPECT_TRUE(unmarked.empty()) << "not marked: " << Listed(unmarked);
}

INSTANTIATE_TEST_SUITE_P(EachWay, MarkCloseOnExecFromTest,
                         ::testing::Values(Way{"Best", CloseOnExecWay::kBest},
                                           Way{"CloseRange", CloseOnExecWay::kCloseRange},
                                           Way{"ProcWalk", CloseOnExecWay::kProcWalk},
                                           Way{"LimitWalk", CloseOnExecWay::kLimitWalk}),
                         [](const ::testing::TestParamInfo<Way>& way) { return std::string(way.param.name); });

}  // namespace
