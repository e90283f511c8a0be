#include "CommonUtilities/algorithm_support/rounding.h"

#include <gtest/gtest.h>

#include <climits>
#include <limits>

namespace {

TEST(RoundHalfAwayFromZeroTest, HalvesGoAwayFromZeroAndTheIntRangeBounds)
{
    const struct {
        double value;
        int expected;
    } cases[] = {
        {0.0, 0},
        {0.49999999, 0},
        {0.5, 1},
        {-0.5, -1},
        {2.5, 3},
        {-2.5, -3},
        {-2.4999, -2},
        {static_cast<double>(0.49999997f), 0},  // a float just below one half
        {1e12, INT_MAX},
        {-1e12, INT_MIN},
        {std::numeric_limits<double>::infinity(), INT_MAX},
        {std::numeric_limits<double>::quiet_NaN(), 0},
    };
    for (const auto& c : cases) EXPECT_EQ(AlgoLibrary::RoundHalfAwayFromZero(c.value), c.expected) << c.value;
}

}  // namespace
