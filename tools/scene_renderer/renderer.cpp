#include "tools/scene_renderer/renderer.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>

namespace scene {

namespace {

constexpr double kNoHit = std::numeric_limits<double>::infinity();
constexpr double kPi = 3.14159265358979323846;

std::uint32_t Hash(std::int32_t x, std::int32_t y, std::uint32_t seed)
{
    std::uint32_t h =
        static_cast<std::uint32_t>(x) * 0x8da6b343u ^ static_cast<std::uint32_t>(y) * 0xd8163841u ^ seed * 0xcb1ab31fu;
    h ^= h >> 13;
    h *= 0x5bd1e995u;
    h ^= h >> 15;
    return h;
}

// A number in [low, high) drawn from a seed and a slot.
double Draw(std::uint32_t seed, int slot, double low, double high)
{
    return low + (high - low) * (Hash(slot, 17, seed) & 0xffffu) / 65536.0;
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

// Nearest t > 0 where origin + t·dir enters the ellipsoid of centre c and semi-axes s, or kNoHit.
double HitEllipsoid(const double o[3], const double d[3], const double c[3], const double s[3])
{
    double oo[3], dd[3];
    for (int i = 0; i < 3; ++i) {
        oo[i] = (o[i] - c[i]) / s[i];
        dd[i] = d[i] / s[i];
    }
    const double a = dd[0] * dd[0] + dd[1] * dd[1] + dd[2] * dd[2];
    const double b = 2.0 * (oo[0] * dd[0] + oo[1] * dd[1] + oo[2] * dd[2]);
    const double cc = oo[0] * oo[0] + oo[1] * oo[1] + oo[2] * oo[2] - 1.0;
    const double disc = b * b - 4.0 * a * cc;
    if (disc < 0.0)
        return kNoHit;
    const double t = (-b - std::sqrt(disc)) / (2.0 * a);
    return t > 0.0 ? t : kNoHit;
}

// Nearest t > 0 where origin + t·dir enters the upright elliptic cylinder of centre (cu, cv) and
// semi-axes (su, sv), when that point's z lies in [z0, z1]; else kNoHit.
double HitCylinder(const double o[3], const double d[3], double cu, double cv, double su, double sv, double z0,
                   double z1)
{
    const double ou = (o[0] - cu) / su, ov = (o[1] - cv) / sv, du = d[0] / su, dv = d[1] / sv;
    const double a = du * du + dv * dv;
    if (a <= 0.0)
        return kNoHit;
    const double b = 2.0 * (ou * du + ov * dv);
    const double c = ou * ou + ov * ov - 1.0;
    const double disc = b * b - 4.0 * a * c;
    if (disc < 0.0)
        return kNoHit;
    const double t = (-b - std::sqrt(disc)) / (2.0 * a);
    const double z = o[2] + t * d[2];
    return t > 0.0 && z >= z0 && z <= z1 ? t : kNoHit;
}

// Distance from the origin to the segment p..q in the plane.
double DistanceToSegment(double px, double py, double qx, double qy)
{
    const double ex = qx - px, ey = qy - py;
    const double length2 = ex * ex + ey * ey;
    const double s = length2 > 0.0 ? std::clamp(-(px * ex + py * ey) / length2, 0.0, 1.0) : 0.0;
    return std::hypot(px + s * ex, py + s * ey);
}

}  // namespace

Body::Body(double h, const Build& build)
    : height(h),
      head_u(0.044 * h),
      head_v(0.055 * h),
      head_z(0.065 * h),
      head_centre(h - 0.065 * h),
      neck_radius(0.032 * h),
      torso_u(0.0),
      torso_v(12.0),
      shoulder_top(0.83 * h),
      shoulder_drop(0.06 * h * build.slope),
      arm_radius(0.024 * h),
      arm_u(0.0),
      arm_top(0.80 * h),
      arm_bottom(0.45 * h),
      half_width(0.13 * h * build.shoulders),
      lean(std::tan(build.lean * kPi / 180.0)),
      hood_grow(build.hood ? 3.0 : 0.0),
      bag(build.bag),
      reach(0.0)
{
    arm_u = half_width - arm_radius;
    torso_u = arm_u - 0.8 * arm_radius;
    // Hair grows the head around its sides and back, and by half as much on top.
    head_u += build.hair;
    head_v += build.hair;
    head_z += 0.5 * build.hair;
    if (build.hood)
        neck_radius = head_u + 1.0;  // the hood's cloth falls from the head onto the shoulders
    // The farthest any part reaches from the body's axis (the head is longer than wide).
    reach = std::max({half_width, head_v + 1.5 * hood_grow, neck_radius, torso_v});
    if (bag == 1)
        reach = std::max(reach, std::hypot(0.1 * h, torso_v + 15.0));
    if (bag == 2)
        reach = std::max(reach, std::hypot(half_width + 12.0, 14.0));
    reach += std::abs(lean) * h + 1.0;
}

// A person as one frame sees them, with what the renderer needs to draw them.
struct Renderer::Standing {
    Standing(double h, const Build& build) : body(h, build) {}

    double x = 0.0, y = 0.0;          // floor position
    double cos_h = 1.0, sin_h = 0.0;  // walking direction
    Body body;
    double reach = 0.0;  // horizontal radius that holds the whole body
    int index = 0;       // into the scene's people
    std::uint32_t seed = 0;
    double hair_base = 0.0, hair_span = 0.0, skin_base = 0.0, cloth_base = 0.0, cloth_span = 0.0, bag_base = 0.0;
    double stripe_period = 1.0;
    int pattern = 0;  // 0 plain fabric, 1 stripes across the walking direction, 2 checks
};

Renderer::Renderer(const Scene& scene) : m_scene(scene) {}

std::vector<Renderer::Standing> Renderer::StandingAt(int frame) const
{
    std::vector<Standing> people;
    const std::uint32_t scene_seed = m_scene.seed * 7919u;
    for (size_t i = 0; i < m_scene.people.size(); ++i) {
        const Person& person = m_scene.people[i];
        double x = 0.0, y = 0.0;
        if (!person.PositionAt(frame, x, y))
            continue;
        const double heading = std::atan2(person.y1 - person.y0, person.x1 - person.x0);
        Standing s(person.height, person.build);
        s.x = x;
        s.y = y;
        s.cos_h = std::cos(heading);
        s.sin_h = std::sin(heading);
        s.reach = s.body.reach;
        s.index = static_cast<int>(i);
        s.seed = scene_seed + 101u * static_cast<std::uint32_t>(i + 1);
        const std::uint32_t seed = s.seed;
        // Clothes from dark to light, hair from black to fair; the single-camera scenes ask for
        // dark people, who stand out from the lighter floor.
        if (person.dark) {
            s.hair_base = Draw(seed, 1, 15.0, 30.0);
            s.cloth_base = Draw(seed, 2, 18.0, 35.0);
            s.cloth_span = Draw(seed, 3, 45.0, 60.0);
            s.skin_base = Draw(seed, 4, 70.0, 95.0);
        } else {
            s.hair_base = Draw(seed, 1, 20.0, 120.0);
            s.cloth_base = Draw(seed, 2, 25.0, 160.0);
            s.cloth_span = std::min(Draw(seed, 3, 55.0, 95.0), 240.0 - s.cloth_base);
            s.skin_base = Draw(seed, 4, 120.0, 170.0);
        }
        s.hair_span = Draw(seed, 5, 40.0, 70.0);
        s.pattern = static_cast<int>(Draw(seed, 6, 0.0, 3.0));
        s.stripe_period = Draw(seed, 7, 3.0, 8.0);
        s.bag_base = Draw(seed, 8, 30.0, 180.0);
        people.push_back(s);
    }
    return people;
}

Renderer::Hit Renderer::Cast(double from_x, double from_y, double dir_x, double dir_y,
                             const std::vector<Standing>& people, double local[3]) const
{
    const double mount = m_scene.rig.mount_height;
    // A point at depth t below the camera: (from_x + dir_x·t, from_y + dir_y·t, mount − t).
    Hit best{mount, kFloor, -1};
    for (const Standing& person : people) {
        const Body& b = person.body;
        const double top_t = mount - b.height;
        if (top_t >= best.t)
            continue;
        const double wx = from_x - person.x, wy = from_y - person.y;
        if (DistanceToSegment(wx + dir_x * top_t, wy + dir_y * top_t, wx + dir_x * mount, wy + dir_y * mount) >
            person.reach)
            continue;
        // The person's own frame: v along the walking direction, u across it, leaning forward by
        // shearing v with the height.
        const double o[3] = {-wx * person.sin_h + wy * person.cos_h,
                             wx * person.cos_h + wy * person.sin_h - b.lean * mount, mount};
        const double d[3] = {-dir_x * person.sin_h + dir_y * person.cos_h,
                             dir_x * person.cos_h + dir_y * person.sin_h + b.lean, -1.0};
        auto consider = [&](double t, int part) {
            if (t < best.t) {
                best = {t, part, person.index};
                for (int i = 0; i < 3; ++i) local[i] = o[i] + t * d[i];
            }
        };
        const double head_c[3] = {0.0, 0.0, b.head_centre}, head_s[3] = {b.head_u, b.head_v, b.head_z};
        if (b.hood_grow > 0.0) {
            const double hood_c[3] = {0.0, -0.5 * b.hood_grow, b.head_centre};
            const double hood_s[3] = {b.head_u + b.hood_grow, b.head_v + b.hood_grow, b.head_z + 0.8 * b.hood_grow};
            consider(HitEllipsoid(o, d, hood_c, hood_s), kHood);
        } else {
            consider(HitEllipsoid(o, d, head_c, head_s), kHead);
        }
        const double cap_base = b.shoulder_top - b.shoulder_drop;
        consider(HitCylinder(o, d, 0.0, 0.0, b.neck_radius, b.neck_radius, cap_base, b.head_centre), kNeck);
        const double cap_c[3] = {0.0, 0.0, cap_base}, cap_s[3] = {b.torso_u, b.torso_v, b.shoulder_drop};
        const double cap_t = HitEllipsoid(o, d, cap_c, cap_s);
        if (cap_t < kNoHit && mount - cap_t >= cap_base)
            consider(cap_t, kShoulders);
        consider(HitCylinder(o, d, 0.0, 0.0, b.torso_u, b.torso_v, 0.0, cap_base), kTrunk);
        for (const double side : {-1.0, 1.0}) {
            const double joint[3] = {side * b.arm_u, 0.0, b.arm_top - b.arm_radius};
            const double ball[3] = {b.arm_radius, b.arm_radius, b.arm_radius};
            consider(HitEllipsoid(o, d, joint, ball), kArm);
            consider(HitCylinder(o, d, side * b.arm_u, 0.0, b.arm_radius, b.arm_radius, b.arm_bottom, joint[2]), kArm);
        }
        if (b.bag == 1) {  // a backpack behind the shoulders
            const double c[3] = {0.0, -(b.torso_v + 7.0), 0.66 * b.height},
                         r[3] = {0.1 * b.height, 8.0, 0.12 * b.height};
            consider(HitEllipsoid(o, d, c, r), kBag);
        } else if (b.bag == 2) {  // a bag at the right hip
            const double c[3] = {b.half_width + 6.0, 0.0, 0.5 * b.height}, r[3] = {6.0, 14.0, 12.0};
            consider(HitEllipsoid(o, d, c, r), kBag);
        }
    }
    if (best.part == kFloor) {
        local[0] = from_x + dir_x * best.t;
        local[1] = from_y + dir_y * best.t;
        local[2] = 0.0;
    }
    return best;
}

double Renderer::Trace(double camera_x, double dir_x, double dir_y, const std::vector<Standing>& people) const
{
    double p[3];
    const Hit hit = Cast(camera_x, 0.0, dir_x, dir_y, people, p);
    if (hit.part == kFloor)
        return 85.0 + 130.0 * Texture(p[0], p[1], m_scene.seed * 7919u);
    const Standing* person = nullptr;
    for (const Standing& s : people)
        if (s.index == hit.person)
            person = &s;
    const Body& b = person->body;
    const std::uint32_t seed = person->seed;
    // Clothes: a fabric's noise, with stripes or checks for some people.
    auto cloth = [&](double x, double y) {
        const double noise = Texture(x, y, seed);
        double pattern = noise;
        if (person->pattern == 1)
            pattern = 0.55 * (0.5 + 0.5 * std::sin(2.0 * kPi * y / person->stripe_period)) + 0.45 * noise;
        else if (person->pattern == 2)
            pattern = 0.5 * ((std::sin(2.0 * kPi * x / person->stripe_period) > 0.0) !=
                             (std::sin(2.0 * kPi * y / person->stripe_period) > 0.0)) +
                      0.5 * noise;
        return person->cloth_base + person->cloth_span * pattern;
    };
    // Lit from above: surfaces turning away from the camera are darker.
    switch (hit.part) {
        case kHead: {
            const double nz = std::clamp((p[2] - b.head_centre) / b.head_z, 0.0, 1.0);
            return (0.65 + 0.35 * nz) * (person->hair_base + person->hair_span * Texture(p[0], p[1], seed + 3));
        }
        case kNeck:
            return 0.8 * (person->skin_base + 30.0 * Texture(std::atan2(p[1], p[0]) * b.neck_radius, p[2], seed + 4));
        case kShoulders: {
            const double cap_base = b.shoulder_top - b.shoulder_drop;
            const double nu = p[0] / (b.torso_u * b.torso_u), nv = p[1] / (b.torso_v * b.torso_v);
            const double nzz = (p[2] - cap_base) / (b.shoulder_drop * b.shoulder_drop);
            const double nz = nzz / std::sqrt(nu * nu + nv * nv + nzz * nzz + 1e-12);
            return (0.7 + 0.3 * nz) * cloth(p[0], p[1]);
        }
        case kTrunk:
            return 0.7 * cloth(std::atan2(p[1], p[0]) * b.torso_u, p[2]);
        case kHood: {
            const double nz = std::clamp((p[2] - b.head_centre) / (b.head_z + 0.8 * b.hood_grow), 0.0, 1.0);
            return (0.65 + 0.35 * nz) * cloth(p[0] + 20.0, p[1]);
        }
        case kBag:
            return person->bag_base * (0.8 + 0.4 * Texture(p[0], p[1] + p[2], seed + 5));
        default: {
            const double joint = b.arm_top - b.arm_radius;
            const double nz = std::clamp((p[2] - joint) / b.arm_radius, 0.0, 1.0);
            return (0.7 + 0.3 * nz) * 0.9 * cloth(p[1] + 40.0, p[2]);
        }
    }
}

Renderer::Hit Renderer::RayAt(int frame, double x, double y, double dir_x, double dir_y) const
{
    double local[3];
    return Cast(x, y, dir_x, dir_y, StandingAt(frame), local);
}

double Renderer::Pixel(int view, int col, int row, const std::vector<Standing>& people) const
{
    const double camera_x = view == 0 ? 0.0 : m_scene.rig.baseline;
    double sum = 0.0;
    for (int sy = 0; sy < 2; ++sy)
        for (int sx = 0; sx < 2; ++sx) {
            double dir_x = 0.0, dir_y = 0.0;
            if (RayOfPixel(m_scene.rig, col - 0.25 + 0.5 * sx, row - 0.25 + 0.5 * sy, dir_x, dir_y))
                sum += Trace(camera_x, dir_x, dir_y, people);
        }
    return sum / 4.0;
}

const cv::Mat& Renderer::Floor(int view) const
{
    std::call_once(m_floor_drawn[view], [&] {
        const Rig& rig = m_scene.rig;
        const std::vector<Standing> nobody;
        m_floor[view].create(rig.height, rig.width, CV_8UC1);
        for (int row = 0; row < rig.height; ++row)
            for (int col = 0; col < rig.width; ++col)
                m_floor[view].at<unsigned char>(row, col) =
                    cv::saturate_cast<unsigned char>(Pixel(view, col, row, nobody));
    });
    return m_floor[view];
}

cv::Mat Renderer::RenderView(int frame, int view) const
{
    const Rig& rig = m_scene.rig;
    const std::vector<Standing> people = StandingAt(frame);
    cv::Mat out = Floor(view).clone();
    // Only the pixels whose rays can meet a person are cast again: those inside the picture of
    // the upright box around each person, one pixel wider for the samples.
    cv::Mat_<unsigned char> cast(rig.height, rig.width, static_cast<unsigned char>(0));
    for (const Standing& person : people) {
        double left = 1e9, right = -1e9, top = 1e9, bottom = -1e9;
        bool whole = false;
        for (const double z : {0.0, std::min(person.body.height + person.body.head_z, rig.mount_height - 1.0)})
            for (const double dx : {-person.reach, person.reach})
                for (const double dy : {-person.reach, person.reach}) {
                    double col = 0.0, row = 0.0;
                    whole |= !ProjectToView(rig, view, person.x + dx, person.y + dy, z, col, row);
                    left = std::min(left, col);
                    right = std::max(right, col);
                    top = std::min(top, row);
                    bottom = std::max(bottom, row);
                }
        cv::Rect box(0, 0, rig.width, rig.height);
        if (!whole) {
            const double x0 = std::floor(std::max(left, -2.0)) - 1.0,
                         x1 = std::ceil(std::min(right, rig.width + 2.0)) + 1.0;
            const double y0 = std::floor(std::max(top, -2.0)) - 1.0,
                         y1 = std::ceil(std::min(bottom, rig.height + 2.0)) + 1.0;
            if (x1 < x0 || y1 < y0)
                continue;  // beside the picture
            box &= cv::Rect(static_cast<int>(x0), static_cast<int>(y0), static_cast<int>(x1 - x0) + 1,
                            static_cast<int>(y1 - y0) + 1);
        }
        if (!box.empty())
            cast(box).setTo(1);
    }
    for (int row = 0; row < rig.height; ++row) {
        auto* dst = out.ptr<unsigned char>(row);
        const auto* todo = cast.ptr<unsigned char>(row);
        for (int col = 0; col < rig.width; ++col)
            if (todo[col])
                dst[col] = cv::saturate_cast<unsigned char>(Pixel(view, col, row, people));
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
