#pragma once

#include <cmath>
#include <cstdint>
#include <limits>

namespace numeric {

// A signed 32-bit fixed-point number with kIntBits integer bits (sign included) and kFracBits
// fraction bits: value = raw / 2^kFracBits. Products are formed in 64 bits and shifted right
// arithmetically (rounding toward minus infinity).
template <unsigned kIntBits, unsigned kFracBits>
class Fixed {
    static_assert(kIntBits + kFracBits == 32, "a Fixed is one 32-bit word");

public:
    static constexpr unsigned kFractionBits = kFracBits;
    static constexpr int64_t kOne = int64_t{1} << kFracBits;

    constexpr Fixed() = default;

    static constexpr Fixed FromRaw(int32_t raw)
    {
        Fixed f;
        f.m_raw = raw;
        return f;
    }

    // value x 2^kFracBits truncated toward zero, clamped to the 32-bit range; NaN gives 0.
    static Fixed FromDouble(double value)
    {
        if (std::isnan(value))
            return FromRaw(0);
        const double scaled = std::trunc(value * static_cast<double>(kOne));
        if (scaled >= static_cast<double>(std::numeric_limits<int32_t>::max()))
            return FromRaw(std::numeric_limits<int32_t>::max());
        if (scaled <= static_cast<double>(std::numeric_limits<int32_t>::min()))
            return FromRaw(std::numeric_limits<int32_t>::min());
        return FromRaw(static_cast<int32_t>(scaled));
    }

    static constexpr Fixed FromInt(int32_t value)
    {
        return FromRaw(static_cast<int32_t>(static_cast<int64_t>(value) * kOne));
    }

    constexpr int32_t Raw() const { return m_raw; }
    double ToDouble() const { return static_cast<double>(m_raw) / static_cast<double>(kOne); }

    // The product in 64 bits, shifted back to the fixed-point scale (not narrowed).
    static constexpr int64_t MulRaw(int64_t a, int64_t b) { return (a * b) >> kFracBits; }

    constexpr Fixed operator+(Fixed other) const { return FromRaw(static_cast<int32_t>(int64_t{m_raw} + other.m_raw)); }
    constexpr Fixed operator-(Fixed other) const { return FromRaw(static_cast<int32_t>(int64_t{m_raw} - other.m_raw)); }
    constexpr Fixed operator*(Fixed other) const { return FromRaw(static_cast<int32_t>(MulRaw(m_raw, other.m_raw))); }

    constexpr bool operator==(Fixed other) const { return m_raw == other.m_raw; }
    constexpr bool operator!=(Fixed other) const { return m_raw != other.m_raw; }

private:
    int32_t m_raw = 0;
};

}  // namespace numeric
