#pragma once

#include <cstdint>
#include <opencv2/core/hal/intrin.hpp>

#include "PeopleCounter/analytics/traffic_controller/src/primitives/fast_uint_divider.h"

namespace AlgoLibrary {

#if CV_SIMD
// FastUintDivider<32>::Divide on every lane, for dividers that do not fall back to plain
// division and numerators below 2^31 (so that the sum below cannot carry out of 32 bits).
class SimdUintDivider {
public:
    explicit SimdUintDivider(const FastUintDivider<32>& divider)
        : m_magic(cv::vx_setall_u32(divider.Magic())), m_shift(static_cast<int>(divider.Shift()) - 32)
    {
    }

    static bool Supports(const FastUintDivider<32>& divider)
    {
        return divider.Shift() != FastUintDivider<32>::kPlainDivision;
    }

    cv::v_uint32 Divide(const cv::v_uint32& n) const
    {
        // (n * (magic + 2^32)) >> shift as (((n * magic) >> 32) + n) >> (shift - 32).
        cv::v_uint64 low, high;
        cv::v_mul_expand(n, m_magic, low, high);
        const cv::v_uint32 product_high = cv::v_pack(low >> 32, high >> 32);
        return (product_high + n) >> m_shift;
    }

private:
    cv::v_uint32 m_magic;
    int m_shift;
};
#endif

}  // namespace AlgoLibrary
