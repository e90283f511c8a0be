#include "PeopleCounter/analytics/traffic_controller/src/primitives/optic_flow/optic_flow_lk_fixed.h"

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <cstring>
#include <opencv2/core.hpp>
#include <opencv2/core/hal/intrin.hpp>
#include <opencv2/imgproc.hpp>

#include "CommonUtilities/algorithm_support/kernel_path.h"

// The per-level workers: follow the points of a range at one level. Both run one loop, over float
// samples or over Q14 samples.
struct LKTrackerLevelArgs {
    cv::Mat imgI;  // the level of the first image (a header over the pyramid)
    cv::Mat imgJ;  // the level of the second image
    const cv::Point2f* featuresA;
    cv::Point2f* featuresB;
    char* status;
    float* error;
    cv::TermCriteria criteria;  // epsilon squared
    cv::Size winSize;
    int level;
    int flags;
};

class LKTrackerInvokerFloat {
public:
    explicit LKTrackerInvokerFloat(const LKTrackerLevelArgs& args) : m_args(args) {}
    void operator()(const cv::Range& range) const;

private:
    LKTrackerLevelArgs m_args;
};

namespace cv {

class LKTrackerInvoker_N {
public:
    explicit LKTrackerInvoker_N(const LKTrackerLevelArgs& args) : m_args(args) {}
    void operator()(const cv::Range& range) const;

private:
    LKTrackerLevelArgs m_args;
};

}  // namespace cv

namespace {

constexpr int kMaxIterations = 100;
constexpr int kQ14 = 16384;
constexpr float kQ14Inverse = 6.103515625e-05f;

// floor() for coordinates: NaN and values far outside any image go to a far-away integer, so
// that the point is lost by the window checks instead of overflowing an int.
int SafeFloor(float value)
{
    constexpr float kLimit = 1 << 28;
    if (!(value > -kLimit))
        return -(1 << 28);
    if (value >= kLimit)
        return 1 << 28;
    return static_cast<int>(std::floor(value));
}

int Align8(int value)
{
    return (value + 7) & ~7;
}

// The part of the (2 x half + 1) window around pt that lies inside the image, as patch indices
// [min, max).
void Intersect(cv::Point2f pt, cv::Size half, cv::Size image, cv::Point& min_pt, cv::Point& max_pt)
{
    const int pw = 2 * half.width + 1;
    const int ph = 2 * half.height + 1;
    const int px = SafeFloor(pt.x) - half.width;
    const int py = SafeFloor(pt.y) - half.height;
    min_pt.x = std::max(0, -px);
    min_pt.y = std::max(0, -py);
    max_pt.x = pw - std::max(0, px + pw - image.width);
    max_pt.y = ph - std::max(0, py + ph - image.height);
}

// The top-left sample of a patch centred on `center`, its integer part and fractions.
struct SubPixOrigin {
    int x, y;
    float a, b;
};

SubPixOrigin MakeOrigin(cv::Size win_size, cv::Point2f center)
{
    const float cx = center.x - (win_size.width - 1) * 0.5f;
    const float cy = center.y - (win_size.height - 1) * 0.5f;
    SubPixOrigin o;
    o.x = SafeFloor(cx);
    o.y = SafeFloor(cy);
    o.a = cx - static_cast<float>(o.x);
    o.b = cy - static_cast<float>(o.y);
    if (!(o.a >= 0.f && o.a <= 1.f))
        o.a = 0.f;
    if (!(o.b >= 0.f && o.b <= 1.f))
        o.b = 0.f;
    return o;
}

bool PatchInside(const SubPixOrigin& o, cv::Size win_size, cv::Size src_size)
{
    return o.x >= 0 && o.x + win_size.width < src_size.width && o.y >= 0 && o.y + win_size.height < src_size.height;
}

int Clamp(int v, int hi)
{
    return std::min(std::max(v, 0), hi);
}

[[noreturn]] void Fail(int code, const char* message, const char* func)
{
    cv::error(code, message, func, __FILE__, __LINE__);
    std::abort();  // cv::error always throws
}

// Smoothed central derivatives of the inner (width - 2) x (height - 2) part of a patch.
void CalcIxIyFloat(const float* patch, cv::Size size, float* ix, float* iy, float* t0, float* t1)
{
    const float k0 = 0.09375f;
    const float k1 = 0.3125f;
    const int w = size.width;
    const int inner_w = w - 2;
    for (int y = 0; y < size.height - 2; ++y) {
        const float* r0 = patch + y * w;
        const float* r1 = r0 + w;
        const float* r2 = r1 + w;
        for (int x = 0; x < w; ++x) {
            t0[x] = (r0[x] + r2[x]) * k0 + r1[x] * k1;
            t1[x] = r2[x] - r0[x];
        }
        float* dx = ix + y * inner_w;
        float* dy = iy + y * inner_w;
        for (int x = 0; x < inner_w; ++x) {
            dx[x] = t0[x + 2] - t0[x];
            dy[x] = (t1[x] + t1[x + 2]) * k0 + t1[x + 1] * k1;
        }
    }
}

// The Q14 kernel in exact 32-bit form: (v x 1536) >> 14 = (3 v) >> 5 and (v x 5120) >> 14 = (5 v) >> 4
// (arithmetic shifts, rounding toward minus infinity); 3 v and 5 v stay below 2^26.
void CalcIxIyFixed(const int32_t* patch, cv::Size size, int32_t* ix, int32_t* iy, int32_t* t0, int32_t* t1)
{
    const int w = size.width;
    const int inner_w = w - 2;
    for (int y = 0; y < size.height - 2; ++y) {
        const int32_t* r0 = patch + y * w;
        const int32_t* r1 = r0 + w;
        const int32_t* r2 = r1 + w;
        for (int x = 0; x < w; ++x) {
            t0[x] = (((r0[x] + r2[x]) * 3) >> 5) + ((r1[x] * 5) >> 4);
            t1[x] = r2[x] - r0[x];
        }
        int32_t* dx = ix + y * inner_w;
        int32_t* dy = iy + y * inner_w;
        for (int x = 0; x < inner_w; ++x) {
            dx[x] = t0[x + 2] - t0[x];
            dy[x] = (((t1[x] + t1[x + 2]) * 3) >> 5) + ((t1[x + 1] * 5) >> 4);
        }
    }
}

template <bool kFixed>
void CalcOpticalFlowPyrLK(const char* func, const cv::Mat& imgA, const cv::Mat& imgB, cv::Mat* pyrA, cv::Mat* pyrB,
                          const cv::Point2f* featuresA, cv::Point2f* featuresB, int count, cv::Size winSize, int level,
                          char* status, float* error, cv::TermCriteria criteria, int flags)
{
    if (imgA.dims > 2 || imgB.dims > 2 || imgA.empty() || imgB.empty())
        Fail(cv::Error::StsBadArg, "imgA and imgB must be non-empty two-dimensional images", func);
    if (imgA.type() != CV_8UC1)
        Fail(cv::Error::StsUnsupportedFormat, "", func);
    if (imgA.type() != imgB.type())
        Fail(cv::Error::StsUnmatchedFormats, "", func);
    if (imgA.size() != imgB.size())
        Fail(cv::Error::StsUnmatchedSizes, "", func);
    if (imgA.step[0] != imgB.step[0])
        Fail(cv::Error::StsBadArg, "imgA and imgB must have equal steps", func);

    const cv::Size size = imgA.size();
    const std::size_t minimal_pyramid = static_cast<std::size_t>(Align8(size.width)) * size.height / 3;
    if (pyrA && pyrA->total() * pyrA->elemSize() < minimal_pyramid)
        Fail(cv::Error::StsBadArg, "pyramid A has insufficient size", func);
    if (pyrB && pyrB->total() * pyrB->elemSize() < minimal_pyramid)
        Fail(cv::Error::StsBadArg, "pyramid B has insufficient size", func);

    if (count == 0)
        return;
    if (!featuresA || !featuresB)
        Fail(cv::Error::StsNullPtr, "Some of arrays of point coordinates are missing", func);
    if (count < 0)
        Fail(cv::Error::StsOutOfRange, "The number of tracked points is negative or zero", func);
    if (winSize.width <= 1 || winSize.height <= 1)
        Fail(cv::Error::StsBadSize, "Invalid search window size", func);

    LKPyramidLevels levels;
    std::vector<unsigned char> scratch;
    icvInitPyramidalAlgorithm(imgA, imgB, pyrA, pyrB, level, &criteria, kMaxIterations, flags, levels, scratch);

    std::vector<char> own_status;
    if (!status) {
        own_status.resize(static_cast<std::size_t>(count));
        status = own_status.data();
    }
    std::memset(status, 1, static_cast<std::size_t>(count));
    if (error)
        std::fill(error, error + count, 0.f);
    if (!(flags & CV_LKFLOW_INITIAL_GUESSES))
        std::copy(featuresA, featuresA + count, featuresB);

    const double top_scale = levels[static_cast<std::size_t>(level)].scale * 0.5;
    for (int i = 0; i < count; ++i) {
        featuresB[i].x = static_cast<float>(featuresB[i].x * top_scale);
        featuresB[i].y = static_cast<float>(featuresB[i].y * top_scale);
    }

    for (int l = level; l >= 0; --l) {
        const LKPyramidLevel& lv = levels[static_cast<std::size_t>(l)];
        LKTrackerLevelArgs args;
        args.imgI = cv::Mat(lv.size, CV_8UC1, const_cast<unsigned char*>(lv.a), static_cast<std::size_t>(lv.step));
        args.imgJ = cv::Mat(lv.size, CV_8UC1, const_cast<unsigned char*>(lv.b), static_cast<std::size_t>(lv.step));
        args.featuresA = featuresA;
        args.featuresB = featuresB;
        args.status = status;
        args.error = error;
        args.criteria = criteria;
        args.winSize = winSize;
        args.level = l;
        args.flags = flags;
        if constexpr (kFixed) {
            const cv::LKTrackerInvoker_N worker(args);
            worker(cv::Range(0, count));
        } else {
            const LKTrackerInvokerFloat worker(args);
            worker(cv::Range(0, count));
        }
    }
}

}  // namespace

void icvInitPyramidalAlgorithm(const cv::Mat& imgA, const cv::Mat& imgB, cv::Mat* pyrA, cv::Mat* pyrB, int level,
                               cv::TermCriteria* criteria, int max_iters, int flags, LKPyramidLevels& levels,
                               std::vector<unsigned char>& scratch)
{
    const char* func = "icvInitPyramidalAlgorithm";
    if (((flags & CV_LKFLOW_PYR_A_READY) && !pyrA) || ((flags & CV_LKFLOW_PYR_B_READY) && !pyrB))
        Fail(cv::Error::StsNullPtr, "Some of the precomputed pyramids are missing", func);
    if (level < 0)
        Fail(cv::Error::StsOutOfRange, "The number of pyramid levels is negative", func);

    switch (criteria->type) {
        case cv::TermCriteria::COUNT:
            criteria->epsilon = 0.;
            break;
        case cv::TermCriteria::EPS:
            criteria->maxCount = max_iters;
            break;
        case cv::TermCriteria::COUNT + cv::TermCriteria::EPS:
            break;
        default:
            Fail(cv::Error::StsBadArg, "Invalid termination criteria", func);
    }
    // An iteration count the caller gives (types 1 and 3) is used as given; max_iters only stands in
    // for a missing one.
    criteria->epsilon *= criteria->epsilon;

    const cv::Size size = imgA.size();
    levels.allocate(static_cast<std::size_t>(level) + 1);
    std::fill(levels.data(), levels.data() + levels.size(), LKPyramidLevel{});
    levels[0] = LKPyramidLevel{imgA.data, imgB.data, static_cast<int>(imgA.step[0]), size, 1.0};
    std::size_t pyramid_bytes = 0;
    for (int l = 1; l <= level; ++l) {
        const cv::Size prev = levels[static_cast<std::size_t>(l) - 1].size;
        const cv::Size cur((prev.width + 1) >> 1, (prev.height + 1) >> 1);
        LKPyramidLevel& lv = levels[static_cast<std::size_t>(l)];
        lv.size = cur;
        lv.step = Align8(cur.width);
        lv.scale = levels[static_cast<std::size_t>(l) - 1].scale * 0.5;
        pyramid_bytes += static_cast<std::size_t>(lv.step) * cur.height;
        // Guards the buffers below: a level count that outgrows the image is refused in every build.
        CV_Assert(pyramid_bytes <= static_cast<std::size_t>(size.width) * size.height * 4 / 3);
    }
    if (level == 0)
        return;

    const auto buffer_of = [&](cv::Mat* given, const char* message) -> unsigned char* {
        if (!given)
            return nullptr;
        if (!given->isContinuous() || given->total() * given->elemSize() < pyramid_bytes)
            Fail(cv::Error::StsBadArg, message, func);
        return given->data;
    };
    unsigned char* base_a = buffer_of(pyrA, "pyramid A has insufficient size");
    unsigned char* base_b = buffer_of(pyrB, "pyramid B has insufficient size");
    scratch.resize((base_a ? 0 : pyramid_bytes) + (base_b ? 0 : pyramid_bytes));
    if (!base_a)
        base_a = scratch.data();
    if (!base_b)
        base_b = scratch.data() + (scratch.size() - pyramid_bytes);

    const bool build_a = !(flags & CV_LKFLOW_PYR_A_READY) || !pyrA;
    const bool build_b = !(flags & CV_LKFLOW_PYR_B_READY) || !pyrB;
    std::size_t offset = 0;
    for (int l = 1; l <= level; ++l) {
        LKPyramidLevel& lv = levels[static_cast<std::size_t>(l)];
        const LKPyramidLevel& below = levels[static_cast<std::size_t>(l) - 1];
        lv.a = base_a + offset;
        lv.b = base_b + offset;
        if (build_a) {
            const cv::Mat src(below.size, CV_8UC1, const_cast<unsigned char*>(below.a),
                              static_cast<std::size_t>(below.step));
            cv::Mat dst(lv.size, CV_8UC1, base_a + offset, static_cast<std::size_t>(lv.step));
            cv::pyrDown(src, dst, lv.size);
        }
        if (build_b) {
            const cv::Mat src(below.size, CV_8UC1, const_cast<unsigned char*>(below.b),
                              static_cast<std::size_t>(below.step));
            cv::Mat dst(lv.size, CV_8UC1, base_b + offset, static_cast<std::size_t>(lv.step));
            cv::pyrDown(src, dst, lv.size);
        }
        offset += static_cast<std::size_t>(lv.step) * lv.size.height;
    }
}

int icvGetRectSubPixFloat(const unsigned char* src, int src_step, cv::Size src_size, float* dst, int dst_step,
                          cv::Size win_size, cv::Point2f center)
{
    if (win_size.width < 1 || win_size.height < 1)
        return -44;
    const SubPixOrigin o = MakeOrigin(win_size, center);
    const float a = std::max(o.a, 0.0001f);
    const float b = o.b;
    const float b1 = 1.f - b;
    const int dst_stride = dst_step / static_cast<int>(sizeof(float));

    if (PatchInside(o, win_size, src_size)) {
        const float a12 = a * b1;
        const float a22 = a * b;
        const float s = (1.f - a) / a;
        const unsigned char* row = src + static_cast<std::ptrdiff_t>(o.y) * src_step + o.x;
        for (int i = 0; i < win_size.height; ++i, row += src_step, dst += dst_stride) {
            float prev = (1.f - a) * (b1 * row[0] + b * row[src_step]);
            for (int j = 0; j < win_size.width; ++j) {
                const float t = a12 * row[j + 1] + a22 * row[j + 1 + src_step];
                dst[j] = prev + t;
                prev = t * s;
            }
        }
        return 0;
    }

    // Border: rows and columns outside the image repeat the nearest image row or column.
    const int last_x = src_size.width - 1;
    const int last_y = src_size.height - 1;
    for (int i = 0; i < win_size.height; ++i, dst += dst_stride) {
        const unsigned char* r0 = src + static_cast<std::ptrdiff_t>(Clamp(o.y + i, last_y)) * src_step;
        const unsigned char* r1 = src + static_cast<std::ptrdiff_t>(Clamp(o.y + i + 1, last_y)) * src_step;
        for (int j = 0; j < win_size.width; ++j) {
            const int x0 = Clamp(o.x + j, last_x);
            const int x1 = Clamp(o.x + j + 1, last_x);
            const float s0 = r0[x0] * b1 + r1[x0] * b;
            const float s1 = r0[x1] * b1 + r1[x1] * b;
            dst[j] = s0 + (s1 - s0) * a;
        }
    }
    return 0;
}

int icvGetRectSubPixFixed(const unsigned char* src, int src_step, cv::Size src_size, int32_t* dst, int dst_step,
                          cv::Size win_size, cv::Point2f center)
{
    if (win_size.width < 1 || win_size.height < 1)
        return -44;
    const SubPixOrigin o = MakeOrigin(win_size, center);
    const int32_t ai = static_cast<int32_t>(o.a * 16384.0);
    const int32_t bi = static_cast<int32_t>(o.b * 16384.0);
    const int dst_stride = dst_step / static_cast<int>(sizeof(int32_t));
    const int last_x = src_size.width - 1;
    const int last_y = src_size.height - 1;
    const bool inside = PatchInside(o, win_size, src_size);
    const AlgoLibrary::KernelPath path = AlgoLibrary::ActiveKernelPath();

    for (int i = 0; i < win_size.height; ++i, dst += dst_stride) {
        const unsigned char* r0 = src + static_cast<std::ptrdiff_t>(Clamp(o.y + i, last_y)) * src_step;
        const unsigned char* r1 = src + static_cast<std::ptrdiff_t>(Clamp(o.y + i + 1, last_y)) * src_step;
        if (inside) {
            optic_flow_detail::SubPixRowFixed(r0 + o.x, r1 + o.x, ai, bi, dst, win_size.width, path);
        } else {
            // Columns left of the image repeat column 0, columns right of it the last one; the
            // columns between are interpolated as inside.
            const int interior_begin = std::min(std::max(-o.x, 0), win_size.width);
            const int interior_end = std::min(std::max(last_x - o.x, interior_begin), win_size.width);
            const auto edge = [&](int x) {
                const int32_t column = r0[x] * (kQ14 - bi) + r1[x] * bi;
                return static_cast<int32_t>((static_cast<int64_t>(kQ14 - ai) * column >> 14) +
                                            (static_cast<int64_t>(ai) * column >> 14));
            };
            const int32_t left = edge(0);
            const int32_t right = edge(last_x);
            for (int j = 0; j < interior_begin; ++j) dst[j] = left;
            if (interior_end > interior_begin)
                optic_flow_detail::SubPixRowFixed(r0 + o.x + interior_begin, r1 + o.x + interior_begin, ai, bi,
                                                  dst + interior_begin, interior_end - interior_begin, path);
            for (int j = interior_end; j < win_size.width; ++j) dst[j] = right;
        }
    }
    return 0;
}

namespace optic_flow_detail {

void SubPixRowFixed(const unsigned char* p0, const unsigned char* p1, int32_t ai, int32_t bi, int32_t* dst, int width,
                    AlgoLibrary::KernelPath path)
{
    const int32_t ai1 = kQ14 - ai;
    const int32_t bi1 = kQ14 - bi;
    int j = 0;
#if CV_SIMD128
    if (path == AlgoLibrary::KernelPath::kVector) {
        // Columns by 16-bit multiply-adds (pixel x Q14 weight pairs), then each column split into
        // col >> 14 (at most 255) and col & 16383: (w x col) >> 14 = w x (col >> 14) +
        // ((w x (col & 16383)) >> 14) exactly, every product of two 16-bit values.
        const cv::v_int16x8 vertical = cv::v_reinterpret_as_s16(
            cv::v_setall_s32(static_cast<int32_t>((static_cast<uint32_t>(bi) << 16) | static_cast<uint32_t>(bi1))));
        const cv::v_int16x8 wl = cv::v_setall_s16(static_cast<short>(ai1));
        const cv::v_int16x8 wr = cv::v_setall_s16(static_cast<short>(ai));
        const cv::v_int32x4 low_mask = cv::v_setall_s32(kQ14 - 1);
        const auto columns = [&](int x, cv::v_int16x8& high, cv::v_int16x8& low) {
            const cv::v_int16x8 a = cv::v_reinterpret_as_s16(cv::v_load_expand(p0 + x));
            const cv::v_int16x8 b = cv::v_reinterpret_as_s16(cv::v_load_expand(p1 + x));
            cv::v_int16x8 ab0, ab1;
            cv::v_zip(a, b, ab0, ab1);
            const cv::v_int32x4 c0 = cv::v_dotprod(ab0, vertical);
            const cv::v_int32x4 c1 = cv::v_dotprod(ab1, vertical);
            high = cv::v_pack(c0 >> 14, c1 >> 14);
            low = cv::v_pack(c0 & low_mask, c1 & low_mask);
        };
        const auto block = [&](int x) {
            cv::v_int16x8 left_high, left_low, right_high, right_low;
            columns(x, left_high, left_low);
            columns(x + 1, right_high, right_low);
            cv::v_int32x4 lh0, lh1, ll0, ll1, rh0, rh1, rl0, rl1;
            cv::v_mul_expand(left_high, wl, lh0, lh1);
            cv::v_mul_expand(left_low, wl, ll0, ll1);
            cv::v_mul_expand(right_high, wr, rh0, rh1);
            cv::v_mul_expand(right_low, wr, rl0, rl1);
            cv::v_store(dst + x, lh0 + (ll0 >> 14) + rh0 + (rl0 >> 14));
            cv::v_store(dst + x + 4, lh1 + (ll1 >> 14) + rh1 + (rl1 >> 14));
        };
        // Blocks of eight; a row that does not end on a block ends with its last eight columns
        // (some values computed and written twice, identically).
        if (width >= 8) {
            for (int x = 0;; x = std::min(x + 8, width - 8)) {
                block(x);
                if (x == width - 8)
                    break;
            }
            j = width;
        }
    }
#else
    (void)path;
#endif
    for (; j < width; ++j) {
        const int32_t left = p0[j] * bi1 + p1[j] * bi;
        const int32_t right = p0[j + 1] * bi1 + p1[j + 1] * bi;
        dst[j] =
            static_cast<int32_t>((static_cast<int64_t>(ai1) * left >> 14) + (static_cast<int64_t>(ai) * right >> 14));
    }
}

void AccumulateFixedSums(const int32_t* patch_i, int stride_i, const int32_t* patch_j, int stride_j, const int32_t* ix,
                         const int32_t* iy, int stride_d, int width, int rows, bool with_gradient,
                         AlgoLibrary::KernelPath path, FixedWindowSums& sums)
{
    int64_t bx = 0, by = 0, gxx = 0, gxy = 0, gyy = 0;
#if CV_SIMD128
    constexpr int kLanes = cv::v_int32x4::nlanes;
    if (path == AlgoLibrary::KernelPath::kVector && width >= kLanes) {
        // Whole blocks of four, then the last four samples of the row with the lanes already
        // counted zeroed (their derivatives set to 0 cancel every product).
        const int tail = width % kLanes;
        const cv::v_int32x4 lane(0, 1, 2, 3);
        const cv::v_int32x4 keep = lane >= cv::v_setall_s32(kLanes - tail);
        const cv::v_int32x4 zero = cv::v_setzero_s32();
        cv::v_int64x2 vbx = cv::v_setzero_s64(), vby = cv::v_setzero_s64();
        cv::v_int64x2 vxx = cv::v_setzero_s64(), vxy = cv::v_setzero_s64(), vyy = cv::v_setzero_s64();
        const auto add = [&](const cv::v_int32x4& d, const cv::v_int32x4& gx, const cv::v_int32x4& gy) {
            vbx += cv::v_dotprod(d, gx);
            vby += cv::v_dotprod(d, gy);
            if (with_gradient) {
                vxx += cv::v_dotprod(gx, gx);
                vxy += cv::v_dotprod(gx, gy);
                vyy += cv::v_dotprod(gy, gy);
            }
        };
        for (int y = 0; y < rows; ++y) {
            const int32_t* pi = patch_i + static_cast<std::ptrdiff_t>(y) * stride_i;
            const int32_t* pj = patch_j + static_cast<std::ptrdiff_t>(y) * stride_j;
            const int32_t* dx = ix + static_cast<std::ptrdiff_t>(y) * stride_d;
            const int32_t* dy = iy + static_cast<std::ptrdiff_t>(y) * stride_d;
            int x = 0;
            for (; x + kLanes <= width; x += kLanes)
                add(cv::v_load(pi + x) - cv::v_load(pj + x), cv::v_load(dx + x), cv::v_load(dy + x));
            if (tail) {
                x = width - kLanes;
                add(cv::v_load(pi + x) - cv::v_load(pj + x), cv::v_select(keep, cv::v_load(dx + x), zero),
                    cv::v_select(keep, cv::v_load(dy + x), zero));
            }
        }
        int64_t lanes[cv::v_int64x2::nlanes];
        const auto total = [&lanes](const cv::v_int64x2& v) {
            cv::v_store(lanes, v);
            return lanes[0] + lanes[1];
        };
        bx = total(vbx);
        by = total(vby);
        gxx = total(vxx);
        gxy = total(vxy);
        gyy = total(vyy);
        rows = 0;
    }
#else
    (void)path;
#endif
    for (int y = 0; y < rows; ++y) {
        const int32_t* pi = patch_i + static_cast<std::ptrdiff_t>(y) * stride_i;
        const int32_t* pj = patch_j + static_cast<std::ptrdiff_t>(y) * stride_j;
        const int32_t* dx = ix + static_cast<std::ptrdiff_t>(y) * stride_d;
        const int32_t* dy = iy + static_cast<std::ptrdiff_t>(y) * stride_d;
        for (int x = 0; x < width; ++x) {
            const int64_t d = static_cast<int64_t>(pi[x]) - pj[x];
            bx += d * dx[x];
            by += d * dy[x];
            if (with_gradient) {
                gxx += static_cast<int64_t>(dx[x]) * dx[x];
                gxy += static_cast<int64_t>(dx[x]) * dy[x];
                gyy += static_cast<int64_t>(dy[x]) * dy[x];
            }
        }
    }
    sums.bx = bx;
    sums.by = by;
    if (with_gradient) {
        sums.gxx = gxx;
        sums.gxy = gxy;
        sums.gyy = gyy;
    }
}

}  // namespace optic_flow_detail

namespace {

// The part of the first patch and its derivatives that lies under the second patch's window, and
// the second patch: `rows` rows of `width` samples, each pointer with its own row stride.
template <typename Sample>
struct WindowView {
    const Sample* i;
    int stride_i;
    const Sample* j;
    int stride_j;
    const Sample* ix;
    const Sample* iy;
    int stride_d;
    int width;
    int rows;
};

// Floating-point samples: patches, derivatives and sums as the reference computes them, the
// gradient matrix in double precision, solved through its inverse determinant.
struct FloatSamples {
    using Sample = float;
    static constexpr bool kReportsErrors = true;

    static int GetRectSubPix(const unsigned char* src, int step, cv::Size size, float* dst, int dst_step, cv::Size win,
                             cv::Point2f center)
    {
        return icvGetRectSubPixFloat(src, step, size, dst, dst_step, win, center);
    }
    static void CalcIxIy(const float* patch, cv::Size size, float* ix, float* iy, float* t0, float* t1)
    {
        CalcIxIyFloat(patch, size, ix, iy, t0, t1);
    }

    // Sums the window; with a new window also the gradient matrix, which must not be singular.
    bool Accumulate(const WindowView<float>& w, bool new_window, int flags)
    {
        bx = by = 0;
        if (new_window)
            gxx = gxy = gyy = 0;
        for (int y = 0; y < w.rows; ++y) {
            const float* pi = w.i + y * w.stride_i;
            const float* pj = w.j + y * w.stride_j;
            const float* dx = w.ix + y * w.stride_d;
            const float* dy = w.iy + y * w.stride_d;
            for (int x = 0; x < w.width; ++x) {
                const double t = pi[x] - pj[x];
                bx += t * dx[x];
                by += t * dy[x];
                if (new_window) {
                    gxx += static_cast<double>(dx[x]) * dx[x];
                    gxy += static_cast<double>(dx[x]) * dy[x];
                    gyy += static_cast<double>(dy[x]) * dy[x];
                }
            }
        }
        if (!new_window)
            return true;
        const double d = gxx * gyy - gxy * gxy;
        if (d < DBL_EPSILON)
            return false;
        if (flags & CV_LKFLOW_GET_MIN_EIGENVALS)
            min_eig = (gyy + gxx - std::sqrt((gxx - gyy) * (gxx - gyy) + 4. * gxy * gxy)) / (2. * w.rows * w.width);
        inv_d = 1. / d;
        return true;
    }
    cv::Point2f Shift() const
    {
        return {static_cast<float>((gyy * bx - gxy * by) * inv_d), static_cast<float>((gxx * by - gxy * bx) * inv_d)};
    }
    // The minimum eigenvalue (flag 8) or the root of the squared mismatch over the last window.
    float Error(const WindowView<float>& w, int flags) const
    {
        if (flags & CV_LKFLOW_GET_MIN_EIGENVALS)
            return static_cast<float>(min_eig);
        double err = 0;
        for (int y = 0; y < w.rows; ++y) {
            const float* pi = w.i + y * w.stride_i;
            const float* pj = w.j + y * w.stride_j;
            for (int x = 0; x < w.width; ++x) {
                const double t = pi[x] - pj[x];
                err += t * t;
            }
        }
        return static_cast<float>(std::sqrt(err));
    }

    double bx = 0, by = 0, gxx = 0, gxy = 0, gyy = 0, inv_d = 0, min_eig = 0;
};

// Q14 samples: integer patches and derivatives, 64-bit sums turned into float, the 2x2 system
// solved by elimination in float. No errors are reported.
struct FixedSamples {
    using Sample = int32_t;
    static constexpr bool kReportsErrors = false;

    static int GetRectSubPix(const unsigned char* src, int step, cv::Size size, int32_t* dst, int dst_step,
                             cv::Size win, cv::Point2f center)
    {
        return icvGetRectSubPixFixed(src, step, size, dst, dst_step, win, center);
    }
    static void CalcIxIy(const int32_t* patch, cv::Size size, int32_t* ix, int32_t* iy, int32_t* t0, int32_t* t1)
    {
        CalcIxIyFixed(patch, size, ix, iy, t0, t1);
    }

    bool Accumulate(const WindowView<int32_t>& w, bool new_window, int /*flags*/)
    {
        optic_flow_detail::AccumulateFixedSums(w.i, w.stride_i, w.j, w.stride_j, w.ix, w.iy, w.stride_d, w.width,
                                               w.rows, new_window, path, sums);
        bx = static_cast<float>(sums.bx >> 14) * kQ14Inverse;
        by = static_cast<float>(sums.by >> 14) * kQ14Inverse;
        if (!new_window)
            return true;
        gxx = static_cast<float>(sums.gxx >> 14) * kQ14Inverse;
        gxy = static_cast<float>(sums.gxy >> 14) * kQ14Inverse;
        gyy = static_cast<float>(sums.gyy >> 14) * kQ14Inverse;
        const float d = gxx * gyy - gxy * gxy;
        return !(d < FLT_EPSILON);
    }
    cv::Point2f Shift() const
    {
        const float k = gxy / gxx;
        const float my = (by - k * bx) / (gyy - k * gxy);
        const float mx = (bx - gxy * my) / gxx;
        return {mx, my};
    }
    float Error(const WindowView<int32_t>&, int) const { return 0.f; }

    AlgoLibrary::KernelPath path = AlgoLibrary::ActiveKernelPath();
    optic_flow_detail::FixedWindowSums sums{0, 0, 0, 0, 0};
    float bx = 0.f, by = 0.f, gxx = 0.f, gxy = 0.f, gyy = 0.f;
};

// Follows the points of `range` at one pyramid level: the first patch around each point with its
// derivatives, then the iterative solve that moves the point's window in the second image until
// the shift is below epsilon, the shift oscillates, or the iterations run out.
template <typename Samples>
void TrackPointsAtLevel(const LKTrackerLevelArgs& a, const cv::Range& range)
{
    using Sample = typename Samples::Sample;
    const cv::Size patch(2 * a.winSize.width + 1, 2 * a.winSize.height + 1);
    const cv::Size src_patch(patch.width + 2, patch.height + 2);
    const cv::Size level_size = a.imgI.size();
    const int step = static_cast<int>(a.imgI.step[0]);
    const double scale = std::ldexp(1.0, -a.level);

    const std::size_t patch_area = static_cast<std::size_t>(patch.area());
    cv::AutoBuffer<Sample, 1032> buffer(patch_area * 3 + static_cast<std::size_t>(src_patch.area()) +
                                        static_cast<std::size_t>(src_patch.width) * 2);
    std::fill(buffer.data(), buffer.data() + buffer.size(), Sample(0));
    Sample* patch_i = buffer.data();
    Sample* patch_j = patch_i + src_patch.area();
    Sample* ix = patch_j + patch_area;
    Sample* iy = ix + patch_area;
    Sample* t0 = iy + patch_area;
    Sample* t1 = t0 + src_patch.width;
    const int sample_bytes = static_cast<int>(sizeof(Sample));

    for (int i = range.start; i < range.end; ++i) {
        if (!a.status[i])
            continue;
        cv::Point2f v(a.featuresB[i].x * 2.f, a.featuresB[i].y * 2.f);
        cv::Point2f u(static_cast<float>(a.featuresA[i].x * scale), static_cast<float>(a.featuresA[i].y * scale));

        cv::Point min_i, max_i;
        Intersect(u, a.winSize, level_size, min_i, max_i);
        const cv::Size isz(max_i.x - min_i.x + 2, max_i.y - min_i.y + 2);
        u.x += (min_i.x - (patch.width - max_i.x + 1)) * 0.5f;
        u.y += (min_i.y - (patch.height - max_i.y + 1)) * 0.5f;
        if (isz.width < 5 || isz.height < 5 ||
            Samples::GetRectSubPix(a.imgI.data, step, level_size, patch_i, isz.width * sample_bytes, isz, u) < 0) {
            a.status[i] = 0;
            continue;
        }
        Samples::CalcIxIy(patch_i, isz, ix, iy, t0, t1);

        Samples solver;
        WindowView<Sample> window{};
        bool followed = true;
        cv::Point prev_min(-1, -1), prev_max(-1, -1);
        float prev_mx = 0.f, prev_my = 0.f;
        for (int j = 0; j < a.criteria.maxCount; ++j) {
            cv::Point min_j, max_j;
            Intersect(v, a.winSize, level_size, min_j, max_j);
            min_j.x = std::max(min_j.x, min_i.x);
            min_j.y = std::max(min_j.y, min_i.y);
            max_j.x = std::min(max_j.x, max_i.x);
            max_j.y = std::min(max_j.y, max_i.y);
            const cv::Size jsz(max_j.x - min_j.x, max_j.y - min_j.y);
            const cv::Point2f vc(v.x + (min_j.x - (patch.width - max_j.x + 1)) * 0.5f,
                                 v.y + (min_j.y - (patch.height - max_j.y + 1)) * 0.5f);
            if (jsz.width < 1 || jsz.height < 1 ||
                Samples::GetRectSubPix(a.imgJ.data, step, level_size, patch_j, jsz.width * sample_bytes, jsz, vc) < 0) {
                followed = false;
                break;
            }
            const bool same_window = min_j == prev_min && max_j == prev_max;
            const int offset_x = min_j.x - min_i.x;
            const int offset_y = min_j.y - min_i.y;
            window = WindowView<Sample>{patch_i + (offset_y + 1) * isz.width + offset_x + 1,
                                        isz.width,
                                        patch_j,
                                        jsz.width,
                                        ix + offset_y * (isz.width - 2) + offset_x,
                                        iy + offset_y * (isz.width - 2) + offset_x,
                                        isz.width - 2,
                                        jsz.width,
                                        jsz.height};
            if (!solver.Accumulate(window, !same_window, a.flags)) {
                followed = false;
                break;
            }
            if (!same_window) {
                prev_min = min_j;
                prev_max = max_j;
            }
            const cv::Point2f m = solver.Shift();
            v.x += m.x;
            v.y += m.y;
            if (static_cast<double>(m.x) * m.x + static_cast<double>(m.y) * m.y < a.criteria.epsilon)
                break;
            if (j > 0 && std::fabs(m.x + prev_mx) < 0.01f && std::fabs(m.y + prev_my) < 0.01f) {
                v.x -= m.x * 0.5f;
                v.y -= m.y * 0.5f;
                break;
            }
            prev_mx = m.x;
            prev_my = m.y;
        }

        a.featuresB[i] = v;
        a.status[i] = static_cast<char>(followed);
        if (Samples::kReportsErrors && a.level == 0 && a.error && followed)
            a.error[i] = solver.Error(window, a.flags);
    }
}

}  // namespace

void LKTrackerInvokerFloat::operator()(const cv::Range& range) const
{
    TrackPointsAtLevel<FloatSamples>(m_args, range);
}

void cv::LKTrackerInvoker_N::operator()(const cv::Range& range) const
{
    TrackPointsAtLevel<FixedSamples>(m_args, range);
}

void cvCalcOpticalFlowPyrLK_Float(const cv::Mat& imgA, const cv::Mat& imgB, cv::Mat* pyrA, cv::Mat* pyrB,
                                  const cv::Point2f* featuresA, cv::Point2f* featuresB, int count, cv::Size winSize,
                                  int level, char* status, float* error, cv::TermCriteria criteria, int flags)
{
    CalcOpticalFlowPyrLK<false>("cvCalcOpticalFlowPyrLK_Float", imgA, imgB, pyrA, pyrB, featuresA, featuresB, count,
                                winSize, level, status, error, criteria, flags);
}

void cvCalcOpticalFlowPyrLK_N(const cv::Mat& imgA, const cv::Mat& imgB, cv::Mat* pyrA, cv::Mat* pyrB,
                              const cv::Point2f* featuresA, cv::Point2f* featuresB, int count, cv::Size winSize,
                              int level, char* status, float* error, cv::TermCriteria criteria, int flags)
{
    CalcOpticalFlowPyrLK<true>("cvCalcOpticalFlowPyrLK_N", imgA, imgB, pyrA, pyrB, featuresA, featuresB, count, winSize,
                               level, status, error, criteria, flags);
}
