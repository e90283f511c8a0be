#pragma once

#include <atomic>
#include <deque>
#include <memory>
#include <string>

#include "application/devices/hid_device.h"
#include "application/runtime/base_thread.h"
#include "application/runtime/signals2.h"

class ThreadManager;

// The "inclinometer" thread: reads the camera's accelerometer every 100 ms, smooths the tilt angle over
// the last readings and signals it once at start and then whenever the steady device has turned by more
// than 2 degrees. A device failure ends the thread (and with it the service).
class Inclinometer : public BaseThread {
public:
    using AngleSignal = boost::signals2::signal<void(double)>;

    Inclinometer(const std::string& name, ThreadManager& manager);
    // Reads the device through the given library instead of hidapi's.
    Inclinometer(const std::string& name, std::shared_ptr<IHidApi> hid_api, ThreadManager& manager);

    // The slot runs on the inclinometer thread with the tilt in radians.
    boost::signals2::connection DoOnAngleChange(const AngleSignal::slot_type& slot);
    // The smoothed tilt in radians; 0 before the first reading.
    double GetAngle() const { return m_angle.load(); }
    // Whether any axis has spread by more than the shake threshold over the window. Inclinometer thread only.
    bool IsShaking() const;

protected:
    void ThreadFunc() override;

private:
    static constexpr std::size_t kWindowSize = 5;
    static constexpr double kShakeThreshold = 1.0;
    // 2 degrees in radians: the least change that is signalled.
    static constexpr double kAngleStep = 0.03490658503988659;

    // Takes one reading into the windows. A reading without a defined angle (x = z = 0) is refused:
    // returns false and leaves the windows as they were.
    bool GetAngleInternal();
    void Pause();

    std::shared_ptr<IHidApi> m_hid_api;
    std::atomic<double> m_angle{0.0};
    std::deque<double> m_x_window;
    std::deque<double> m_y_window;
    std::deque<double> m_z_window;
    std::deque<double> m_angle_window;
    bool m_in_invalid_run = false;
    AngleSignal m_on_angle_change;
};
