#include "CommonUtilities/algorithm_support/value_monitor.h"

#include <algorithm>
#include <limits>

#include "CommonUtilities/ParameterAccess/parameter_range.h"

namespace AlgoBlocks {

void Monitor<double>::InitializeDefaultParameters()
{
    const double largest = std::numeric_limits<double>::max();
    InitValueParameterDefault(m_params.too_high, "", "", "too_high", "First level that is treated as too high", "",
                              largest);
    InitValueParameterDefault(m_params.too_low, "", "", "too_low", "First level that is treated as too low", "",
                              std::numeric_limits<double>::lowest());
    InitValueParameterDefault(m_params.too_high_change_in_period, "", "", "too_high_change_in_period",
                              "Change during period that is treated as too fast increase/decrease", "", largest);
    InitValueParameterDefault(m_params.period_for_measure_change_ms, "", "", "period_for_measure_change_ms",
                              "Period to be used for calculating max change, milliseconds", "", 0);
    // A negative period would leave only samples from the future in the window.
    m_params.period_for_measure_change_ms.SetLimits(0, std::numeric_limits<int>::max());
}

Monitor<double>::AlarmChanges Monitor<double>::ProcessNextValueAndGetAlarmChanges(double value, long long time)
{
    const std::uint32_t previous = m_current;
    std::uint32_t current = 0;
    if (value >= m_params.too_high())
        current |= kTooHigh;
    if (value <= m_params.too_low())
        current |= kTooLow;

    m_window.push_back({value, time});
    const long long period = static_cast<long long>(m_params.period_for_measure_change_ms()) * 10000LL;
    while (m_window.front().time < time - period) m_window.pop_front();

    if (m_window.size() >= 2) {
        const auto extremes = std::minmax_element(m_window.begin(), m_window.end(), TimedSample::LessByValue);
        if (extremes.second->value - extremes.first->value >= m_params.too_high_change_in_period())
            current |= extremes.first < extremes.second ? kFastIncrease : kFastDecrease;
    }
    m_previous = previous;
    m_current = current;
    return {m_previous, m_current};
}

void BrightnessStability::InitializeDefaultParameters()
{
    Monitor<double>::InitializeDefaultParameters();
    InitValueParameterDefault(m_params.too_high, "", "", "too_high",
                              "Brightness level that is too high for algorithms. Measured as uint8 intensity value", "",
                              240.0);
    InitValueParameterDefault(m_params.too_low, "", "", "too_low",
                              "Brightness level that is too low for algorithms. Measured as uint8 intensity value", "",
                              50.0);
    InitValueParameterDefault(m_params.too_high_change_in_period, "", "", "too_high_change_in_period",
                              "Brightness change in period (400ms by default) that is too fast for algorithms without "
                              "special handling. Measured as difference between uint8 intensity values",
                              "", 80.0);
    InitValueParameterDefault(m_params.period_for_measure_change_ms, "", "", "period_for_measure_change_ms",
                              "Period to be used for calculating max change, milliseconds", "", 400);
    m_params.period_for_measure_change_ms.SetLimits(0, std::numeric_limits<int>::max());
}

namespace {

// The longest measuring period: the window holds every sample of the period (90,000 at 25 frames
// per second, about 1.4 MB) and is searched per frame. Far longer ones fill the device's memory.
constexpr int kMaxMeasurePeriodMs = 3600000;

}  // namespace

std::string BrightnessStability::CheckWorkingRanges(bool refuse_crossed_limits) const
{
    const BlockEntities::Context& context = GetContext();
    // Crossed limits make every frame too bright or too dark.
    if (refuse_crossed_limits && m_params.too_high() < m_params.too_low())
        return "Parameters " + ParamsLib::NameAndValue(m_params.too_high, context) + " and " +
               ParamsLib::NameAndValue(m_params.too_low, context) +
               " cannot work together: " + m_params.too_high.GetName() + " must not lie below " +
               m_params.too_low.GetName() + ", else every frame counts as too bright or too dark";
    return ParamsLib::CheckWorkingRange(m_params.period_for_measure_change_ms, context,
                                        ParamsLib::WorkingRange::Closed(0, kMaxMeasurePeriodMs),
                                        "the window keeps every sample of the period");
}

}  // namespace AlgoBlocks
