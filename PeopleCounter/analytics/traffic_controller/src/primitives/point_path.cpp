#include "PeopleCounter/analytics/traffic_controller/src/primitives/point_path.h"

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <iterator>
#include <stdexcept>

PathPrediction Predict(const Sample* history, int count, int64_t now)
{
    if (count < 1 || count > 7 || !history)
        throw std::logic_error("Wrong history size");
    // The ages are millions of ticks: the sums are kept in double so that n Stt - St^2 does not
    // cancel away.
    double st = 0, stt = 0, sx = 0, sy = 0, sxt = 0, syt = 0;
    for (int i = 0; i < count; ++i) {
        const double t = static_cast<double>(static_cast<float>(now - history[i].time));
        const double x = history[i].point.x;
        const double y = history[i].point.y;
        st += t;
        stt += t * t;
        sx += x;
        sy += y;
        sxt += x * t;
        syt += y * t;
    }
    const double n = count;
    const double d = std::fabs(n * stt - st * st) + 1.1920928955078125e-07;
    const float vx = static_cast<float>((n * sxt - sx * st) / d);
    const float vy = static_cast<float>((n * syt - sy * st) / d);
    const double px = (sx - st * vx) / n;
    const double py = (sy - st * vy) / n;

    const double s = (1.0 - n / 7.0) * 20.0 * 0.5;
    double cxx = 9.0 + s * s;
    double cyy = cxx;
    double cxy = 0;
    for (int i = 0; i < count; ++i) {
        const double t = static_cast<double>(static_cast<float>(now - history[i].time));
        const double ex = history[i].point.x - (px + vx * t);
        const double ey = history[i].point.y - (py + vy * t);
        cxx += ex * ex;
        cyy += ey * ey;
        cxy += ex * ey;
    }
    const double det = cxx * cyy - cxy * cxy;
    return PathPrediction{static_cast<float>(px), static_cast<float>(py), static_cast<float>(cyy / det),
                          static_cast<float>(cxx / det), static_cast<float>(-cxy / det)};
}

PathPrediction Predict(const Sample* history, int count, uint32_t now)
{
    return Predict(history, count, static_cast<int64_t>(now));
}

void AVG_POINT::update(AlgoLibrary::TPoint<int> p)
{
    if (has_average) {
        const int64_t dx = static_cast<int64_t>(p.x) - average.x;
        const int64_t dy = static_cast<int64_t>(p.y) - average.y;
        const bool far = dx * dx + dy * dy >= static_cast<int64_t>(R) * R;
        if (far) {
            last_near = false;
            ++far_count;
            if (stopped) {
                if (far_count < far_resume)
                    return;
                stopped = false;
                sum = {0, 0};
                count = 0;
            } else if (far_count >= far_reset) {
                near_count = 0;
                far_count = 0;
            }
        } else {
            last_near = true;
            ++near_count;
            if (stopped) {
                if (near_count >= near_reset) {
                    near_count = 0;
                    far_count = 0;
                }
                return;
            }
            if (near_count >= near_stop) {
                stopped = true;
                return;
            }
        }
    } else if (stopped) {
        return;
    }
    sum.x += p.x;
    sum.y += p.y;
    ++count;
    if (count == N) {
        average = {sum.x / N, sum.y / N};
        sum = {0, 0};
        count = 0;
        has_average = true;
    }
}

float GetPathDiameter(const PositionList& positions, int limit)
{
    const int size = static_cast<int>(positions.size());
    const int m = std::min(size, limit);
    if (m < 2)
        return 0.f;
    auto newest = positions.end();
    std::advance(newest, -m);

    // 64-bit sums: a thousand positions near x = 150 already overflow 32 bits in Sx * Sx.
    int64_t sx = 0, sy = 0, sxx = 0, sxy = 0, syy = 0;
    for (auto it = newest; it != positions.end(); ++it) {
        sx += it->x;
        sy += it->y;
        sxx += static_cast<int64_t>(it->x) * it->x;
        sxy += static_cast<int64_t>(it->x) * it->y;
        syy += static_cast<int64_t>(it->y) * it->y;
    }
    const double f = m;
    const double cxy = sxy / f - static_cast<double>(sx) * static_cast<double>(sy) / (f * f);
    const double cxx = sxx / f - static_cast<double>(sx) * static_cast<double>(sx) / (f * f);
    const double cyy = syy / f - static_cast<double>(sy) * static_cast<double>(sy) / (f * f);
    const double l = 0.5 * (cxx + cyy + std::sqrt(4.0 * cxy * cxy + (cxx - cyy) * (cxx - cyy)));

    double ax = 1.0;
    double ay = 1.0000009537;
    if (!(l < (cxx + cyy) * 1.01 * 0.5)) {
        ax = (cxy >= 0 ? 1.0 : -1.0) * std::sqrt(std::fabs(l - cyy));
        ay = (l - cxx >= 0 ? 1.0 : -1.0) * std::sqrt(std::fabs(l - cxx));
    }

    double lowest = FLT_MAX;
    double highest = -FLT_MAX;
    AlgoLibrary::TPoint<int> low = *newest;
    AlgoLibrary::TPoint<int> high = *newest;
    for (auto it = positions.end(); it != newest;) {
        --it;
        const double projection = it->x * ax + it->y * ay;
        if (projection < lowest) {
            lowest = projection;
            low = *it;
        }
        if (projection > highest) {
            highest = projection;
            high = *it;
        }
    }
    const double dx = static_cast<double>(high.x) - low.x;
    const double dy = static_cast<double>(high.y) - low.y;
    return static_cast<float>(std::sqrt(dx * dx + dy * dy));
}
