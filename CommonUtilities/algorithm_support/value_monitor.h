#pragma once

#include <cstdint>
#include <deque>
#include <string>

#include "CommonUtilities/algorithm_support/block_light.h"

namespace AlgoBlocks {

// Watches one measurement per frame and says which warnings are active: the value is too high
// (bit 1) or too low (bit 2), or it rose (bit 4) or fell (bit 8) too much within the measuring
// period. With its own defaults it never warns; BrightnessStability gives it brightness limits.
template <typename T>
class Monitor;

template <>
class Monitor<double> : public BlockHighlevel::LightBlock<BlockEntities::IAlgoEntityBase> {
public:
    enum Flag : std::uint32_t { kTooHigh = 1, kTooLow = 2, kFastIncrease = 4, kFastDecrease = 8 };

    struct TimedSample {
        double value;
        long long time;  // 100-ns ticks
        static bool LessByValue(const TimedSample& a, const TimedSample& b) { return a.value < b.value; }
    };

    // The flags of the previous step and of this one.
    struct AlarmChanges {
        std::uint32_t previous;
        std::uint32_t current;
    };

    struct Params {
        ParamsLib::NumericParameter<double> too_high;
        ParamsLib::NumericParameter<double> too_low;
        ParamsLib::NumericParameter<double> too_high_change_in_period;
        ParamsLib::IntValueParam<> period_for_measure_change_ms;
    };

    Monitor() = default;
    ~Monitor() override = default;

    // One frame's value at its time (100-ns ticks; only differences matter).
    AlarmChanges ProcessNextValueAndGetAlarmChanges(double value, long long time);

    void InitializeDefaultParameters() override;

protected:
    Params m_params;

private:
    std::deque<TimedSample> m_window;  // oldest first
    std::uint32_t m_previous = 0;
    std::uint32_t m_current = 0;
};

// The monitor of a picture's mean grey level, with limits for 8-bit intensities.
class BrightnessStability : public Monitor<double> {
public:
    ~BrightnessStability() override = default;
    void InitializeDefaultParameters() override;

    // Empty when the loaded values can run; otherwise the refusal of the first that cannot: a
    // measuring period whose window would hold too many samples to keep and search per frame, and,
    // with refuse_crossed_limits (for an owner that stops its work while a warning stands),
    // too_high below too_low, which makes every frame too bright or too dark. An owner that only
    // warns runs with any limits.
    std::string CheckWorkingRanges(bool refuse_crossed_limits) const;
};

}  // namespace AlgoBlocks
