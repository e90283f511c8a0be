#pragma once

#include <atomic>
#include <chrono>
#include <map>
#include <string>

#include "PeopleCounter/universal/alarm.h"
#include "application/devices/serial_port.h"
#include "application/runtime/base_thread.h"

class ThreadManager;

// Keeps the incoming and outgoing totals and shows them, with their difference, on the serial
// indicator board every half second. Board errors are caught and the board is reopened at the
// next cycle, so a board plugged in later is picked up.
class IndicatorThread : public BaseThread {
public:
    struct ObjectState {
        int net_passes = 0;         // +1 per "Incoming" alarm, -1 per "Outgoing" one
        bool counted = false;       // added to one of the totals
        int counted_direction = 0;  // 0: added to the incoming total, 1: to the outgoing one
    };

    // An empty device path means the first USB serial port.
    IndicatorThread(int incoming, int outgoing, const std::string& name, const std::string& device,
                    ThreadManager& manager);
    // `modem_lines` is borrowed and must outlive the thread; `tty_class_dir` lists the terminals.
    IndicatorThread(int incoming, int outgoing, const std::string& name, const std::string& device,
                    IModemLines& modem_lines, const std::string& tty_class_dir, ThreadManager& manager);

    // Updates the totals from one alarm. Called on the algorithm thread only.
    void ProcessAlarm(const Alarm& alarm);
    // Adds counts that became known after the start (a database that was locked then). Any thread.
    void AddToTotals(long long incoming, long long outgoing);

protected:
    void ThreadFunc() override;

private:
    static const std::chrono::milliseconds m_sleep_dura;

    void ShowTotals();

    std::string m_device;
    std::atomic<int> m_incoming;
    std::atomic<int> m_outgoing;
    std::map<long long, ObjectState> m_objects;  // used by ProcessAlarm alone
    IModemLines& m_modem_lines;                  // owned by the creator, outlives the thread
    std::string m_tty_class_dir;
};
