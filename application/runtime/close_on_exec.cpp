#include "application/runtime/close_on_exec.h"

#include <cstddef>
#include <cstring>

#include <fcntl.h>
#include <linux/close_range.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace util {

namespace {

// An entry that the kernel's getdents64 writes: inode (8 bytes), offset (8), the entry's length
// (2), type (1), then the name, ending in a zero byte.
constexpr std::size_t kLengthAt = 16;
constexpr std::size_t kNameAt = 19;
// Far beyond any descriptor limit a device sets; a limit of "unlimited" is not walked to its end.
constexpr rlim_t kHighestWalked = rlim_t{1} << 20;

// The descriptor a name of /proc/self/fd stands for; -1 for "." and "..".
int DescriptorNamed(const char* name)
{
    if (*name == '\0')
        return -1;
    int fd = 0;
    for (; *name != '\0'; ++name) {
        if (*name < '0' || *name > '9' || fd > 100000000)
            return -1;
        fd = fd * 10 + (*name - '0');
    }
    return fd;
}

// The fallback without close_range: marks the descriptors from `first` up that /proc/self/fd
// lists. False when /proc could not be read to the end.
bool MarkListedCloseOnExecFrom(int first) noexcept
{
    const int directory = ::open("/proc/self/fd", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (directory < 0)
        return false;
    alignas(8) char buffer[4096];
    bool complete = true;
    for (;;) {
        const long size = ::syscall(SYS_getdents64, directory, buffer, sizeof buffer);
        if (size <= 0) {
            complete = size == 0;
            break;
        }
        for (long at = 0; at < size;) {
            unsigned short length = 0;
            std::memcpy(&length, buffer + at + kLengthAt, sizeof length);
            if (length == 0)
                break;
            const int fd = DescriptorNamed(buffer + at + kNameAt);
            if (fd >= first && fd != directory)
                ::fcntl(fd, F_SETFD, FD_CLOEXEC);
            at += length;
        }
    }
    ::close(directory);
    return complete;
}

// close_range with its close-on-exec flag; false where the kernel refuses it (before 5.11).
bool MarkedByCloseRangeFrom(int first) noexcept
{
    return ::close_range(static_cast<unsigned>(first), ~0U, CLOSE_RANGE_CLOEXEC) == 0;
}

// The last resort: marks every number from `first` below the descriptor limit.
void MarkBelowLimitCloseOnExecFrom(int first) noexcept
{
    rlimit limit{};
    const rlim_t end = ::getrlimit(RLIMIT_NOFILE, &limit) == 0 ? limit.rlim_cur : 1024;
    for (rlim_t fd = static_cast<rlim_t>(first); fd < end && fd < kHighestWalked; ++fd)
        ::fcntl(static_cast<int>(fd), F_SETFD, FD_CLOEXEC);
}

}  // namespace

void MarkCloseOnExecFrom(int first, CloseOnExecWay way) noexcept
{
    switch (way) {
    case CloseOnExecWay::kCloseRange:
        MarkedByCloseRangeFrom(first);
        return;
    case CloseOnExecWay::kProcWalk:
        MarkListedCloseOnExecFrom(first);
        return;
    case CloseOnExecWay::kLimitWalk:
        MarkBelowLimitCloseOnExecFrom(first);
        return;
    case CloseOnExecWay::kBest:
        break;
    }
    if (MarkedByCloseRangeFrom(first) || MarkListedCloseOnExecFrom(first))
        return;
    MarkBelowLimitCloseOnExecFrom(first);
}

}  // namespace util
