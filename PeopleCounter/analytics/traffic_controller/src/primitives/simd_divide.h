#pragma once

#include <cstdint>
#include <opencv2/core.hpp>
#include <opencv2/core/hal/intrin.hpp>

#include "PeopleCounter/analytics/traffic_controller/src/primitives/fast_uint_divider.h"

namespace AlgoLibrary {

#if CV_SIMD
// FastUintDivider<32>::Divide on every lane, for dividers that do not fall back to plain
// division. The sum n + ((n * magic) >> 32) must stay within 32 bits: it is about n * 2^k / d
// (2^k the power of two at or above d), so numerators up to 255 d with d <= 2^24 are safe.
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

// Four vectors of 32-bit values below 256 narrowed to bytes. The values fit every signed type,
// so the signed packs serve, which every instruction set has natively.
inline cv::v_uint8 NarrowToBytes(const cv::v_uint32& a, const cv::v_uint32& b, const cv::v_uint32& c,
                                 const cv::v_uint32& d)
{
    const cv::v_int16 low = cv::v_pack(cv::v_reinterpret_as_s32(a), cv::v_reinterpret_as_s32(b));
    const cv::v_int16 high = cv::v_pack(cv::v_reinterpret_as_s32(c), cv::v_reinterpret_as_s32(d));
    return cv::v_pack_u(low, high);
}
#endif

}  // namespace AlgoLibrary
