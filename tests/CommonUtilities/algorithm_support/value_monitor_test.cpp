#include "CommonUtilities/algorithm_support/value_monitor.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "CommonUtilities/ParameterAccess/load_parameters.h"
#include "CommonUtilities/ParameterAccess/temp_ini_dir.h"
#include "CommonUtilities/algorithm_support/block_traverse.h"

namespace {

constexpr long long kMs = 10000;  // 100-ns ticks per millisecond

template <typename M>
std::unique_ptr<M> Loaded(const std::string& ini_text = "")
{
    TempIniDir dir;
    const std::string ini = dir.Write("algo.ini", ini_text);
    auto monitor = std::make_unique<M>();
    monitor->GetModifiableContext().SetName("BrightnessChecker");
    BlockEntities::TraverseSetContexts(monitor.get());
    ParamsLib::load_parameters(ini.c_str(), 0, monitor.get(), nullptr);
    return monitor;
}

struct Step {
    double value;
    long long time_ms;
    unsigned previous, current;
};

TEST(ValueMonitorTest, BrightnessWarningsFollowLimitsAndChangesWithinThePeriod)
{
    const struct {
        const char* name;
        std::string ini;
        std::vector<Step> steps;
    } cases[] = {
        // A rise of 90 within 400 ms; the low samples leave the window only after 400 ms.
        {"rise",
         "",
         {{100, 0, 0, 0}, {100, 100, 0, 0}, {190, 200, 0, 4}, {190, 300, 4, 4}, {190, 500, 4, 4}, {190, 501, 4, 0}}},
        {"fall", "", {{200, 0, 0, 0}, {100, 100, 0, 8}}},
        {"limits", "", {{240, 0, 0, 1}, {239.9, 1000, 1, 0}, {50, 2000, 0, 2}, {50.1, 3000, 2, 0}}},
        // A period of 0 keeps only the newest time: no change is ever seen between distinct times.
        {"no period", "period_for_measure_change_ms=0\n", {{60, 0, 0, 0}, {230, 1, 0, 0}}},
        // Equal values raise a rise when any spread counts.
        {"zero spread", "too_high_change_in_period=0\n", {{100, 0, 0, 0}, {100, 1, 0, 4}}},
        // A negative period is raised to 0.
        {"negative period", "period_for_measure_change_ms=-5\n", {{60, 0, 0, 0}, {230, 1, 0, 0}}},
    };
    for (const auto& c : cases) {
        auto monitor = Loaded<AlgoBlocks::BrightnessStability>("[BrightnessChecker]\n" + c.ini);
        for (size_t i = 0; i < c.steps.size(); ++i) {
            const Step& step = c.steps[i];
            const auto changes = monitor->ProcessNextValueAndGetAlarmChanges(step.value, step.time_ms * kMs);
            EXPECT_EQ(changes.previous, step.previous) << c.name << " step " << i;
            EXPECT_EQ(changes.current, step.current) << c.name << " step " << i;
        }
    }
}

TEST(ValueMonitorTest, PlainMonitorNeverWarnsWithItsDefaults)
{
    auto monitor = Loaded<AlgoBlocks::Monitor<double>>();
    for (double value : {0.0, 1e300, -1e300, 255.0}) {
        const auto changes = monitor->ProcessNextValueAndGetAlarmChanges(value, 0);
        EXPECT_EQ(changes.current, 0u) << value;
    }
}

TEST(ValueMonitorTest, ReadingBeforeLoadingFails)
{
    AlgoBlocks::BrightnessStability monitor;
    EXPECT_THROW(monitor.ProcessNextValueAndGetAlarmChanges(100, 0), std::logic_error);
}

}  // namespace
