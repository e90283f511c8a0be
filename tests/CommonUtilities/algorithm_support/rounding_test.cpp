#include "CommonUtilities/algorithm_support/rounding.h"

#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <limits>

namespace {

// Halves go away from zero, the double just below one half (0.49999999999999994, where adding 0.5
// and truncating gives 1) and just above one half go to their nearest integer, and the destination
// type's range bounds the result.
TEST(RoundHalfAwayFromZeroTest, NearestIntegerExactAtEveryDoubleAndBoundedByItsType)
{
    const double below_half = std::nextafter(0.5, 0.0);
    ASSERT_EQ(below_half, 0.49999999999999994);
    const struct {
        double value;
        long long as_int, as_short, as_byte;
    } cases[] = {
        {0.0, 0, 0, 0},
        {below_half, 0, 0, 0},
        {-below_half, 0, 0, 0},
        {0.5, 1, 1, 1},
        {-0.5, -1, -1, 0},
        {std::nextafter(0.5, 1.0), 1, 1, 1},
        {2.5, 3, 3, 3},
        {-2.5, -3, -3, 0},
        {std::nextafter(2.5, 0.0), 2, 2, 2},
        {4503599627370497.0, INT_MAX, SHRT_MAX, 255},  // odd, above 2^52: adding 0.5 rounds it up
        {254.5, 255, 255, 255},
        {32766.5, 32767, SHRT_MAX, 255},
        {-32768.6, -32769, SHRT_MIN, 0},
        {1e12, INT_MAX, SHRT_MAX, 255},
        {-1e12, INT_MIN, SHRT_MIN, 0},
        {std::numeric_limits<double>::infinity(), INT_MAX, SHRT_MAX, 255},
        {std::numeric_limits<double>::quiet_NaN(), 0, 0, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << std::hexfloat << c.value);
        EXPECT_EQ(AlgoLibrary::RoundHalfAwayFromZero(c.value), c.as_int);
        EXPECT_EQ(AlgoLibrary::RoundHalfAwayFromZero<short>(c.value), c.as_short);
        EXPECT_EQ(AlgoLibrary::RoundHalfAwayFromZero<unsigned char>(c.value), c.as_byte);
    }
    EXPECT_EQ(AlgoLibrary::RoundHalfAwayFromZero<long long>(4503599627370497.0), 4503599627370497LL);
    EXPECT_EQ(AlgoLibrary::RoundHalfAwayFromZero(std::numeric_limits<double>::quiet_NaN(), INT_MIN), INT_MIN);
}

}  // namespace
