#pragma once

#include <vector>

#include "PeopleCounter/analytics/traffic_controller/src/primitives/kiv_types.h"

// Whether a step of a tracked point crossed a polyline, and in which direction.
class CCrossingPerimeterDetector {
public:
    // The signed count of the step a -> b across the open polyline: +2 or -2 for each proper
    // crossing (+2 when a lies on the positive side of a segment P -> Q), +-1 when the step starts
    // or ends on a segment. With non_negative set, a negative sum becomes 0.
    static int CheckCrossingPerimeter(kiv::SPOINT a, kiv::SPOINT b, const std::vector<kiv::SPOINT>& polyline,
                                      bool non_negative);
};

// Euclidean distance of two integer points.
float GetDistance(const kiv::SPOINT& a, const kiv::SPOINT& b);
float GetDistance(int x1, int y1, int x2, int y2);
