#pragma once

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstddef>
#include <utility>
#include <vector>

#include "CommonUtilities/algorithm_support/mem_manager.h"
#include "CommonUtilities/algorithm_support/rounding.h"
#include "PeopleCounter/analytics/traffic_controller/src/primitives/kiv_types.h"

namespace AlgoLibrary {

namespace Gauss {

// Solves A x = b (A: n x n, row-major, unchanged) by Gauss-Jordan elimination in the precision of
// T, pivoting within each row on its entry of largest magnitude. `work` holds 2 n^2 values.
// Returns false when a pivot's magnitude falls below 2^-80.
template <typename T>
bool GaussSolve(const T* a, int n, T* x, const T* b, T* work);

extern template bool GaussSolve<float>(const float*, int, float*, const float*, float*);

}  // namespace Gauss

// The same, with the work space in a vector that grows to 2 n^2.
template <typename T, typename TWork>
bool GaussSolve(const T* a, int n, T* x, const T* b, std::vector<TWork>& work)
{
    const std::size_t needed = 2 * static_cast<std::size_t>(n > 0 ? n : 0) * static_cast<std::size_t>(n > 0 ? n : 0);
    if (work.size() < needed)
        work.resize(needed);
    return Gauss::GaussSolve<T>(a, n, x, b, work.data());
}

// The output pixels that a perspective transform fills from inside its input: the bounding rows
// and columns, and per row and per column the first and last valid position (inclusive).
template <template <typename> class TVector, typename TMemoryManager>
class PerspectiveFilterRegion {
public:
    using Span = std::pair<int, int>;
    static constexpr Span kEmptySpan{INT_MAX, -1};

    explicit PerspectiveFilterRegion(const TMemoryManager& manager)
        : m_row_spans(typename TVector<Span>::allocator_type(manager)),
          m_col_spans(typename TVector<Span>::allocator_type(manager))
    {
    }

    // Sizes the region to width x height and empties it.
    void set_resolution(int width, int height)
    {
        m_width = width > 0 ? width : 0;
        m_height = height > 0 ? height : 0;
        m_first_row = INT_MAX;
        m_last_row = -1;
        m_first_col = INT_MAX;
        m_last_col = -1;
        m_row_spans.assign(static_cast<std::size_t>(m_height), kEmptySpan);
        m_col_spans.assign(static_cast<std::size_t>(m_width), kEmptySpan);
    }

    // Widens the region to take in the pixel (x, y), which must lie inside the resolution.
    void add(int x, int y)
    {
        m_first_row = std::min(m_first_row, y);
        m_last_row = std::max(m_last_row, y);
        m_first_col = std::min(m_first_col, x);
        m_last_col = std::max(m_last_col, x);
        Span& row = m_row_spans[static_cast<std::size_t>(y)];
        row.first = std::min(row.first, x);
        row.second = std::max(row.second, x);
        Span& col = m_col_spans[static_cast<std::size_t>(x)];
        col.first = std::min(col.first, y);
        col.second = std::max(col.second, y);
    }

    int width() const { return m_width; }
    int height() const { return m_height; }
    int first_row() const { return m_first_row; }
    int last_row() const { return m_last_row; }
    int first_col() const { return m_first_col; }
    int last_col() const { return m_last_col; }
    bool empty() const { return m_last_row < 0; }
    // The valid columns of row y (first > last when none).
    Span row_span(int y) const { return m_row_spans[static_cast<std::size_t>(y)]; }
    // The valid rows of column x (first > last when none).
    Span col_span(int x) const { return m_col_spans[static_cast<std::size_t>(x)]; }

private:
    int m_width = 0;
    int m_height = 0;
    int m_first_row = INT_MAX;
    int m_last_row = -1;
    int m_first_col = INT_MAX;
    int m_last_col = -1;
    TVector<Span> m_row_spans;
    TVector<Span> m_col_spans;
};

using PerspectiveRegion = PerspectiveFilterRegion<avector, MemManager::MemoryManager>;

// A planar projective transform fitted to four point pairs, with lookup tables of the nearest
// input pixel of every output pixel. A transform h maps (x, y) to
// ((h0 x + h1 y + h2) / D, (h3 x + h4 y + h5) / D), D = h6 x + h7 y + 1.
class FilterPerspective {
public:
    // Fits the transform that maps src[i] onto dst[i] (four points each); false when singular.
    template <typename TPoint>
    bool CalcTrans(const TPoint* src, const TPoint* dst, float* h);

    // Forward transform p -> q and inverse q -> p; true when both were solved.
    template <typename TPoint>
    bool Init(const TPoint* p, const TPoint* q);

    // Init, then the forward table (and the inverse one when asked for) of width x height output
    // pixels: the offset row x stride + column x pixel_step of the nearest input pixel, or -1
    // where the transformed position lies outside [1, size - 1) (or is not a number). The region
    // receives the output pixels of the forward table that have input. Returns true.
    template <typename TPoint, typename TRegion>
    bool InitTableAndDestinationRegion(const TPoint* p, const TPoint* q, int width, int height, int pixel_step,
                                       int stride, bool with_inverse, TRegion& region);

    // Bilinear resampling of src into dst through the forward transform; destination pixels whose
    // position falls outside [1, size - 1) of the source are left unchanged. False (nothing
    // written) when the forward transform is not valid.
    template <typename TPixel>
    bool Process(const TPixel* src, TPixel* dst, int src_width, int src_height, int pixel_step, int src_stride,
                 int dst_width, int dst_height, int dst_stride) const;

    bool IsIdentity() const { return m_identity; }
    bool IsForwardValid() const { return m_forward_valid; }
    bool IsInverseValid() const { return m_inverse_valid; }
    const float* Forward() const { return m_forward; }
    const float* Inverse() const { return m_inverse; }
    const std::vector<int>& ForwardTable() const { return m_forward_table; }
    const std::vector<int>& InverseTable() const { return m_inverse_table; }
    int TableWidth() const { return m_width; }
    int TableStride() const { return m_stride; }

private:
    // Fills `table` for the transform h; calls on_valid(x, y) for every output pixel with input.
    template <typename TOnValid>
    void BuildTable(const float* h, int width, int height, int pixel_step, int stride, std::vector<int>& table,
                    TOnValid on_valid) const;

    bool m_identity = false;
    bool m_forward_valid = false;
    bool m_inverse_valid = false;
    float m_system[64] = {};
    float m_rhs[8] = {};
    float m_forward[8] = {};
    float m_inverse[8] = {};
    int m_width = 0;
    int m_stride = 0;
    std::vector<int> m_forward_table;
    std::vector<int> m_inverse_table;
};

// ------------------------------------------------------------------------------------------------

namespace detail {

// (u, v) of the transform h at (x, y), in single precision.
inline void Transform(const float* h, float x, float y, float& u, float& v)
{
    const float d = h[6] * x + h[7] * y + 1.f;
    const float inv = 1.f / d;
    u = (h[0] * x + h[1] * y + h[2]) * inv;
    v = (h[3] * x + h[4] * y + h[5]) * inv;
}

}  // namespace detail

template <typename TPoint>
bool FilterPerspective::CalcTrans(const TPoint* src, const TPoint* dst, float* h)
{
    for (int i = 0; i < 4; ++i) {
        const long long x = src[i].x;
        const long long y = src[i].y;
        const long long u = dst[i].x;
        const long long v = dst[i].y;
        float* row_u = m_system + (2 * i) * 8;
        float* row_v = row_u + 8;
        const float coefficients_u[8] = {static_cast<float>(x),      static_cast<float>(y),     1.f, 0.f, 0.f, 0.f,
                                         static_cast<float>(-x * u), static_cast<float>(-y * u)};
        const float coefficients_v[8] = {0.f,
                                         0.f,
                                         0.f,
                                         static_cast<float>(x),
                                         static_cast<float>(y),
                                         1.f,
                                         static_cast<float>(-x * v),
                                         static_cast<float>(-y * v)};
        for (int k = 0; k < 8; ++k) {
            row_u[k] = coefficients_u[k];
            row_v[k] = coefficients_v[k];
        }
        m_rhs[2 * i] = static_cast<float>(u);
        m_rhs[2 * i + 1] = static_cast<float>(v);
    }
    float work[128];
    return Gauss::GaussSolve<float>(m_system, 8, h, m_rhs, work);
}

template <typename TPoint>
bool FilterPerspective::Init(const TPoint* p, const TPoint* q)
{
    m_identity = true;
    for (int i = 0; i < 4; ++i) m_identity = m_identity && p[i].x == q[i].x && p[i].y == q[i].y;
    m_forward_valid = CalcTrans(p, q, m_forward);
    m_inverse_valid = CalcTrans(q, p, m_inverse);
    if (m_identity && m_forward_valid && m_inverse_valid) {
        // The single-precision solve leaves errors of a few units in the last place, enough to
        // push positions on the first row or column just below 1: take the exact identity.
        const float identity[8] = {1.f, 0.f, 0.f, 0.f, 1.f, 0.f, 0.f, 0.f};
        for (int i = 0; i < 8; ++i) m_forward[i] = m_inverse[i] = identity[i];
    }
    return m_forward_valid && m_inverse_valid;
}

template <typename TOnValid>
void FilterPerspective::BuildTable(const float* h, int width, int height, int pixel_step, int stride,
                                   std::vector<int>& table, TOnValid on_valid) const
{
    table.assign(static_cast<std::size_t>(width) * static_cast<std::size_t>(height), -1);
    const float max_u = static_cast<float>(width - 1);
    const float max_v = static_cast<float>(height - 1);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            float u, v;
            detail::Transform(h, static_cast<float>(x), static_cast<float>(y), u, v);
            // Written so that a NaN position fails the test.
            if (u >= 1.f && u < max_u && v >= 1.f && v < max_v) {
                table[static_cast<std::size_t>(y) * width + x] =
                    AlgoLibrary::RoundHalfAwayFromZero(v) * stride + AlgoLibrary::RoundHalfAwayFromZero(u) * pixel_step;
                on_valid(x, y);
            }
        }
    }
}

template <typename TPoint, typename TRegion>
bool FilterPerspective::InitTableAndDestinationRegion(const TPoint* p, const TPoint* q, int width, int height,
                                                      int pixel_step, int stride, bool with_inverse, TRegion& region)
{
    Init(p, q);
    m_width = width;
    m_stride = stride;
    m_forward_table.clear();
    m_inverse_table.clear();
    if (width <= 0 || height <= 0)
        return true;
    if (m_forward_valid) {
        region.set_resolution(width, height);
        BuildTable(m_forward, width, height, pixel_step, stride, m_forward_table,
                   [&region](int x, int y) { region.add(x, y); });
    }
    if (with_inverse && m_inverse_valid)
        BuildTable(m_inverse, width, height, pixel_step, stride, m_inverse_table, [](int, int) {});
    return true;
}

template <typename TPixel>
bool FilterPerspective::Process(const TPixel* src, TPixel* dst, int src_width, int src_height, int pixel_step,
                                int src_stride, int dst_width, int dst_height, int dst_stride) const
{
    if (!m_forward_valid)
        return false;
    if (!src || !dst)
        return true;
    const float max_u = static_cast<float>(src_width - 1);
    const float max_v = static_cast<float>(src_height - 1);
    for (int y = 0; y < dst_height; ++y) {
        TPixel* out = dst + static_cast<std::ptrdiff_t>(y) * dst_stride;
        for (int x = 0; x < dst_width; ++x, out += pixel_step) {
            float u, v;
            detail::Transform(m_forward, static_cast<float>(x), static_cast<float>(y), u, v);
            if (!(u >= 1.f && u < max_u) || !(v >= 1.f && v < max_v))
                continue;
            const int fx = static_cast<int>(std::floor(u));
            const int fy = static_cast<int>(std::floor(v));
            const float ax = u - static_cast<float>(fx);
            const float ay = v - static_cast<float>(fy);
            const TPixel* p00 = src + static_cast<std::ptrdiff_t>(fy) * src_stride + fx * pixel_step;
            const TPixel* p10 = p00 + pixel_step;
            const TPixel* p01 = p00 + src_stride;
            const TPixel* p11 = p01 + pixel_step;
            for (int c = 0; c < pixel_step; ++c) {
                const float value = p00[c] * (1.f - ax) * (1.f - ay) + p10[c] * ax * (1.f - ay) +
                                    p01[c] * (1.f - ax) * ay + p11[c] * ax * ay;
                out[c] = static_cast<TPixel>(static_cast<int>(value));
            }
        }
    }
    return true;
}

}  // namespace AlgoLibrary
