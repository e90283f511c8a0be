#include "StereoAnalyzer/StereoMatchers/modified_opencv_stereo_matchers/stereo_sgbm_without_stripes.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <limits>
#include <opencv2/calib3d.hpp>
#include <opencv2/core/hal/intrin.hpp>
#include <opencv2/imgproc.hpp>

#include "CommonUtilities/algorithm_support/kernel_path.h"
#include "CommonUtilities/algorithm_support/kiv_exception.h"

namespace stereo {
namespace {

using AlgoLibrary::KernelPath;
using CostType = short;
using DispType = short;
using PixType = uchar;

constexpr int kDispShift = 4;
constexpr int kDispScale = 1 << kDispShift;
constexpr int kMaxCost = std::numeric_limits<CostType>::max();
// Clip table of the x-derivative: index = derivative + kTabOfs.
constexpr int kTabOfs = 1024;
constexpr int kTabSize = 2304;
// The intensity part of the pixel cost is weighted down by this shift against the derivative part.
constexpr int kIntensityShift = 2;
// Directions aggregated in one pass: along the row, diagonal, vertical, anti-diagonal.
constexpr int kDirs = 4;
// A path-cost column holds D + kLrExtra entries; d = 0 sits at kLrPad, d = -1 and d = D are sentinels.
constexpr int kLrPad = 8;
constexpr int kLrExtra = 16;
constexpr size_t kAlign = 32;
// Derivative and intensity rows of up to four channels.
constexpr int kMaxParts = 8;

inline CostType SatAdd(int a, int b)
{
    return cv::saturate_cast<CostType>(a + b);
}

// Everything derived from the settings and the image size for one call.
struct Geometry {
    int width = 0;
    int height = 0;
    int channels = 0;
    int min_d = 0;
    int max_d = 0;
    int num_d = 0;
    int half_window = 0;
    int p1 = 0;
    int p2 = 0;
    int ftzero = 0;
    int uniqueness = 0;
    int disp12_max_diff = 0;
    bool full_dp = false;
    int min_x1 = 0;
    int max_x1 = 0;
    int width1 = 0;
    int ext = 0;      // replicated elements on each side of a stored pixel row
    int row_len = 0;  // width + 2 * ext
    DispType invalid = 0;
};

// Pointers into the work buffer.
struct Workspace {
    CostType* cost = nullptr;       // C: block cost, one row or one per image row
    CostType* sum = nullptr;        // S: sum of the path costs, same shape as C
    CostType* hsum = nullptr;       // ring of horizontal block sums
    CostType* pix = nullptr;        // pixel costs of one row
    CostType* lr[2] = {};           // path costs of the previous and the current row
    CostType* min_lr[2] = {};       // their minima over d
    CostType* lr_row[2] = {};       // path costs along the row, right to left (5-direction mode)
    CostType* total = nullptr;      // S of one pixel with every direction added
    CostType* disp2cost = nullptr;  // best cost per column of the other image
    DispType* disp2ptr = nullptr;   // disparity of that best cost
    PixType* rows1 = nullptr;       // derivative and intensity rows of the reference image
    PixType* rows2 = nullptr;       // the same of the other image, reversed
    PixType* rmin = nullptr;        // half-sample minima of rows2
    PixType* rmax = nullptr;        // half-sample maxima of rows2
    PixType* tab = nullptr;         // clip table
};

int Ring(const Geometry& g)
{
    return 2 * g.half_window + 3;
}

int LrColumn(const Geometry& g)
{
    return g.num_d + kLrExtra;
}

size_t LrRowElements(const Geometry& g)
{
    return static_cast<size_t>(g.width1 + 2) * kDirs * LrColumn(g);
}

// Lays the work areas out in `base` (null: only measures) and returns the bytes needed.
size_t LayOut(const Geometry& g, uchar* base, Workspace& ws)
{
    size_t offset = 0;
    auto take = [&](size_t bytes) -> uchar* {
        offset = (offset + kAlign - 1) & ~(kAlign - 1);
        uchar* p = base ? base + offset : nullptr;
        offset += bytes;
        return p;
    };
    const size_t cost_row = static_cast<size_t>(g.width1) * g.num_d;
    const size_t cost_rows = g.full_dp ? cost_row * g.height : cost_row;
    const size_t pix_rows = static_cast<size_t>(g.channels) * 2 * g.row_len;
    ws.cost = reinterpret_cast<CostType*>(take(cost_rows * sizeof(CostType)));
    ws.sum = reinterpret_cast<CostType*>(take(cost_rows * sizeof(CostType)));
    ws.hsum = reinterpret_cast<CostType*>(take(cost_row * Ring(g) * sizeof(CostType)));
    ws.pix = reinterpret_cast<CostType*>(take(cost_row * sizeof(CostType)));
    for (int i = 0; i < 2; ++i) {
        ws.lr[i] = reinterpret_cast<CostType*>(take(LrRowElements(g) * sizeof(CostType)));
        ws.min_lr[i] = reinterpret_cast<CostType*>(take(static_cast<size_t>(g.width1 + 2) * kDirs * sizeof(CostType)));
        ws.lr_row[i] = reinterpret_cast<CostType*>(take(LrColumn(g) * sizeof(CostType)));
    }
    ws.total = reinterpret_cast<CostType*>(take(g.num_d * sizeof(CostType)));
    ws.disp2cost = reinterpret_cast<CostType*>(take(g.width * sizeof(CostType)));
    ws.disp2ptr = reinterpret_cast<DispType*>(take(g.width * sizeof(DispType)));
    ws.rows1 = take(pix_rows);
    ws.rows2 = take(pix_rows);
    ws.rmin = take(pix_rows);
    ws.rmax = take(pix_rows);
    ws.tab = take(kTabSize);
    return offset + kAlign;
}

// Checks the settings and derives the geometry; false when no column can be matched.
bool MakeGeometry(const StereoSGBMWithoutStripes& m, const cv::Mat& left, Geometry& g)
{
    g.width = left.cols;
    g.height = left.rows;
    g.channels = left.channels();
    g.min_d = m.minDisparity;
    g.num_d = m.numberOfDisparities;

    KIV_CHECK(g.num_d > 0 && g.num_d % 16 == 0, "SGBMDispRange_261209_080100")
        << "the number of disparities must be a positive multiple of 16:" << g.num_d;
    KIV_CHECK(m.preFilterCap <= 127, "SGBMPrefilterCap_261209_080200")
        << "a prefilter cap above 127 overflows the clip table:" << m.preFilterCap;
    const int64_t lowest = (static_cast<int64_t>(g.min_d) - 1) * kDispScale;
    const int64_t highest = (static_cast<int64_t>(g.min_d) + g.num_d) * kDispScale;
    KIV_CHECK(lowest >= std::numeric_limits<DispType>::min() && highest <= std::numeric_limits<DispType>::max(),
              "SGBMDispRange_261209_080300")
        << "the disparity range does not fit 16-bit fixed point: minimum" << g.min_d << "count" << g.num_d;

    const int window = m.SADWindowSize > 0 ? m.SADWindowSize : 5;
    g.half_window = window / 2;
    g.ftzero = std::max(m.preFilterCap, 15) | 1;
    g.uniqueness = m.uniquenessRatio >= 0 ? m.uniquenessRatio : 10;
    g.p1 = m.P1 > 0 ? m.P1 : 2;
    g.p2 = std::max(m.P2 > 0 ? m.P2 : 5, g.p1 + 1);
    g.disp12_max_diff = m.disp12MaxDiff > 0 ? m.disp12MaxDiff : 1;
    g.full_dp = m.fullDP;

    // A path cost is its block cost plus at most P2 (the step from the previous minimum): that
    // must fit 16 bits.
    const int64_t side = 2 * g.half_window + 1;
    const int64_t pixel_max = static_cast<int64_t>(g.channels) * (2 * g.ftzero + (255 >> kIntensityShift));
    const int64_t path_max = side * side * pixel_max + static_cast<int64_t>(g.p2);
    KIV_CHECK(path_max <= kMaxCost, "SGBMCostOverflow_261209_080400")
        << "window, channels and prefilter cap let the 16-bit path costs overflow: window" << static_cast<int>(side)
        << "channels" << g.channels << "prefilter cap" << m.preFilterCap << "P2" << g.p2 << "largest block cost plus P2"
        << static_cast<double>(path_max);

    g.max_d = g.min_d + g.num_d;
    g.invalid = static_cast<DispType>((g.min_d - 1) * kDispScale);
    g.min_x1 = std::max(g.min_d, 0);
    g.max_x1 = g.width + std::min(g.max_d, 0);
    g.width1 = g.max_x1 - g.min_x1;
    if (g.max_x1 <= g.min_x1 || g.width < 3)
        return false;
    g.ext = std::max(std::abs(g.min_d), std::abs(g.max_d)) + 1;
    g.row_len = g.width + 2 * g.ext;
    return true;
}

void BuildClipTable(PixType* tab, int ftzero)
{
    for (int k = 0; k < kTabSize; ++k)
        tab[k] = static_cast<PixType>(std::min(std::max(k - kTabOfs, -ftzero), ftzero) + ftzero);
}

// Stores, per channel, the clipped x-derivative and the intensity of image row y (columns 1 to
// W - 2, reversed for the other image) and replicates the end values over the extensions.
void PrepareRows(const Geometry& g, const cv::Mat& img, int y, bool reversed, const PixType* tab, PixType* rows)
{
    const int w = g.width;
    const int cn = g.channels;
    const PixType* row = img.ptr<PixType>(y);
    const PixType* above = img.ptr<PixType>(std::max(y - 1, 0));
    const PixType* below = img.ptr<PixType>(std::min(y + 1, g.height - 1));
    for (int c = 0; c < cn; ++c) {
        PixType* deriv = rows + (2 * c) * g.row_len + g.ext;
        PixType* inten = rows + (2 * c + 1) * g.row_len + g.ext;
        for (int x = 1; x < w - 1; ++x) {
            const int l = (x - 1) * cn + c;
            const int r = (x + 1) * cn + c;
            const int dx = (row[r] - row[l]) * 2 + above[r] - above[l] + below[r] - below[l];
            const int idx = reversed ? w - 1 - x : x;
            deriv[idx] = tab[kTabOfs + dx];
            inten[idx] = row[x * cn + c];
        }
        for (PixType* p : {deriv, inten}) {
            std::fill(p - g.ext, p + 1, p[1]);
            std::fill(p + w - 1, p + w + g.ext, p[w - 2]);
        }
    }
}

// Half-sample minima and maxima of every stored row of the other image, over the whole extended row.
template <KernelPath kPath>
void HalfSampleRange(const Geometry& g, const PixType* rows, PixType* rmin, PixType* rmax)
{
    for (int j = 0; j < 2 * g.channels; ++j) {
        const PixType* v = rows + j * g.row_len;
        PixType* lo = rmin + j * g.row_len;
        PixType* hi = rmax + j * g.row_len;
        lo[0] = hi[0] = v[0];
        lo[g.row_len - 1] = hi[g.row_len - 1] = v[g.row_len - 1];
        int i = 1;
#if CV_SIMD128
        if (kPath == KernelPath::kVector) {
            for (; i + 17 <= g.row_len; i += 16) {
                cv::v_uint16x8 c0, c1, l0, l1, r0, r1;
                cv::v_expand(cv::v_load(v + i), c0, c1);
                cv::v_expand(cv::v_load(v + i - 1), l0, l1);
                cv::v_expand(cv::v_load(v + i + 1), r0, r1);
                const cv::v_uint16x8 a0 = cv::v_shr<1>(c0 + l0), a1 = cv::v_shr<1>(c1 + l1);
                const cv::v_uint16x8 b0 = cv::v_shr<1>(c0 + r0), b1 = cv::v_shr<1>(c1 + r1);
                cv::v_store(lo + i, cv::v_pack(cv::v_min(c0, cv::v_min(a0, b0)), cv::v_min(c1, cv::v_min(a1, b1))));
                cv::v_store(hi + i, cv::v_pack(cv::v_max(c0, cv::v_max(a0, b0)), cv::v_max(c1, cv::v_max(a1, b1))));
            }
        }
#endif
        for (; i < g.row_len - 1; ++i) {
            const int c = v[i];
            const int a = (c + v[i - 1]) >> 1;
            const int b = (c + v[i + 1]) >> 1;
            lo[i] = static_cast<PixType>(std::min(c, std::min(a, b)));
            hi[i] = static_cast<PixType>(std::max(c, std::max(a, b)));
        }
    }
}

// Birchfield-Tomasi pixel cost of every column of the row and every disparity, summed over the
// channels; the intensity part is shifted right by kIntensityShift.
template <KernelPath kPath>
void PixelCostRow(const Geometry& g, const Workspace& ws, CostType* pix)
{
    const int D = g.num_d;
    const int parts = 2 * g.channels;
    for (int x = g.min_x1; x < g.max_x1; ++x) {
        CostType* out = pix + static_cast<size_t>(x - g.min_x1) * D;
        const int base = g.ext + g.width - 1 - x + g.min_d;
        int d = 0;
#if CV_SIMD128
        if (kPath == KernelPath::kVector && parts <= kMaxParts) {
            // The reference pixel's values per part, then every group of 16 disparities summed over
            // the parts in registers.
            cv::v_uint8x16 vu[kMaxParts], vu0[kMaxParts], vu1[kMaxParts];
            size_t off[kMaxParts];
            for (int j = 0; j < parts; ++j) {
                const PixType* l = ws.rows1 + j * g.row_len + g.ext + x;
                const int u = l[0];
                const int ul = (u + l[-1]) >> 1;
                const int ur = (u + l[1]) >> 1;
                vu[j] = cv::v_setall_u8(static_cast<uchar>(u));
                vu0[j] = cv::v_setall_u8(static_cast<uchar>(std::min(u, std::min(ul, ur))));
                vu1[j] = cv::v_setall_u8(static_cast<uchar>(std::max(u, std::max(ul, ur))));
                off[j] = static_cast<size_t>(j) * g.row_len + base;
            }
            for (d = 0; d < D; d += 16) {
                cv::v_int16x8 a = cv::v_setzero_s16(), b = cv::v_setzero_s16();
                for (int j = 0; j < parts; ++j) {
                    const cv::v_uint8x16 vv = cv::v_load(ws.rows2 + off[j] + d);
                    const cv::v_uint8x16 c0 = cv::v_max(vu[j] - cv::v_load(ws.rmax + off[j] + d),
                                                        cv::v_load(ws.rmin + off[j] + d) - vu[j]);  // max(0, ...)
                    const cv::v_uint8x16 c1 = cv::v_max(vv - vu1[j], vu0[j] - vv);
                    cv::v_uint16x8 lo, hi;
                    cv::v_expand(cv::v_min(c0, c1), lo, hi);
                    if (j & 1) {
                        lo = cv::v_shr<kIntensityShift>(lo);
                        hi = cv::v_shr<kIntensityShift>(hi);
                    }
                    a = cv::v_add_wrap(a, cv::v_reinterpret_as_s16(lo));
                    b = cv::v_add_wrap(b, cv::v_reinterpret_as_s16(hi));
                }
                cv::v_store(out + d, a);
                cv::v_store(out + d + 8, b);
            }
        }
#endif
        if (d < D) {
            std::fill(out, out + D, 0);
            for (int j = 0; j < parts; ++j) {
                const PixType* l = ws.rows1 + j * g.row_len + g.ext + x;
                const int u = l[0];
                const int ul = (u + l[-1]) >> 1;
                const int ur = (u + l[1]) >> 1;
                const int u0 = std::min(u, std::min(ul, ur));
                const int u1 = std::max(u, std::max(ul, ur));
                const size_t off = static_cast<size_t>(j) * g.row_len + base;
                const PixType* v = ws.rows2 + off;
                const PixType* v0 = ws.rmin + off;
                const PixType* v1 = ws.rmax + off;
                const int shift = (j & 1) ? kIntensityShift : 0;
                for (d = 0; d < D; ++d) {
                    const int c0 = std::max(0, std::max(u - v1[d], v0[d] - u));
                    const int c1 = std::max(0, std::max(v[d] - u1, u0 - v[d]));
                    out[d] = static_cast<CostType>(out[d] + (std::min(c0, c1) >> shift));
                }
            }
        }
    }
}

// dst = a + b - c over n elements, 16-bit with wrap-around (the true result always fits).
template <KernelPath kPath>
void AddSub(const CostType* a, const CostType* b, const CostType* c, CostType* dst, size_t n)
{
    size_t i = 0;
#if CV_SIMD128
    if (kPath == KernelPath::kVector) {
        for (; i + 8 <= n; i += 8) {
            const cv::v_int16x8 r =
                cv::v_sub_wrap(cv::v_add_wrap(cv::v_load(a + i), cv::v_load(b + i)), cv::v_load(c + i));
            cv::v_store(dst + i, r);
        }
    }
#endif
    for (; i < n; ++i) dst[i] = static_cast<CostType>(a[i] + b[i] - c[i]);
}

// Horizontal block sums of the pixel costs, the columns beyond both ends replicated.
template <KernelPath kPath>
void HorizontalSums(const Geometry& g, const CostType* pix, CostType* hsum)
{
    const int D = g.num_d;
    const int last = g.width1 - 1;
    const int half = g.half_window;
    for (int d = 0; d < D; ++d) {
        int s = pix[d] * (half + 1);
        for (int i = 1; i <= half; ++i) s += pix[std::min(i, last) * D + d];
        hsum[d] = static_cast<CostType>(s);
    }
    for (int x = 1; x <= last; ++x) {
        const CostType* add = pix + static_cast<size_t>(std::min(x + half, last)) * D;
        const CostType* sub = pix + static_cast<size_t>(std::max(x - half - 1, 0)) * D;
        AddSub<kPath>(hsum + static_cast<size_t>(x - 1) * D, add, sub, hsum + static_cast<size_t>(x) * D, D);
    }
}

// Pixel costs and horizontal sums of image row k into its slot of the ring.
template <KernelPath kPath>
void ComputeRowSums(const Geometry& g, const cv::Mat& left, const cv::Mat& right, int k, const Workspace& ws)
{
    PrepareRows(g, left, k, false, ws.tab, ws.rows1);
    PrepareRows(g, right, k, true, ws.tab, ws.rows2);
    HalfSampleRange<kPath>(g, ws.rows2, ws.rmin, ws.rmax);
    PixelCostRow<kPath>(g, ws, ws.pix);
    const size_t cost_row = static_cast<size_t>(g.width1) * g.num_d;
    HorizontalSums<kPath>(g, ws.pix, ws.hsum + (k % Ring(g)) * cost_row);
}

// Block costs C of row y (top-down order): the vertical sum of the horizontal sums, the rows
// beyond both ends replicated.
template <KernelPath kPath>
void BlockCostRow(const Geometry& g, const cv::Mat& left, const cv::Mat& right, int y, CostType* cost,
                  const Workspace& ws)
{
    const size_t cost_row = static_cast<size_t>(g.width1) * g.num_d;
    const int half = g.half_window;
    const int last = g.height - 1;
    auto slot = [&](int row) { return ws.hsum + (row % Ring(g)) * cost_row; };
    if (half == 0) {
        // A one-pixel window: the block cost is the pixel cost.
        PrepareRows(g, left, y, false, ws.tab, ws.rows1);
        PrepareRows(g, right, y, true, ws.tab, ws.rows2);
        HalfSampleRange<kPath>(g, ws.rows2, ws.rmin, ws.rmax);
        PixelCostRow<kPath>(g, ws, cost);
        return;
    }
    if (y == 0) {
        for (int k = 0; k <= std::min(half, last); ++k) ComputeRowSums<kPath>(g, left, right, k, ws);
        const CostType* first = slot(0);
        for (size_t i = 0; i < cost_row; ++i) {
            int s = first[i] * (half + 1);
            for (int k = 1; k <= half; ++k) s += slot(std::min(k, last))[i];
            cost[i] = static_cast<CostType>(s);
        }
        return;
    }
    const int k = y + half;
    if (k <= last)
        ComputeRowSums<kPath>(g, left, right, k, ws);
    const CostType* prev = g.full_dp ? cost - cost_row : cost;
    AddSub<kPath>(prev, slot(std::min(k, last)), slot(std::max(y - half - 1, 0)), cost, cost_row);
}

// Path costs of kN directions at one pixel:
//   L(d) = C(d) + min(Lp(d), Lp(d-1) + P1, Lp(d+1) + P1, min Lp + P2) - min Lp
// with their minima, and out = sum_in + the new L's (saturated). sum_in may be null or alias out.
// min_out, when not null, receives the smallest value of out.
// C holds the block cost alone, so L never exceeds the largest block cost + P2; every candidate of
// the minimum is at least min Lp, and the one that is exact (Lp(d)) keeps a saturated candidate
// from being chosen, so the step m - min Lp is exact.
template <KernelPath kPath, int kN>
void AggregatePixel(const Geometry& g, const CostType* cost, const CostType* const* prev, const CostType* min_prev,
                    CostType* const* cur, CostType* min_cur, const CostType* sum_in, CostType* out, int* min_out)
{
    const int D = g.num_d;
#if CV_SIMD128
    if (kPath == KernelPath::kVector) {
        const cv::v_int16x8 vp1 = cv::v_setall_s16(static_cast<short>(g.p1));
        cv::v_int16x8 vmp[kN], vlim[kN], vmin[kN];
        for (int k = 0; k < kN; ++k) {
            vmp[k] = cv::v_setall_s16(min_prev[k]);
            vlim[k] = cv::v_setall_s16(SatAdd(min_prev[k], g.p2));
            vmin[k] = cv::v_setall_s16(static_cast<short>(kMaxCost));
        }
        cv::v_int16x8 vmin_out = cv::v_setall_s16(static_cast<short>(kMaxCost));
        for (int d = 0; d < D; d += 8) {
            const cv::v_int16x8 c = cv::v_load(cost + d);
            cv::v_int16x8 s = sum_in ? cv::v_load(sum_in + d) : cv::v_setzero_s16();
            for (int k = 0; k < kN; ++k) {
                const CostType* p = prev[k] + d;
                const cv::v_int16x8 m = cv::v_min(cv::v_min(cv::v_load(p), cv::v_load(p - 1) + vp1),
                                                  cv::v_min(cv::v_load(p + 1) + vp1, vlim[k]));
                const cv::v_int16x8 l = c + cv::v_sub_wrap(m, vmp[k]);  // '+' saturates
                cv::v_store(cur[k] + d, l);
                vmin[k] = cv::v_min(vmin[k], l);
                s = s + l;
            }
            cv::v_store(out + d, s);
            vmin_out = cv::v_min(vmin_out, s);
        }
        for (int k = 0; k < kN; ++k) min_cur[k] = static_cast<CostType>(cv::v_reduce_min(vmin[k]));
        if (min_out)
            *min_out = cv::v_reduce_min(vmin_out);
        return;
    }
#endif
    for (int k = 0; k < kN; ++k) {
        const CostType* p = prev[k];
        const int mp = min_prev[k];
        const int lim = SatAdd(mp, g.p2);
        int mn = kMaxCost;
        for (int d = 0; d < D; ++d) {
            const int m =
                std::min(std::min<int>(p[d], SatAdd(p[d - 1], g.p1)), std::min<int>(SatAdd(p[d + 1], g.p1), lim));
            const CostType l = SatAdd(cost[d], m - mp);
            cur[k][d] = l;
            mn = std::min<int>(mn, l);
        }
        min_cur[k] = static_cast<CostType>(mn);
    }
    int mn_out = kMaxCost;
    for (int d = 0; d < D; ++d) {
        int s = sum_in ? sum_in[d] : 0;
        for (int k = 0; k < kN; ++k) s = SatAdd(s, cur[k][d]);
        out[d] = static_cast<CostType>(s);
        mn_out = std::min(mn_out, s);
    }
    if (min_out)
        *min_out = mn_out;
}

// The first disparity index whose sum is the smallest one, min_s.
template <KernelPath kPath>
int FindMinimum(const CostType* s, int D, int min_s)
{
    int d = 0;
#if CV_SIMD128
    if (kPath == KernelPath::kVector) {
        const cv::v_int16x8 target = cv::v_setall_s16(static_cast<short>(min_s));
        for (d = 0; d < D; d += 8) {
            if (cv::v_check_any(cv::v_load(s + d) == target))
                break;
        }
        for (;; ++d) {
            if (s[d] == min_s)
                return d;
        }
    }
#endif
    for (; d < D; ++d) {
        if (s[d] == min_s)
            return d;
    }
    return 0;
}

// True when a disparity more than one step from the best one comes too close to the best cost:
// S(d) * (100 - uniqueness) < minS * 100.
template <KernelPath kPath>
bool IsAmbiguous(const Geometry& g, const CostType* s, int min_s, int best)
{
    const int D = g.num_d;
    const int64_t a = 100 - g.uniqueness;
    const int64_t t = static_cast<int64_t>(min_s) * 100;
#if CV_SIMD128
    if (kPath == KernelPath::kVector && a > 0) {
        if (t == 0)
            return false;  // sums are never negative
        // S * a < t  <=>  S < thr
        const int64_t thr = (t - 1) / a + 1;
        if (thr > kMaxCost)
            return true;  // every sum qualifies, and D >= 16 leaves indices far from the best
        const cv::v_int16x8 vthr = cv::v_setall_s16(static_cast<short>(thr));
        for (int d = 0; d < D; d += 8) {
            if (!cv::v_check_any(cv::v_load(s + d) < vthr))
                continue;
            for (int i = d; i < d + 8; ++i) {
                if (s[i] < thr && std::abs(i - best) > 1)
                    return true;
            }
        }
        return false;
    }
#endif
    for (int d = 0; d < D; ++d) {
        if (s[d] * a < t && std::abs(d - best) > 1)
            return true;
    }
    return false;
}

// The first disparity index with the smallest sum min_s, into best, and whether the choice is
// ambiguous as IsAmbiguous tells, in one pass over the sums where the vector path allows.
template <KernelPath kPath>
bool FindUniqueMinimum(const Geometry& g, const CostType* s, int min_s, int& best)
{
#if CV_SIMD128
    // min_s * 100 fits 32 bits, and a 32-bit division is much cheaper than a 64-bit one.
    const int a = 100 - g.uniqueness;
    const int t = min_s * 100;
    const int thr = a > 0 ? (t - 1) / a + 1 : 0;  // S * a < t  <=>  S < thr
    if (kPath == KernelPath::kVector && a > 0 && t > 0 && thr > min_s && thr <= kMaxCost) {
        // Every sum below thr lies in a group with a lane below thr, and so does the smallest
        // one: the first and last such index decide.
        const cv::v_int16x8 vthr = cv::v_setall_s16(static_cast<short>(thr));
        const cv::v_int16x8 vmin = cv::v_setall_s16(static_cast<short>(min_s));
        int first = g.num_d;
        int last = -1;
        best = -1;
        for (int d = 0; d < g.num_d; d += 8) {
            const cv::v_int16x8 v = cv::v_load(s + d);
            const cv::v_int16x8 lt = v < vthr;
            const int below = cv::v_signmask(lt);
            if (below == 0)
                continue;
            if (best < 0) {
                const cv::v_int16x8 eq = v == vmin;
                if (cv::v_check_any(eq))
                    best = d + cv::v_scan_forward(eq);
            }
            first = std::min(first, d + cv::v_scan_forward(lt));
            int top = 7;
            while (((below >> top) & 1) == 0) --top;
            last = d + top;
        }
        return first < best - 1 || last > best + 1;
    }
#endif
    best = FindMinimum<kPath>(s, g.num_d, min_s);
    return IsAmbiguous<kPath>(g, s, min_s, best);
}

// The winner of column x with its sub-pixel step; it also claims its column of the other image
// in the right-to-left table.
// min_s is the smallest sum. When every sum sits at the 16-bit ceiling no disparity is better
// than another: the pixel stays invalid, as in cv::StereoSGBM, where no sum lies below the ceiling.
template <KernelPath kPath>
void ChooseDisparity(const Geometry& g, const CostType* s, int min_s, int x, DispType* disp_row, const Workspace& ws)
{
    if (min_s >= kMaxCost)
        return;
    int best = 0;
    if (FindUniqueMinimum<kPath>(g, s, min_s, best))
        return;
    const int x2 = x - best - g.min_d;
    if (x2 >= 0 && x2 < g.width && ws.disp2cost[x2] > min_s) {
        ws.disp2cost[x2] = static_cast<CostType>(min_s);
        ws.disp2ptr[x2] = static_cast<DispType>(best + g.min_d);
    }
    int d16 = best * kDispScale;
    if (best > 0 && best < g.num_d - 1) {
        const int denom = std::max(s[best - 1] + s[best + 1] - 2 * s[best], 1);
        d16 += ((s[best - 1] - s[best + 1]) * kDispScale + denom) / (denom * 2);
    }
    disp_row[x] = static_cast<DispType>(d16 + g.min_d * kDispScale);
}

// Left-right check of one row against the right-to-left table.
void CheckLeftRight(const Geometry& g, DispType* disp_row, const DispType* disp2ptr)
{
    auto mismatched = [&](int x2, int d) {
        return x2 >= 0 && x2 < g.width && disp2ptr[x2] >= g.min_d && std::abs(disp2ptr[x2] - d) > g.disp12_max_diff;
    };
    for (int x = g.min_x1; x < g.max_x1; ++x) {
        const int d1 = disp_row[x];
        if (d1 == g.invalid)
            continue;
        const int d0 = d1 >> kDispShift;
        const int d2 = (d1 + kDispScale - 1) >> kDispShift;
        if (mismatched(x - d0, d0) && mismatched(x - d2, d2))
            disp_row[x] = g.invalid;
    }
}

// Sets the values [0, D) of every path-cost column to 0 and its sentinels to the largest cost.
void ResetPathColumns(CostType* lr, size_t columns, int D)
{
    const int stride = D + kLrExtra;
    for (size_t c = 0; c < columns; ++c) {
        CostType* p = lr + c * stride + kLrPad;
        std::fill(p - kLrPad, p + D + kLrExtra - kLrPad, static_cast<CostType>(kMaxCost));
        std::fill(p, p + D, 0);
    }
}

template <KernelPath kPath>
void Run(const Geometry& g, const cv::Mat& left, const cv::Mat& right, cv::Mat& disp, const Workspace& ws)
{
    const int D = g.num_d;
    const size_t cost_row = static_cast<size_t>(g.width1) * D;
    const int lr_col = LrColumn(g);
    const int npasses = g.full_dp ? 2 : 1;
    BuildClipTable(ws.tab, g.ftzero);

    for (int pass = 1; pass <= npasses; ++pass) {
        const bool forward = pass == 1;
        const bool last_pass = pass == npasses;
        const int dx = forward ? 1 : -1;
        CostType* lr_prev = ws.lr[0];
        CostType* lr_cur = ws.lr[1];
        CostType* min_prev = ws.min_lr[0];
        CostType* min_cur = ws.min_lr[1];
        // Paths start afresh at the first row and at both border columns.
        for (int i = 0; i < 2; ++i) {
            ResetPathColumns(ws.lr[i], static_cast<size_t>(g.width1 + 2) * kDirs, D);
            std::fill(ws.min_lr[i], ws.min_lr[i] + (g.width1 + 2) * kDirs, 0);
        }
        const int y_begin = forward ? 0 : g.height - 1;
        const int y_end = forward ? g.height : -1;
        for (int y = y_begin; y != y_end; y += dx) {
            CostType* cost = ws.cost + (g.full_dp ? y * cost_row : 0);
            CostType* sum = ws.sum + (g.full_dp ? y * cost_row : 0);
            if (forward)
                BlockCostRow<kPath>(g, left, right, y, cost, ws);
            DispType* disp_row = disp.ptr<DispType>(y);
            if (last_pass) {
                std::fill(disp_row, disp_row + g.width, g.invalid);
                std::fill(ws.disp2cost, ws.disp2cost + g.width, static_cast<CostType>(kMaxCost));
                std::fill(ws.disp2ptr, ws.disp2ptr + g.width, g.invalid);
            }
            auto column = [&](CostType* lr, int col, int k) { return lr + (col * kDirs + k) * lr_col + kLrPad; };
            for (int i = 0; i < g.width1; ++i) {
                const int xi = forward ? i : g.width1 - 1 - i;
                const int col = xi + 1;  // column 0 and width1 + 1 are the borders
                const CostType* prev[kDirs] = {column(lr_cur, col - dx, 0), column(lr_prev, col - dx, 1),
                                               column(lr_prev, col, 2), column(lr_prev, col + dx, 3)};
                const CostType mp[kDirs] = {min_cur[(col - dx) * kDirs + 0], min_prev[(col - dx) * kDirs + 1],
                                            min_prev[col * kDirs + 2], min_prev[(col + dx) * kDirs + 3]};
                CostType* const cur[kDirs] = {column(lr_cur, col, 0), column(lr_cur, col, 1), column(lr_cur, col, 2),
                                              column(lr_cur, col, 3)};
                const CostType* c = cost + static_cast<size_t>(xi) * D;
                CostType* s = sum + static_cast<size_t>(xi) * D;
                if (forward) {
                    AggregatePixel<kPath, kDirs>(g, c, prev, mp, cur, min_cur + col * kDirs, nullptr, s, nullptr);
                } else {
                    int min_s = 0;
                    AggregatePixel<kPath, kDirs>(g, c, prev, mp, cur, min_cur + col * kDirs, s, ws.total, &min_s);
                    ChooseDisparity<kPath>(g, ws.total, min_s, xi + g.min_x1, disp_row, ws);
                }
            }
            if (!g.full_dp) {
                // The fifth direction, along the row from the right, and the choice.
                CostType* row_prev = ws.lr_row[0] + kLrPad;
                CostType* row_cur = ws.lr_row[1] + kLrPad;
                ResetPathColumns(ws.lr_row[0], 1, D);
                ResetPathColumns(ws.lr_row[1], 1, D);
                CostType row_min_prev = 0;
                for (int xi = g.width1 - 1; xi >= 0; --xi) {
                    CostType row_min_cur = 0;
                    int min_s = 0;
                    const CostType* prev[1] = {row_prev};
                    CostType* const cur[1] = {row_cur};
                    AggregatePixel<kPath, 1>(g, cost + static_cast<size_t>(xi) * D, prev, &row_min_prev, cur,
                                             &row_min_cur, sum + static_cast<size_t>(xi) * D, ws.total, &min_s);
                    ChooseDisparity<kPath>(g, ws.total, min_s, xi + g.min_x1, disp_row, ws);
                    std::swap(row_prev, row_cur);
                    row_min_prev = row_min_cur;
                }
            }
            if (last_pass)
                CheckLeftRight(g, disp_row, ws.disp2ptr);
            std::swap(lr_prev, lr_cur);
            std::swap(min_prev, min_cur);
        }
    }
}

}  // namespace

StereoSGBMWithoutStripes::StereoSGBMWithoutStripes() : StereoSGBMWithoutStripes(0, 0, 0, 0, 0, 0, 0, 0, 0, 0, false) {}

StereoSGBMWithoutStripes::StereoSGBMWithoutStripes(int minDisparity_, int numberOfDisparities_, int SADWindowSize_,
                                                   int P1_, int P2_, int disp12MaxDiff_, int preFilterCap_,
                                                   int uniquenessRatio_, int speckleWindowSize_, int speckleRange_,
                                                   bool fullDP_)
    : minDisparity(minDisparity_),
      numberOfDisparities(numberOfDisparities_),
      SADWindowSize(SADWindowSize_),
      preFilterCap(preFilterCap_),
      uniquenessRatio(uniquenessRatio_),
      P1(P1_),
      P2(P2_),
      speckleWindowSize(speckleWindowSize_),
      speckleRange(speckleRange_),
      disp12MaxDiff(disp12MaxDiff_),
      fullDP(fullDP_)
{
}

StereoSGBMWithoutStripes::~StereoSGBMWithoutStripes()
{
    buffer.release();
}

void StereoSGBMWithoutStripes::operator()(cv::InputArray left_array, cv::InputArray right_array,
                                          cv::OutputArray disp_array)
{
    const cv::Mat left = left_array.getMat();
    const cv::Mat right = right_array.getMat();
    // OpenCV's own assertions: callers of this matcher catch cv::Exception as from cv::StereoSGBM.
    CV_Assert(left.size() == right.size());
    CV_Assert(left.type() == right.type());
    CV_Assert(left.depth() == cv::DataType<PixType>::depth);
    disp_array.create(left.size(), CV_16SC1);
    cv::Mat disp = disp_array.getMat();
    Geometry g;
    const bool matchable = MakeGeometry(*this, left, g);
    // The choice writes a map of its own, so that the median filter needs no copy of its input.
    cv::Mat& raw = m_raw_disp;
    raw.create(left.size(), CV_16SC1);
    if (!matchable) {
        raw.setTo(cv::Scalar::all(g.invalid));
    } else {
        Workspace ws;
        const size_t total = LayOut(g, nullptr, ws);
        if (buffer.empty() || !buffer.isContinuous() || buffer.total() * buffer.elemSize() < total)
            buffer.create(1, static_cast<int>(std::min<size_t>(total, std::numeric_limits<int>::max())), CV_8U);
        KIV_CHECK(buffer.total() >= total, "SGBMBuffer_261209_080500") << "work area too large";
        uchar* base = reinterpret_cast<uchar*>((reinterpret_cast<uintptr_t>(buffer.data) + kAlign - 1) & ~(kAlign - 1));
        LayOut(g, base, ws);
        if (AlgoLibrary::ActiveKernelPath() == KernelPath::kVector)
            Run<KernelPath::kVector>(g, left, right, raw, ws);
        else
            Run<KernelPath::kScalar>(g, left, right, raw, ws);
    }
    cv::medianBlur(raw, disp, 3);
    if (speckleWindowSize > 0)
        cv::filterSpeckles(disp, (minDisparity - 1) * kDispScale, speckleWindowSize, kDispScale * speckleRange,
                           m_speckle_buffer);
}

}  // namespace stereo
