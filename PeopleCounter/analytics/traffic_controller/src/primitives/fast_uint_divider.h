#pragma once

#include <cstdint>

// Unsigned division by a divisor fixed in advance, through a 33-bit reciprocal: one 64-bit
// multiplication and one shift per division.
template <int kBits>
class FastUintDivider;

template <>
class FastUintDivider<32> {
public:
    // The shift value that selects plain division.
    static constexpr uint32_t kPlainDivision = 0xFFFFFFFFu;

    // Prepares division by d. A divisor of 0 is refused (false) and leaves the divider unchanged.
    bool InitDivider(uint32_t d)
    {
        if (d == 0)
            return false;
        m_divisor = d;
        if (d < 2) {
            m_shift = 32;
            m_magic = static_cast<uint32_t>(0xFFFFFFFFull / d + 1);  // 0 for d = 1
            return true;
        }
        int k = 1;
        while (k < 32 && (uint64_t{1} << k) < d) ++k;
        if (k > 31) {
            m_shift = kPlainDivision;
            m_magic = 0;
            return true;
        }
        m_shift = 32u + static_cast<uint32_t>(k);
        m_magic = static_cast<uint32_t>((((uint64_t{1} << (32 + k)) - 1) / d + 1) & 0xFFFFFFFFull);
        return true;
    }

    uint32_t Divide(uint32_t x) const
    {
        if (m_shift == kPlainDivision)
            return x / m_divisor;
        // (x * (magic + 2^32)) >> shift, split so that no intermediate passes 64 bits.
        const uint64_t high = ((static_cast<uint64_t>(x) * m_magic) >> 32) + x;
        return static_cast<uint32_t>(high >> (m_shift - 32));
    }

    uint32_t Magic() const { return m_magic; }
    uint32_t Divisor() const { return m_divisor; }
    uint32_t Shift() const { return m_shift; }

private:
    uint32_t m_magic = 0;
    uint32_t m_divisor = 1;
    uint32_t m_shift = 32;
};
