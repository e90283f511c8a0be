#include "PeopleCounter/analytics/traffic_controller/src/primitives/simd_switch.h"

#include <atomic>

namespace AlgoLibrary {

namespace {
std::atomic<bool> g_simd_enabled{true};
}

bool SimdEnabled()
{
    return g_simd_enabled.load(std::memory_order_relaxed);
}

void SetSimdEnabled(bool enabled)
{
    g_simd_enabled.store(enabled, std::memory_order_relaxed);
}

}  // namespace AlgoLibrary
