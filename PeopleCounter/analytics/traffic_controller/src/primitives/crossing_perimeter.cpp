#include "PeopleCounter/analytics/traffic_controller/src/primitives/crossing_perimeter.h"

#include <cmath>
#include <cstdint>

namespace {

int Sign(int64_t value)
{
    return (value > 0) - (value < 0);
}

}  // namespace

int CCrossingPerimeterDetector::CheckCrossingPerimeter(kiv::SPOINT a, kiv::SPOINT b,
                                                       const std::vector<kiv::SPOINT>& polyline, bool non_negative)
{
    if (a == b || polyline.size() < 2)
        return 0;
    // Products in 64 bits, so that far-off coordinates keep their signs.
    const auto step_side = [&](const kiv::SPOINT& r) {
        return Sign(int64_t{r.x} * (b.y - a.y) + int64_t{r.y} * (a.x - b.x) +
                    (int64_t{a.y} * b.x - int64_t{b.y} * a.x));
    };
    int sum = 0;
    for (std::size_t i = 0; i + 1 < polyline.size(); ++i) {
        const kiv::SPOINT& p = polyline[i];
        const kiv::SPOINT& q = polyline[i + 1];
        const int side_q = step_side(q);
        if (side_q == 0 || side_q == step_side(p))
            continue;
        const auto segment_side = [&](const kiv::SPOINT& r) {
            return Sign((int64_t{q.x} - p.x) * r.y + (int64_t{p.y} - q.y) * r.x +
                        (int64_t{p.x} * q.y - int64_t{p.y} * q.x));
        };
        sum += segment_side(a) - segment_side(b);
    }
    return (non_negative && sum < 0) ? 0 : sum;
}

float GetDistance(int x1, int y1, int x2, int y2)
{
    const int64_t dx = int64_t{x2} - x1;
    const int64_t dy = int64_t{y2} - y1;
    return std::sqrt(static_cast<float>(dx * dx + dy * dy));
}

float GetDistance(const kiv::SPOINT& a, const kiv::SPOINT& b)
{
    return GetDistance(a.x, a.y, b.x, b.y);
}
