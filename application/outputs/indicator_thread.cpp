#include "application/outputs/indicator_thread.h"

#include <cstdlib>
#include <exception>

#include "application/devices/indicator_board.h"

namespace {

// Brings a total above the board's largest number back into its range. A compare-and-exchange,
// so that an increment or decrement made at the same instant on another thread is kept.
void WrapTotal(std::atomic<int>& total, int max_number)
{
    int value = total.load();
    while (value > max_number && !total.compare_exchange_weak(value, value % (max_number + 1))) {
    }
}

// Adds one pass of an object; the object joins the total of `direction` when not yet counted.
void CountPass(IndicatorThread::ObjectState& state, int step, int direction, std::atomic<int>& total)
{
    state.net_passes += step;
    if (!state.counted) {
        ++total;
        state.counted = true;
        state.counted_direction = direction;
    }
}

}  // namespace

const std::chrono::milliseconds IndicatorThread::m_sleep_dura{500};

IndicatorThread::IndicatorThread(int incoming, int outgoing, const std::string& name, const std::string& device,
                                 ThreadManager& manager)
    : IndicatorThread(incoming, outgoing, name, device, ModemLines::Instance(), SerialPort::kTtyClassDir, manager)
{
}

IndicatorThread::IndicatorThread(int incoming, int outgoing, const std::string& name, const std::string& device,
                                 IModemLines& modem_lines, const std::string& tty_class_dir, ThreadManager& manager)
    : BaseThread(name, manager),
      m_device(device),
      m_incoming(incoming),
      m_outgoing(outgoing),
      m_modem_lines(modem_lines),
      m_tty_class_dir(tty_class_dir)
{
}

void IndicatorThread::ProcessAlarm(const Alarm& alarm)
{
    switch (alarm.type) {
        case kIncoming:
            CountPass(m_objects[alarm.object_id], +1, 0, m_incoming);
            break;
        case kOutgoing:
            CountPass(m_objects[alarm.object_id], -1, 1, m_outgoing);
            break;
        case kMovedOut: {
            // Only an object that was counted can be taken back; one never seen has nothing to undo.
            const auto found = m_objects.find(alarm.object_id);
            if (found == m_objects.end())
                break;
            const ObjectState& state = found->second;
            if (state.counted && state.counted_direction == 0 && state.net_passes != 1)
                --m_incoming;
            if (state.counted && state.counted_direction == 1 && state.net_passes != -1)
                --m_outgoing;
            m_objects.erase(found);
            break;
        }
        default:
            break;
    }
}

void IndicatorThread::AddToTotals(long long incoming, long long outgoing)
{
    m_incoming += static_cast<int>(incoming);
    m_outgoing += static_cast<int>(outgoing);
}

void IndicatorThread::ShowTotals()
{
    IndicatorBoard board(m_device, m_modem_lines, m_tty_class_dir);
    WrapTotal(m_incoming, board.GetMaxNumber());
    WrapTotal(m_outgoing, board.GetMaxNumber());
    board.OutputNumber(m_incoming.load(), 0, 0);
    board.OutputNumber(m_outgoing.load(), 0, 1);
    board.OutputNumber(std::abs(m_incoming.load() - m_outgoing.load()), 0, 2);
}

void IndicatorThread::ThreadFunc()
{
    bool board_lost = false;
    while (!IsTerminated()) {
        try {
            ShowTotals();
            if (board_lost)
                LOG(GetLogger(), info) << "Indicator board is now connected.";
            board_lost = false;
        } catch (const std::exception& error) {
            if (!board_lost) {
                LOG(GetLogger(), info) << "Indicator board is now disconnected!";
                // The device's errors name the device, as the options give it.
                LOG(GetLogger(), info) << "Exception: " << LoggedValue(error.what(), 4 * kLoggedValueLimit);
            }
            board_lost = true;
        }
        WaitFor(m_sleep_dura);
    }
}
