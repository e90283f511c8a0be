#pragma once

#include <climits>

namespace AlgoLibrary {

// The nearest integer with halves away from zero: value + 0.5 when value > 0, otherwise
// value - 0.5, truncated toward zero, in double precision (a float argument converts exactly).
// Values beyond the int range give its ends; NaN gives 0.
inline int RoundHalfAwayFromZero(double value)
{
    if (value != value)
        return 0;
    if (value >= static_cast<double>(INT_MAX))
        return INT_MAX;
    if (value <= static_cast<double>(INT_MIN))
        return INT_MIN;
    return static_cast<int>(value > 0 ? value + 0.5 : value - 0.5);
}

}  // namespace AlgoLibrary
