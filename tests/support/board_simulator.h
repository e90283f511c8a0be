#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <functional>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include "application/devices/serial_port.h"

namespace testing_support {

using Bytes = std::vector<unsigned char>;

// Modem lines of a pseudo-terminal, which refuses the real ioctls: records what is set and
// fails with a chosen errno when asked to.
class FakeModemLines : public IModemLines {
public:
    int Get(int, int& lines) override
    {
        lines = m_lines;
        return m_get_error;
    }
    int Set(int, int lines) override
    {
        if (m_set_error == 0)
            m_lines = lines;
        return m_set_error;
    }

    std::atomic<int> m_lines{0};
    std::atomic<int> m_get_error{0};
    std::atomic<int> m_set_error{0};
};

// The number a 13-byte board frame shows, read back from its segment bytes; -1 for an unknown pattern.
inline int ShownNumber(const Bytes& frame)
{
    static const unsigned char kPatterns[] = {0x3F, 0x06, 0x5B, 0x4F, 0x66, 0x6D, 0x7D, 0x07, 0x7F, 0x6F};
    int number = 0;
    for (std::size_t i = 9; i < 13; ++i) {
        int digit = -1;
        for (int d = 0; d < 10; ++d)
            if (kPatterns[d] == frame[i])
                digit = d;
        if (digit < 0)
            return -1;
        number = number * 10 + digit;
    }
    return number;
}

// The far end of a serial line: the master of a pseudo-terminal pair whose slave is the port
// under test. Collects what the port sends and answers every 13 bytes with a reply.
class BoardSimulator {
public:
    static constexpr std::size_t kFrameSize = 13;

    BoardSimulator()
    {
        m_master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
        if (m_master < 0 || grantpt(m_master) != 0 || unlockpt(m_master) != 0)
            throw std::runtime_error("cannot create a pseudo-terminal");
        m_slave_path = ptsname(m_master);
        // Keeps the line up while the port under test is closed between its uses.
        m_keep_open = open(m_slave_path.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
        if (m_keep_open < 0)
            throw std::runtime_error("cannot open " + m_slave_path);
        m_thread = std::thread([this] { Run(); });
    }

    ~BoardSimulator()
    {
        m_stop = true;
        m_thread.join();
        close(m_keep_open);
        close(m_master);
    }
    BoardSimulator(const BoardSimulator&) = delete;
    BoardSimulator& operator=(const BoardSimulator&) = delete;

    const std::string& SlavePath() const { return m_slave_path; }

    // The reply to each frame; empty: no reply at all.
    void SetReply(const Bytes& reply)
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_reply = reply;
    }

    // Sends bytes to the port at once, outside the frame exchange.
    void Send(const Bytes& bytes) { WriteAll(bytes); }

    // Everything received so far, cut into frames of 13 bytes.
    std::vector<Bytes> Frames() const
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_frames;
    }

    Bytes Received() const
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_received;
    }

    // Waits up to `timeout` until the predicate holds for the frames received.
    bool WaitForFrames(const std::function<bool(const std::vector<Bytes>&)>& predicate,
                       std::chrono::milliseconds timeout = std::chrono::seconds(3)) const
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        return m_changed.wait_for(lock, timeout, [&] { return predicate(m_frames); });
    }

    bool WaitForReceived(std::size_t count, std::chrono::milliseconds timeout = std::chrono::seconds(3)) const
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        return m_changed.wait_for(lock, timeout, [&] { return m_received.size() >= count; });
    }

private:
    void Run()
    {
        Bytes pending;
        while (!m_stop) {
            pollfd request{m_master, POLLIN, 0};
            if (poll(&request, 1, 20) <= 0 || !(request.revents & POLLIN))
                continue;
            unsigned char buffer[4096];
            const ssize_t n = read(m_master, buffer, sizeof(buffer));
            if (n <= 0)
                continue;
            Bytes replies;
            {
                std::lock_guard<std::mutex> lock(m_mutex);
                m_received.insert(m_received.end(), buffer, buffer + n);
                pending.insert(pending.end(), buffer, buffer + n);
                while (pending.size() >= kFrameSize) {
                    m_frames.emplace_back(pending.begin(), pending.begin() + kFrameSize);
                    pending.erase(pending.begin(), pending.begin() + kFrameSize);
                    replies.insert(replies.end(), m_reply.begin(), m_reply.end());
                }
            }
            m_changed.notify_all();
            WriteAll(replies);
        }
    }

    void WriteAll(const Bytes& bytes)
    {
        std::size_t done = 0;
        while (done < bytes.size()) {
            const ssize_t n = write(m_master, bytes.data() + done, bytes.size() - done);
            if (n <= 0)
                return;
            done += static_cast<std::size_t>(n);
        }
    }

    int m_master = -1;
    int m_keep_open = -1;
    std::string m_slave_path;
    mutable std::mutex m_mutex;
    mutable std::condition_variable m_changed;
    Bytes m_reply = {0x08, 0x9D, 0x11, 0x02, 0x01, 0x4F, 0x4B, 0x00};
    Bytes m_received;
    std::vector<Bytes> m_frames;
    std::atomic<bool> m_stop{false};
    std::thread m_thread;
};

}  // namespace testing_support
