#pragma once

#include <cassert>
#include <cstddef>
#include <utility>
#include <vector>

namespace stereo {

// A ring buffer over a vector: appends at the back, takes from the front, grows only when full.
template <typename T>
class CircularBuffer {
public:
    // Makes room for n elements, keeping the queued ones in order.
    void reserve(std::size_t n)
    {
        if (n <= m_capacity)
            return;
        std::vector<T> data(n);
        for (unsigned i = 0; i < m_curr_size; ++i) data[i] = std::move(m_data[Slot(i)]);
        m_data.swap(data);
        m_start = 0;
        m_capacity = static_cast<unsigned>(n);
    }

    void push_back(const T& value)
    {
        if (m_curr_size == m_capacity)
            reserve(2 * static_cast<std::size_t>(m_curr_size) + 1);
        m_data[Slot(m_curr_size)] = value;
        ++m_curr_size;
    }

    // Removes the front element; the buffer must not be empty.
    void pop_front()
    {
        assert(m_curr_size > 0 && "ind < m_curr_size");
        m_start = m_start + 1 == m_capacity ? 0 : m_start + 1;
        --m_curr_size;
    }

    const T& front() const { return (*this)[0]; }

    const T& operator[](std::size_t ind) const
    {
        assert(ind < m_curr_size && "ind < m_curr_size");
        return m_data[Slot(static_cast<unsigned>(ind))];
    }

    void clear()
    {
        m_curr_size = 0;
        m_start = 0;
    }

    std::size_t size() const { return m_curr_size; }
    bool empty() const { return m_curr_size == 0; }
    std::size_t capacity() const { return m_capacity; }

private:
    // Storage index of element i (i < capacity; a wrap by subtraction, no division).
    unsigned Slot(unsigned i) const
    {
        const unsigned at = m_start + i;
        return at >= m_capacity ? at - m_capacity : at;
    }

    std::vector<T> m_data;
    unsigned m_start = 0;
    unsigned m_curr_size = 0;
    unsigned m_capacity = 0;
};

}  // namespace stereo
