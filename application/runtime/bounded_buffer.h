#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <mutex>

#include <boost/circular_buffer.hpp>

namespace util {

// Fixed-capacity FIFO hand-over queue between threads. A full queue overwrites its oldest
// element on push_back; push_back_sync instead waits until the consumer has emptied it.
template <typename T>
class bounded_buffer {
public:
    using size_type = std::size_t;

    explicit bounded_buffer(size_type capacity) : m_ring(capacity) {}
    bounded_buffer(const bounded_buffer&) = delete;
    bounded_buffer& operator=(const bounded_buffer&) = delete;

    void push_back(const T& item)
    {
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            if (m_ring.capacity() == 0)
                return;
            m_ring.push_back(item);
        }
        m_condition.notify_one();
    }

    // Waits until the queue is empty (not merely until it has room), then appends.
    // Returns early, storing nothing, once release_waiters() has been called.
    void push_back_sync(const T& item)
    {
        {
            std::unique_lock<std::mutex> lock(m_mutex);
            m_condition.wait(lock, [this] { return m_ring.empty() || m_released; });
            if (m_released || m_ring.capacity() == 0)
                return;
            m_ring.push_back(item);
        }
        m_condition.notify_one();
    }

    template <typename Rep, typename Period>
    bool timed_front(T& out, const std::chrono::duration<Rep, Period>& timeout)
    {
        {
            std::unique_lock<std::mutex> lock(m_mutex);
            m_condition.wait_until(lock, std::chrono::steady_clock::now() + timeout,
                                   [this] { return !m_ring.empty() || m_released; });
            if (m_ring.empty())
                return false;
            out = m_ring.front();
            m_ring.pop_front();
        }
        m_condition.notify_one();
        return true;
    }

    // Empties the queue and wakes every waiter, so a producer waiting for an empty queue proceeds.
    void clear()
    {
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_ring.clear();
        }
        m_condition.notify_all();
    }

    // Makes every present and future push_back_sync return without storing: the consumer has gone.
    void release_waiters()
    {
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_released = true;
        }
        m_condition.notify_all();
    }

    bool is_empty() const
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_ring.empty();
    }

    bool is_full() const
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_ring.full();
    }

    size_type size() const
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_ring.size();
    }

    size_type capacity() const { return m_ring.capacity(); }

private:
    boost::circular_buffer<T> m_ring;
    mutable std::mutex m_mutex;
    std::condition_variable m_condition;
    bool m_released = false;
};

}  // namespace util
