#pragma once

#include <limits>
#include <type_traits>

namespace AlgoLibrary {

// The nearest integer of type T, halves away from zero, exact for every double: 0.49999999999999994
// (the largest double below one half) gives 0, where adding 0.5 and truncating gives 1. Values
// beyond T's range give its ends; NaN gives `if_nan`.
template <typename T = int>
T RoundHalfAwayFromZero(double value, T if_nan = T(0))
{
    static_assert(std::is_integral<T>::value, "an integer type");
    if (value != value)
        return if_nan;
    if (value >= static_cast<double>(std::numeric_limits<T>::max()))
        return std::numeric_limits<T>::max();
    if (value <= static_cast<double>(std::numeric_limits<T>::lowest()))
        return std::numeric_limits<T>::lowest();
    // Inside T's range the truncated value and the fraction left over are both exact.
    const T whole = static_cast<T>(value);
    const double fraction = value - static_cast<double>(whole);
    if (fraction >= 0.5)
        return static_cast<T>(whole + 1);
    if (fraction <= -0.5)
        return static_cast<T>(whole - 1);
    return whole;
}

}  // namespace AlgoLibrary
