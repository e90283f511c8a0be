#pragma once

#include <chrono>
#include <functional>
#include <thread>

namespace testing_support {

// Polls the condition until it holds or the time is up; true when it held.
inline bool WaitUntil(const std::function<bool()>& condition,
                      std::chrono::milliseconds timeout = std::chrono::seconds(5))
{
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!condition()) {
        if (std::chrono::steady_clock::now() > deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return true;
}

// Polls the condition until it holds, for as long as the work it waits for goes on: false only
// when `progress` (a count of the work done, or left) has shown the same value for `stall`. A slow
// machine, or one shared with other work, stores slowly; a stuck one stops advancing.
template <typename Progress>
bool WaitWhileAdvancing(const std::function<bool()>& condition, Progress progress,
                        std::chrono::milliseconds stall = std::chrono::seconds(30))
{
    auto last = progress();
    auto last_change = std::chrono::steady_clock::now();
    while (!condition()) {
        const auto now = std::chrono::steady_clock::now();
        const auto current = progress();
        if (current != last) {
            last = current;
            last_change = now;
        } else if (now - last_change > stall) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return true;
}

}  // namespace testing_support
