#include "application/devices/inclinometer.h"

#include <chrono>
#include <cmath>
#include <cstdint>
#include <numeric>
#include <utility>

namespace {

constexpr unsigned char kAxesReportId = 4;
constexpr unsigned int kAxesReportLength = 6;
constexpr int kReportTimeoutMs = 2000;

double Mean(const std::deque<double>& window)
{
    return std::accumulate(window.begin(), window.end(), 0.0) / static_cast<double>(window.size());
}

double PopulationVariance(const std::deque<double>& window)
{
    const double mean = Mean(window);
    double sum_of_squares = 0.0;
    for (double value : window) sum_of_squares += (value - mean) * (value - mean);
    return sum_of_squares / static_cast<double>(window.size());
}

std::int16_t LittleEndianInt16(const unsigned char* bytes)
{
    return static_cast<std::int16_t>(static_cast<std::uint16_t>(bytes[0] | (bytes[1] << 8)));
}

}  // namespace

Inclinometer::Inclinometer(const std::string& name, ThreadManager& manager)
    : Inclinometer(name, MakeHidrawApi(), manager)
{
}

Inclinometer::Inclinometer(const std::string& name, std::shared_ptr<IHidApi> hid_api, ThreadManager& manager)
    : BaseThread(name, manager), m_hid_api(std::move(hid_api))
{
}

boost::signals2::connection Inclinometer::DoOnAngleChange(const AngleSignal::slot_type& slot)
{
    return m_on_angle_change.connect(slot);
}

bool Inclinometer::GetAngleInternal()
{
    unsigned char report[kAxesReportLength] = {};
    {
        // The device is opened for this one reading only.
        CensusCubeHidDevice device(m_hid_api);
        device.GetReport(report, kAxesReportLength, kAxesReportId, kReportTimeoutMs);
    }
    const double x = LittleEndianInt16(report);
    const double y = LittleEndianInt16(report + 2);
    const double z = LittleEndianInt16(report + 4);

    if (x == 0.0 && z == 0.0) {
        if (!m_in_invalid_run)
            LOG(GetLogger(), warning) << "Inclinometer reading ignored: x and z axes are both 0.";
        m_in_invalid_run = true;
        return false;
    }
    m_in_invalid_run = false;

    if (m_x_window.size() >= kWindowSize) {
        m_x_window.pop_front();
        m_y_window.pop_front();
        m_z_window.pop_front();
        m_angle_window.pop_front();
    }
    m_angle_window.push_back(std::atan(std::fabs(x / z)));
    m_x_window.push_back(x);
    m_y_window.push_back(y);
    m_z_window.push_back(z);
    m_angle.store(Mean(m_angle_window));
    return true;
}

bool Inclinometer::IsShaking() const
{
    for (const std::deque<double>* window : {&m_x_window, &m_y_window, &m_z_window}) {
        if (!window->empty() && std::sqrt(PopulationVariance(*window)) > kShakeThreshold)
            return true;
    }
    return false;
}

void Inclinometer::Pause()
{
    WaitFor(std::chrono::milliseconds(100));
}

void Inclinometer::ThreadFunc()
{
    // The first valid reading is signalled at once, without a shake test.
    while (!GetAngleInternal()) {
        if (IsTerminated())
            return;
        Pause();
    }
    double last = m_angle.load();
    m_on_angle_change(last);

    bool shaking = false;
    while (!IsTerminated()) {
        Pause();
        if (!GetAngleInternal())
            continue;

        const bool shaking_now = IsShaking();
        if (shaking_now && !shaking) {
            LOG(GetLogger(), info) << "The device is now shaky.";
            shaking = true;
        } else if (!shaking_now && shaking) {
            LOG(GetLogger(), info) << "The device is no longer shaky.";
            shaking = false;
        }
        if (shaking)
            continue;

        const double current = m_angle.load();
        if (std::fabs(current - last) > kAngleStep) {
            LOG(GetLogger(), info) << "Tilt angle changed!";
            LOG(GetLogger(), info) << "Previous: " << last;
            LOG(GetLogger(), info) << "New: " << current;
            m_on_angle_change(current);
            last = current;
        }
    }
}
