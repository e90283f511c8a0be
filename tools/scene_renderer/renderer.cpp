#include "tools/scene_renderer/renderer.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>

namespace scene {

namespace {

constexpr double kBodyRadius = 20.0;
constexpr double kHeadRadius = 11.0;
constexpr double kShoulderDrop = 28.0;  // from the top of the head down to the shoulders
constexpr double kNoHit = std::numeric_limits<double>::infinity();

enum Part { kFloor, kBodyTop, kBodySide, kHead };

std::uint32_t Hash(std::int32_t x, std::int32_t y, std::uint32_t seed)
{
    std::uint32_t h =
        static_cast<std::uint32_t>(x) * 0x8da6b343u ^ static_cast<std::uint32_t>(y) * 0xd8163841u ^ seed * 0xcb1ab31fu;
    h ^= h >> 13;
    h *= 0x5bd1e995u;
    h ^= h >> 15;
    return h;
}

// Smooth value noise in [0, 1) with features of about `scale` units.
double ValueNoise(double x, double y, double scale, std::uint32_t seed)
{
    x /= scale;
    y /= scale;
    const double fx = std::floor(x), fy = std::floor(y);
    const auto ix = static_cast<std::int32_t>(fx), iy = static_cast<std::int32_t>(fy);
    double tx = x - fx, ty = y - fy;
    tx = tx * tx * (3.0 - 2.0 * tx);
    ty = ty * ty * (3.0 - 2.0 * ty);
    auto corner = [&](int dx, int dy) { return (Hash(ix + dx, iy + dy, seed) & 0xffffu) / 65536.0; };
    const double top = corner(0, 0) + (corner(1, 0) - corner(0, 0)) * tx;
    const double bottom = corner(0, 1) + (corner(1, 1) - corner(0, 1)) * tx;
    return top + (bottom - top) * ty;
}

double Texture(double x, double y, std::uint32_t seed)
{
    return 0.45 * ValueNoise(x, y, 2.0, seed) + 0.35 * ValueNoise(x, y, 5.0, seed + 1) +
           0.20 * ValueNoise(x, y, 14.0, seed + 2);
}

// Nearest t > 0 where the ray origin + t·dir meets the sphere, or kNoHit.
double HitSphere(double ox, double oy, double oz, double dx, double dy, double dz, double radius)
{
    const double a = dx * dx + dy * dy + dz * dz;
    const double b = 2.0 * (ox * dx + oy * dy + oz * dz);
    const double c = ox * ox + oy * oy + oz * oz - radius * radius;
    const double disc = b * b - 4.0 * a * c;
    if (disc < 0.0)
        return kNoHit;
    const double t = (-b - std::sqrt(disc)) / (2.0 * a);
    return t > 0.0 ? t : kNoHit;
}

}  // namespace

Renderer::Renderer(const Scene& scene) : m_scene(scene) {}

double Renderer::Shade(double px, double py, double pz, const Standing* hit, int part) const
{
    const std::uint32_t seed = m_scene.seed * 7919u;
    if (part == kFloor)
        return 85.0 + 130.0 * Texture(px, py, seed);
    const auto person_seed = seed + 101u * static_cast<std::uint32_t>(hit->index + 1);
    const double lx = px - hit->x, ly = py - hit->y;
    const double base = hit->dark ? 25.0 : 55.0;
    const double span = hit->dark ? 60.0 : 95.0;
    switch (part) {
        case kBodyTop:
            return base + span * Texture(lx, ly, person_seed);
        case kBodySide:
            return base + span * Texture(std::atan2(ly, lx) * kBodyRadius, pz, person_seed);
        default: {
            // Hair, lit from above: darker where the head turns away.
            const double nz = std::clamp((pz - (hit->height - kHeadRadius)) / kHeadRadius, 0.0, 1.0);
            return (0.65 + 0.35 * nz) * (base * 0.6 + span * 0.8 * Texture(lx, ly, person_seed + 3));
        }
    }
}

double Renderer::Trace(double camera_x, double dir_x, double dir_y, const std::vector<Standing>& people) const
{
    const double mount = m_scene.rig.mount_height;
    // A point at depth t below the camera: (camera_x + dir_x·t, dir_y·t, mount − t).
    double best_t = mount;
    int best_part = kFloor;
    const Standing* best = nullptr;
    for (const Standing& person : people) {
        const double ox = camera_x - person.x, oy = -person.y;
        // Head.
        const double head_t = HitSphere(ox, oy, mount - (person.height - kHeadRadius), dir_x, dir_y, -1.0, kHeadRadius);
        if (head_t < best_t) {
            best_t = head_t;
            best_part = kHead;
            best = &person;
        }
        // Body: the shoulders' disc, then the side of the cylinder below it.
        const double shoulders = person.height - kShoulderDrop;
        const double top_t = mount - shoulders;
        if (top_t < best_t) {
            const double x = ox + dir_x * top_t, y = oy + dir_y * top_t;
            if (x * x + y * y <= kBodyRadius * kBodyRadius) {
                best_t = top_t;
                best_part = kBodyTop;
                best = &person;
                continue;
            }
            const double a = dir_x * dir_x + dir_y * dir_y;
            const double b = 2.0 * (ox * dir_x + oy * dir_y);
            const double c = ox * ox + oy * oy - kBodyRadius * kBodyRadius;
            const double disc = b * b - 4.0 * a * c;
            if (a > 0.0 && disc >= 0.0) {
                const double side_t = (-b - std::sqrt(disc)) / (2.0 * a);
                if (side_t >= top_t && side_t < best_t) {
                    best_t = side_t;
                    best_part = kBodySide;
                    best = &person;
                }
            }
        }
    }
    return Shade(camera_x + dir_x * best_t, dir_y * best_t, mount - best_t, best, best_part);
}

cv::Mat Renderer::RenderView(int frame, int view) const
{
    const Rig& rig = m_scene.rig;
    std::vector<Standing> people;
    for (size_t i = 0; i < m_scene.people.size(); ++i) {
        double x = 0.0, y = 0.0;
        if (m_scene.people[i].PositionAt(frame, x, y))
            people.push_back({x, y, m_scene.people[i].height, static_cast<int>(i), m_scene.people[i].dark});
    }
    const double camera_x = view == 0 ? 0.0 : rig.baseline;
    const double cx = (rig.width - 1) / 2.0, cy = (rig.height - 1) / 2.0;
    cv::Mat out(rig.height, rig.width, CV_8UC1);
    for (int row = 0; row < rig.height; ++row) {
        auto* dst = out.ptr<unsigned char>(row);
        for (int col = 0; col < rig.width; ++col) {
            double sum = 0.0;
            for (int sy = 0; sy < 2; ++sy)
                for (int sx = 0; sx < 2; ++sx) {
                    const double u = col - 0.25 + 0.5 * sx, v = row - 0.25 + 0.5 * sy;
                    sum += Trace(camera_x, (u - cx) / rig.focal, (v - cy) / rig.focal, people);
                }
            dst[col] = cv::saturate_cast<unsigned char>(sum / 4.0);
        }
    }
    return out;
}

cv::Mat Renderer::RenderFrame(int frame) const
{
    const Rig& rig = m_scene.rig;
    if (!rig.stereo)
        return RenderView(frame, 0);
    cv::Mat out(rig.height, 2 * rig.width, CV_8UC1);
    RenderView(frame, 0).copyTo(out(cv::Rect(0, 0, rig.width, rig.height)));
    RenderView(frame, 1).copyTo(out(cv::Rect(rig.width, 0, rig.width, rig.height)));
    return out;
}

}  // namespace scene
