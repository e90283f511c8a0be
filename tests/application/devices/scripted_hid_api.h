#pragma once

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstring>
#include <deque>
#include <mutex>
#include <set>
#include <thread>
#include <utility>
#include <vector>

#include "application/devices/hid_device.h"

// A HID library whose present devices and input reports a test scripts. Reports are served in order;
// after the script the last report repeats when asked to, else reads time out.
class ScriptedHidApi : public IHidApi {
    template <typename F>
    auto Locked(F action)
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return action();
    }

public:
    struct Step {
        std::vector<unsigned char> bytes;  // report id first; empty: nothing arrived in time
        int error = 0;                     // non-zero: the read fails with this errno
        std::chrono::milliseconds delay{0};
    };
    using Id = std::pair<unsigned short, unsigned short>;

    static std::vector<unsigned char> AxesReport(std::int16_t x, std::int16_t z)
    {
        std::vector<unsigned char> bytes{4};
        for (std::int16_t axis : {x, std::int16_t(0), z}) {
            bytes.push_back(static_cast<unsigned char>(static_cast<std::uint16_t>(axis) & 0xFF));
            bytes.push_back(static_cast<unsigned char>(static_cast<std::uint16_t>(axis) >> 8));
        }
        return bytes;
    }

    void AddDevice(Id id)
    {
        Locked([&] { m_present.insert(id); });
    }
    void Queue(Step step)
    {
        Locked([&] { m_script.push_back(std::move(step)); });
    }
    void RepeatLastReport()
    {
        Locked([&] { m_repeat_last = true; });
    }
    std::vector<Id> OpenAttempts()
    {
        return Locked([&] { return m_open_attempts; });
    }
    // Devices and library initialisations not yet released.
    int Unreleased()
    {
        return Locked([&] { return m_opened - m_closed + m_inits - m_exits; });
    }
    int Reads()
    {
        return Locked([&] { return m_reads; });
    }
    bool WaitForReads(int count)
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        return m_changed.wait_for(lock, std::chrono::seconds(5), [&] { return m_reads >= count; });
    }

    int Init() override
    {
        return Locked([&] { return ++m_inits, 0; });
    }
    int Exit() override
    {
        return Locked([&] { return ++m_exits, 0; });
    }
    hid_device* Open(unsigned short vendor_id, unsigned short product_id, const wchar_t*) override
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_open_attempts.emplace_back(vendor_id, product_id);
        if (!m_present.count({vendor_id, product_id})) {
            errno = ENOENT;
            return nullptr;
        }
        ++m_opened;
        // Handed back to this object only, never dereferenced.
        return reinterpret_cast<hid_device*>(&m_handle_token);
    }
    hid_device* OpenPath(const char*) override { return errno = ENOENT, nullptr; }
    void Close(hid_device*) override
    {
        Locked([&] { ++m_closed; });
    }
    int Write(hid_device*, const unsigned char*, std::size_t) override { return errno = EIO, -1; }
    int ReadTimeout(hid_device*, unsigned char* data, std::size_t length, int) override
    {
        Step step;
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            if (!m_script.empty()) {
                step = m_script.front();
                m_script.pop_front();
                m_last_report = step.bytes.empty() ? m_last_report : step.bytes;
            } else if (m_repeat_last) {
                step.bytes = m_last_report;
            }
            ++m_reads;
        }
        m_changed.notify_all();
        std::this_thread::sleep_for(step.delay);
        if (step.error != 0)
            return errno = step.error, -1;
        const std::size_t count = std::min(length, step.bytes.size());
        if (count > 0)
            std::memcpy(data, step.bytes.data(), count);
        return static_cast<int>(count);
    }
    int SetNonblocking(hid_device*, int) override { return 0; }
    int GetProductString(hid_device*, wchar_t*, std::size_t) override { return -1; }
    const wchar_t* Error(hid_device*) override { return L"device unplugged"; }
    std::vector<HidDeviceInfo> Enumerate(unsigned short, unsigned short) override { return {}; }

private:
    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::set<Id> m_present;
    std::deque<Step> m_script;
    std::vector<unsigned char> m_last_report;
    bool m_repeat_last = false;
    std::vector<Id> m_open_attempts;
    int m_inits = 0;
    int m_exits = 0;
    int m_opened = 0;
    int m_closed = 0;
    int m_reads = 0;
    char m_handle_token = 0;
};
