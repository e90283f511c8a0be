#pragma once

#include <unistd.h>

#include <utility>

namespace util {

// Sole owner of a POSIX file descriptor: closes it when destroyed or reset. Move-only.
class UniqueFd {
public:
    UniqueFd() = default;
    explicit UniqueFd(int fd) : m_fd(fd) {}
    ~UniqueFd() { reset(); }

    UniqueFd(const UniqueFd&) = delete;
    UniqueFd& operator=(const UniqueFd&) = delete;

    UniqueFd(UniqueFd&& other) noexcept : m_fd(other.release()) {}
    UniqueFd& operator=(UniqueFd&& other) noexcept
    {
        if (this != &other)
            reset(other.release());
        return *this;
    }

    int get() const { return m_fd; }
    bool isValid() const { return m_fd >= 0; }

    // Gives up ownership without closing; the object is left empty.
    int release() { return std::exchange(m_fd, -1); }

    // Closes the descriptor held (the result of close is ignored) and takes `fd` instead.
    void reset(int fd = -1)
    {
        const int old = std::exchange(m_fd, fd);
        if (old >= 0)
            ::close(old);
    }

private:
    int m_fd = -1;
};

}  // namespace util
