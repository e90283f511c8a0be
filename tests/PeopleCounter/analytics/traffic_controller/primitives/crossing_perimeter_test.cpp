#include "PeopleCounter/analytics/traffic_controller/src/primitives/crossing_perimeter.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

TEST(CCrossingPerimeterDetectorTest, SignedCountsOfSteps)
{
    const std::vector<kiv::SPOINT> line = {{-5, 0}, {5, 0}};
    const struct {
        kiv::SPOINT a, b;
        bool non_negative;
        int expected;
    } cases[] = {
        {{0, -1}, {0, 1}, false, -2}, {{0, 1}, {0, -1}, false, 2}, {{0, -1}, {0, 1}, true, 0},
        {{0, -1}, {0, 0}, false, -1}, {{0, 0}, {0, 1}, false, -1}, {{-3, 1}, {3, 1}, false, 0},
        {{2, 2}, {2, 2}, false, 0},   {{9, -1}, {9, 1}, false, 0},  // beside the segment's end
    };
    for (const auto& c : cases)
        EXPECT_EQ(CCrossingPerimeterDetector::CheckCrossingPerimeter(c.a, c.b, line, c.non_negative), c.expected)
            << "(" << c.a.x << ", " << c.a.y << ") -> (" << c.b.x << ", " << c.b.y << ")";
    // The counts of every segment add up: in across one arm of a corner and out across the other
    // is no crossing; a step through the corner point counts once. Fewer than two points count
    // nothing.
    const std::vector<kiv::SPOINT> corner = {{-5, 0}, {0, 0}, {0, 5}};
    EXPECT_EQ(CCrossingPerimeterDetector::CheckCrossingPerimeter({-3, -1}, {-3, 1}, corner, false), -2);
    EXPECT_EQ(CCrossingPerimeterDetector::CheckCrossingPerimeter({-1, -1}, {1, 3}, corner, false), 0);
    EXPECT_EQ(CCrossingPerimeterDetector::CheckCrossingPerimeter({-2, -2}, {2, 2}, corner, false), 2);
    EXPECT_EQ(CCrossingPerimeterDetector::CheckCrossingPerimeter({0, -1}, {0, 1}, {{0, 0}}, false), 0);
    EXPECT_FLOAT_EQ(GetDistance(kiv::SPOINT{0, 0}, kiv::SPOINT{3, 4}), 5.f);
    EXPECT_FLOAT_EQ(GetDistance(1, 1, -2, -3), 5.f);
}

}  // namespace
