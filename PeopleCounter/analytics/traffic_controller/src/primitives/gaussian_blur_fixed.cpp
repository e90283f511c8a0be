#include "PeopleCounter/analytics/traffic_controller/src/primitives/gaussian_blur_fixed.h"

#include <algorithm>
#include <cstring>
#include <opencv2/core.hpp>
#include <opencv2/core/hal/intrin.hpp>

#include "CommonUtilities/algorithm_support/kernel_path.h"
#include "PeopleCounter/analytics/traffic_controller/src/primitives/simd_divide.h"
#include "PeopleCounter/analytics/traffic_controller/src/primitives/window_means.h"

namespace GaussianFixed {

// ---------------------------------------------------------------------------------------------
// Recursive Gaussian in fixed point

events_detector_utils::DericheCoefficients<Fixed> GaussianBlurFixedGray::FindConstants(double x)
{
    const Fixed x_fixed = Fixed::FromDouble(x);
    const events_detector_utils::DericheCoefficients<double> real =
        events_detector_utils::FindDericheConstants(static_cast<double>(x_fixed.Raw()) * 5.960464477539063e-08);
    events_detector_utils::DericheCoefficients<Fixed> c;
    for (int i = 0; i <= 4; ++i) {
        c.n[i] = Fixed::FromDouble(real.n[i]);
        c.d[i] = Fixed::FromDouble(real.d[i]);
        c.d_anticausal[i] = c.d[i];
    }
    c.m[0] = Fixed();
    for (int i = 1; i <= 4; ++i)
        c.m[i] = Fixed::FromRaw(static_cast<int32_t>(c.n[i].Raw() - Fixed::MulRaw(c.n[0].Raw(), c.d[i].Raw())));
    double sum_n = 0.0;
    double sum_m = 0.0;
    double sum_d = 0.0;
    for (int i = 0; i <= 4; ++i) {
        sum_n += c.n[i].ToDouble();
        sum_m += c.m[i].ToDouble();
        sum_d += c.d[i].ToDouble();
    }
    const Fixed s_causal = Fixed::FromDouble(sum_n / (1.0 + sum_d));
    const Fixed s_anticausal = Fixed::FromDouble(sum_m / (1.0 + sum_d));
    for (int i = 0; i <= 4; ++i) {
        c.bc[i] = Fixed::FromRaw(static_cast<int32_t>(Fixed::MulRaw(s_causal.Raw(), c.d[i].Raw())));
        c.ba[i] = Fixed::FromRaw(static_cast<int32_t>(Fixed::MulRaw(s_anticausal.Raw(), c.d[i].Raw())));
    }
    return c;
}

bool GaussianBlurFixedGray::InitProc(int a, int b)
{
    m_data.a = a;
    m_data.b = b;
    BuildTables();
    m_initialised = true;
    return true;
}

void GaussianBlurFixedGray::BuildTables()
{
    m_data.horizontal = FindConstants(m_data.a / 100.0);
    m_data.vertical = FindConstants(m_data.b / 100.0);
}

void GaussianBlurFixedGray::RunLine(const events_detector_utils::DericheCoefficients<Fixed>& c, int length)
{
    const int64_t* x = m_line.data();
    int64_t* yc = m_causal.data();
    int64_t* ya = m_anticausal.data();
    const int64_t first = x[0];
    const int64_t last = x[length - 1];
    // Near the ends the samples and outputs beyond the line come in through the border factors;
    // inside, the terms with n4 = d0 = 0 vanish.
    const int head = std::min(length, 4);
    for (int i = 0; i < head; ++i) {
        int64_t sum = 0;
        for (int k = 0; k <= i; ++k)
            sum += Fixed::MulRaw(c.n[k].Raw(), x[i - k]) - Fixed::MulRaw(c.d[k].Raw(), yc[i - k]);
        for (int k = i + 1; k <= 4; ++k) sum += Fixed::MulRaw((c.n[k] - c.bc[k]).Raw(), first);
        yc[i] = sum;
    }
    const int64_t n0 = c.n[0].Raw(), n1 = c.n[1].Raw(), n2 = c.n[2].Raw(), n3 = c.n[3].Raw();
    const int64_t d1 = c.d[1].Raw(), d2 = c.d[2].Raw(), d3 = c.d[3].Raw(), d4 = c.d[4].Raw();
    for (int i = head; i < length; ++i) {
        yc[i] = Fixed::MulRaw(n0, x[i]) + Fixed::MulRaw(n1, x[i - 1]) - Fixed::MulRaw(d1, yc[i - 1]) +
                Fixed::MulRaw(n2, x[i - 2]) - Fixed::MulRaw(d2, yc[i - 2]) + Fixed::MulRaw(n3, x[i - 3]) -
                Fixed::MulRaw(d3, yc[i - 3]) - Fixed::MulRaw(d4, yc[i - 4]);
    }
    const int tail = std::max(length - 4, 0);
    for (int j = length - 1; j >= tail; --j) {
        const int inside = length - 1 - j;
        int64_t sum = 0;
        for (int k = 0; k <= inside; ++k)
            sum += Fixed::MulRaw(c.m[k].Raw(), x[j + k]) - Fixed::MulRaw(c.d_anticausal[k].Raw(), ya[j + k]);
        for (int k = inside + 1; k <= 4; ++k) sum += Fixed::MulRaw((c.m[k] - c.ba[k]).Raw(), last);
        ya[j] = sum;
    }
    const int64_t m1 = c.m[1].Raw(), m2 = c.m[2].Raw(), m3 = c.m[3].Raw(), m4 = c.m[4].Raw();
    const int64_t a1 = c.d_anticausal[1].Raw(), a2 = c.d_anticausal[2].Raw();
    const int64_t a3 = c.d_anticausal[3].Raw(), a4 = c.d_anticausal[4].Raw();
    for (int j = tail - 1; j >= 0; --j) {
        ya[j] = Fixed::MulRaw(m1, x[j + 1]) - Fixed::MulRaw(a1, ya[j + 1]) + Fixed::MulRaw(m2, x[j + 2]) -
                Fixed::MulRaw(a2, ya[j + 2]) + Fixed::MulRaw(m3, x[j + 3]) - Fixed::MulRaw(a3, ya[j + 3]) +
                Fixed::MulRaw(m4, x[j + 4]) - Fixed::MulRaw(a4, ya[j + 4]);
    }
}

namespace {

unsigned char FixedToByte(int64_t value)
{
    return static_cast<unsigned char>(std::clamp<int64_t>(value >> Fixed::kFractionBits, 0, 255));
}

}  // namespace

bool GaussianBlurFixedGray::ProcessGray(unsigned char* image, int width, int height)
{
    if (!m_initialised || !image || width <= 0 || height <= 0)
        return false;
    const std::size_t longest = static_cast<std::size_t>(std::max(width, height));
    if (m_line.size() < longest) {
        m_line.resize(longest);
        m_causal.resize(longest);
        m_anticausal.resize(longest);
    }
    const int shift = Fixed::kFractionBits;
    if (m_data.b >= 1) {
        for (int x = 0; x < width; ++x) {
            for (int y = 0; y < height; ++y)
                m_line[y] = static_cast<int64_t>(image[static_cast<std::size_t>(y) * width + x]) << shift;
            RunLine(m_data.vertical, height);
            for (int y = 0; y < height; ++y)
                image[static_cast<std::size_t>(y) * width + x] = FixedToByte(m_causal[y] + m_anticausal[y]);
        }
    }
    if (m_data.a >= 1) {
        for (int y = 0; y < height; ++y) {
            unsigned char* row = image + static_cast<std::size_t>(y) * width;
            for (int x = 0; x < width; ++x) m_line[x] = static_cast<int64_t>(row[x]) << shift;
            RunLine(m_data.horizontal, width);
            for (int x = 0; x < width; ++x) row[x] = FixedToByte(m_causal[x] + m_anticausal[x]);
        }
    }
    return false;
}

// ---------------------------------------------------------------------------------------------
// One-dimensional kernels

namespace {

// Row y of an image, or the zero row outside it.
inline const unsigned char* RowOrZero(const unsigned char* image, int width, int height, int y,
                                      const unsigned char* zero_row)
{
    return (y >= 0 && y < height) ? image + static_cast<std::ptrdiff_t>(y) * width : zero_row;
}

#if CV_SIMD
// Bytes p[0 .. 4 * lanes - 1] widened to four vectors of 32-bit lanes.
inline void LoadWidened(const unsigned char* p, cv::v_uint32 out[4])
{
    cv::v_uint16 low, high;
    cv::v_expand(cv::vx_load(p), low, high);
    cv::v_expand(low, out[0], out[1]);
    cv::v_expand(high, out[2], out[3]);
}
#endif

// sums[x] += add[x] - sub[x] (bytes), from column `x` on.
void AddSubRow(uint32_t* sums, const unsigned char* add, const unsigned char* sub, int x, int width,
               [[maybe_unused]] AlgoLibrary::KernelPath path)
{
#if CV_SIMD
    if (path == AlgoLibrary::KernelPath::kVector) {
        const int step = cv::v_uint8::nlanes;
        const int lanes = cv::v_uint32::nlanes;
        for (; x + step <= width; x += step) {
            cv::v_uint32 added[4], subtracted[4];
            LoadWidened(add + x, added);
            LoadWidened(sub + x, subtracted);
            for (int part = 0; part < 4; ++part) {
                uint32_t* at = sums + x + part * lanes;
                cv::v_store(at, cv::vx_load(at) + added[part] - subtracted[part]);
            }
        }
    }
#endif
    for (; x < width; ++x) sums[x] = sums[x] + add[x] - sub[x];
}

// out[x] = divider(sums[x]) for the whole row.
void DivideRow(const uint32_t* sums, unsigned char* out, int width, const FastUintDivider<32>& divider,
               [[maybe_unused]] AlgoLibrary::KernelPath path)
{
    int x = 0;
#if CV_SIMD
    if (path == AlgoLibrary::KernelPath::kVector && AlgoLibrary::SimdUintDivider::Supports(divider)) {
        const AlgoLibrary::SimdUintDivider simd_divider(divider);
        const int step = cv::v_uint8::nlanes;
        const int lanes = cv::v_uint32::nlanes;
        for (; x + step <= width; x += step) {
            cv::v_store(out + x, AlgoLibrary::NarrowToBytes(simd_divider.Divide(cv::vx_load(sums + x)),
                                                            simd_divider.Divide(cv::vx_load(sums + x + lanes)),
                                                            simd_divider.Divide(cv::vx_load(sums + x + 2 * lanes)),
                                                            simd_divider.Divide(cv::vx_load(sums + x + 3 * lanes))));
        }
    }
#endif
    for (; x < width; ++x) out[x] = static_cast<unsigned char>(divider.Divide(sums[x]));
}

}  // namespace

bool BoxFilter1D::Init(int r)
{
    if (r < 0 || r > kMax1DRadius)
        return false;
    radius = r;
    return divider.InitDivider(static_cast<uint32_t>(2 * r + 1));
}

template <typename TLine>
void BoxFilter1D::FilterLine(const TLine& line, unsigned char* out) const
{
    const int length = line.length();
    uint32_t sum = 0;
    for (int d = 0; d <= radius; ++d) sum += line[d];
    for (int i = 0; i < length; ++i) {
        out[i] = static_cast<unsigned char>(divider.Divide(sum));
        sum += line[i + radius + 1];
        sum -= line[i - radius];
    }
}

void BoxFilter1D::FilterColumns(const unsigned char* src, unsigned char* dst, int width, int height,
                                const unsigned char* zero_row, std::vector<uint32_t>& state) const
{
    const AlgoLibrary::KernelPath path = AlgoLibrary::ActiveKernelPath();
    state.assign(static_cast<std::size_t>(width), 0u);
    uint32_t* sums = state.data();
    for (int d = 0; d <= radius && d < height; ++d)
        AddSubRow(sums, src + static_cast<std::ptrdiff_t>(d) * width, zero_row, 0, width, path);
    for (int y = 0; y < height; ++y) {
        DivideRow(sums, dst + static_cast<std::ptrdiff_t>(y) * width, width, divider, path);
        AddSubRow(sums, RowOrZero(src, width, height, y + radius + 1, zero_row),
                  RowOrZero(src, width, height, y - radius, zero_row), 0, width, path);
    }
}

bool LinearApprox1D::Init(int r)
{
    if (r < 0 || r > kMax1DRadius)
        return false;
    radius = r;
    square = static_cast<uint32_t>((r + 1) * (r + 1));
    return divider.InitDivider(square);
}

template <typename TLine>
void LinearApprox1D::FilterLine(const TLine& line, unsigned char* out) const
{
    // left = samples i - r .. i, right = samples i + 1 .. i + r + 1, weighted = the window sum.
    const int length = line.length();
    uint32_t left = line[0];
    uint32_t right = 0;
    uint32_t weighted = 0;
    for (int d = 1; d <= radius + 1; ++d) right += line[d];
    for (int d = 0; d <= radius; ++d) weighted += static_cast<uint32_t>(radius + 1 - d) * line[d];
    for (int i = 0; i < length; ++i) {
        out[i] = static_cast<unsigned char>(divider.Divide(weighted));
        weighted = weighted - left + right;
        const uint32_t next = line[i + 1];
        left = left + next - line[i - radius];
        right = right + line[i + radius + 2] - next;
    }
}

void LinearApprox1D::FilterColumns(const unsigned char* src, unsigned char* dst, int width, int height,
                                   const unsigned char* zero_row, std::vector<uint32_t>& state) const
{
    const AlgoLibrary::KernelPath path = AlgoLibrary::ActiveKernelPath();
    const std::size_t w = static_cast<std::size_t>(width);
    state.assign(3 * w, 0u);
    uint32_t* left = state.data();
    uint32_t* right = left + w;
    uint32_t* weighted = right + w;
    const auto row = [&](int y) { return RowOrZero(src, width, height, y, zero_row); };
    AddSubRow(left, row(0), zero_row, 0, width, path);
    for (int d = 1; d <= radius + 1 && d < height; ++d) AddSubRow(right, row(d), zero_row, 0, width, path);
    for (int d = 0; d <= radius && d < height; ++d) {
        const uint32_t weight = static_cast<uint32_t>(radius + 1 - d);
        const unsigned char* r = row(d);
        for (int x = 0; x < width; ++x) weighted[x] += weight * r[x];
    }
    for (int y = 0; y < height; ++y) {
        DivideRow(weighted, dst + static_cast<std::ptrdiff_t>(y) * width, width, divider, path);
        const unsigned char* next = row(y + 1);
        const unsigned char* leaving = row(y - radius);
        const unsigned char* entering = row(y + radius + 2);
        int x = 0;
#if CV_SIMD
        if (path == AlgoLibrary::KernelPath::kVector) {
            const int step = cv::v_uint8::nlanes;
            const int lanes = cv::v_uint32::nlanes;
            for (; x + step <= width; x += step) {
                cv::v_uint32 n[4], out[4], in[4];
                LoadWidened(next + x, n);
                LoadWidened(leaving + x, out);
                LoadWidened(entering + x, in);
                for (int part = 0; part < 4; ++part) {
                    const int at = x + part * lanes;
                    const cv::v_uint32 l = cv::vx_load(left + at);
                    const cv::v_uint32 r = cv::vx_load(right + at);
                    cv::v_store(weighted + at, cv::vx_load(weighted + at) - l + r);
                    cv::v_store(left + at, l + n[part] - out[part]);
                    cv::v_store(right + at, r + in[part] - n[part]);
                }
            }
        }
#endif
        for (; x < width; ++x) {
            weighted[x] = weighted[x] - left[x] + right[x];
            left[x] = left[x] + next[x] - leaving[x];
            right[x] = right[x] + entering[x] - next[x];
        }
    }
}

bool ExpApprox1D::Init(int r)
{
    if (r < 0 || r > kMax1DRadius)
        return false;
    n = std::min(r, kMaxTerms);
    shift = 3 * n;
    nine_pow_n = 1;
    for (int i = 0; i < n; ++i) nine_pow_n *= 9;
    // total = 9^n + 2 * sum over i < n of 9^i 8^(n - i)
    uint64_t side = 0;
    uint64_t nine_pow_i = 1;
    for (int i = 0; i < n; ++i) {
        side += nine_pow_i << (3 * (n - i));
        nine_pow_i *= 9;
    }
    total = nine_pow_n + 2 * side;
    return true;
}

unsigned char ExpApprox1D::Normalise(uint64_t sum) const
{
    // A floating-point estimate of the quotient, made exact by at most a step or two.
    uint64_t q = static_cast<uint64_t>(std::min(static_cast<double>(sum) / static_cast<double>(total), 256.0));
    while (q > 0 && q * total > sum) --q;
    while (q < 255 && (q + 1) * total <= sum) ++q;
    return static_cast<unsigned char>(std::min<uint64_t>(q, 255));
}

template <typename TLine>
void ExpApprox1D::FilterLine(const TLine& line, unsigned char* out) const
{
    // ahead: samples i + 1 .. i + n with weights 9^(n - d) 8^d; behind: samples i - n .. i.
    const int length = line.length();
    uint64_t ahead = 0;
    for (int d = 1; d <= n; ++d) {
        uint64_t weight = uint64_t{1} << (3 * d);
        for (int k = 0; k < n - d; ++k) weight *= 9;
        ahead += weight * line[d];
    }
    uint64_t behind = nine_pow_n * line[0];
    for (int i = 0; i < length; ++i) {
        out[i] = Normalise(ahead + behind);
        // Every term left in `behind` after the far sample leaves carries a factor 9, every term
        // of `ahead` a factor 8: both scalings are exact.
        behind = (behind - (uint64_t{line[i - n]} << shift)) / 9 * 8;
        ahead = ahead / 8 * 9;
        const uint64_t centre = nine_pow_n * line[i + 1];
        ahead = ahead - centre + (uint64_t{line[i + n + 1]} << shift);
        behind += centre;
    }
}

void ExpApprox1D::FilterColumns(const unsigned char* src, unsigned char* dst, int width, int height,
                                const unsigned char* zero_row, std::vector<uint64_t>& state) const
{
    const std::size_t w = static_cast<std::size_t>(width);
    state.assign(2 * w, 0u);
    uint64_t* ahead = state.data();
    uint64_t* behind = ahead + w;
    const auto row = [&](int y) { return RowOrZero(src, width, height, y, zero_row); };
    for (int d = 1; d <= n; ++d) {
        uint64_t weight = uint64_t{1} << (3 * d);
        for (int k = 0; k < n - d; ++k) weight *= 9;
        const unsigned char* r = row(d);
        for (int x = 0; x < width; ++x) ahead[x] += weight * r[x];
    }
    const unsigned char* first = row(0);
    for (int x = 0; x < width; ++x) behind[x] = nine_pow_n * first[x];
    for (int y = 0; y < height; ++y) {
        unsigned char* out = dst + static_cast<std::ptrdiff_t>(y) * width;
        const unsigned char* leaving = row(y - n);
        const unsigned char* next = row(y + 1);
        const unsigned char* entering = row(y + n + 1);
        for (int x = 0; x < width; ++x) {
            out[x] = Normalise(ahead[x] + behind[x]);
            const uint64_t centre = nine_pow_n * next[x];
            behind[x] = (behind[x] - (uint64_t{leaving[x]} << shift)) / 9 * 8 + centre;
            ahead[x] = ahead[x] / 8 * 9 - centre + (uint64_t{entering[x]} << shift);
        }
    }
}

template <typename TKernel>
bool GaussianBlurWith1DProcessor<TKernel>::ProcessGray(unsigned char* image, int width, int height)
{
    if (!image || width <= 0 || height <= 0)
        return false;
    TKernel kernel;
    const bool filter_rows = m_radius_x >= 1;
    const bool filter_columns = m_radius_y >= 1;
    if (AlgoLibrary::ActiveKernelPath() == AlgoLibrary::KernelPath::kScalar) {
        if (filter_rows && kernel.Init(m_radius_x))
            Blur1DLines(kernel, LineAccessor(image, width, height), m_line);
        if (filter_columns && kernel.Init(m_radius_y))
            Blur1DLines(kernel, ColAccessor(image, width, height), m_line);
        return false;
    }
    // All lines of a pass at once, row after row, so that the running sums of neighbouring lines
    // sit side by side in vectors; the rows are filtered as the columns of the transposed image.
    const std::size_t pixels = static_cast<std::size_t>(width) * static_cast<std::size_t>(height);
    m_columns_out.resize(pixels);
    m_transposed.resize(pixels);
    m_zero_row.assign(static_cast<std::size_t>(std::max(width, height)), 0);
    cv::Mat frame(height, width, CV_8UC1, image);
    if (filter_rows && kernel.Init(m_radius_x)) {
        cv::Mat transposed(width, height, CV_8UC1, m_transposed.data());
        cv::Mat filtered(width, height, CV_8UC1, m_columns_out.data());
        cv::transpose(frame, transposed);
        kernel.FilterColumns(transposed.data, filtered.data, height, width, m_zero_row.data(), m_column_state);
        cv::transpose(filtered, frame);
    }
    if (filter_columns && kernel.Init(m_radius_y)) {
        kernel.FilterColumns(image, m_columns_out.data(), width, height, m_zero_row.data(), m_column_state);
        std::memcpy(image, m_columns_out.data(), pixels);
    }
    return false;
}

template class GaussianBlurWith1DProcessor<BoxFilter1D>;
template class GaussianBlurWith1DProcessor<LinearApprox1D>;
template class GaussianBlurWith1DProcessor<ExpApprox1D>;

// ---------------------------------------------------------------------------------------------
// Window means

GaussianBlurWith2DWindowMeans::GaussianBlurWith2DWindowMeans(int passes) : m_passes(std::clamp(passes, 1, 3)) {}

bool GaussianBlurWith2DWindowMeans::InitProc(int a, int /*b*/)
{
    m_later_radius = a / m_passes;
    m_first_radius = a - (m_passes - 1) * m_later_radius;
    return true;
}

bool GaussianBlurWith2DWindowMeans::ProcessGray(unsigned char* image, int width, int height)
{
    // A radius beyond the largest window gives the largest window; the clamp keeps 2r + 1 in range.
    const auto window = [](int radius) { return 2 * std::clamp(radius, -1, AlgoLibrary::kMaxWindowMeansSide) + 1; };
    const AlgoLibrary::FastUintDividerSmoothingPixelFunction pixel_function;
    AlgoLibrary::CalcWindowMeans(image, image, pixel_function, width, height, window(m_first_radius), m_scratch);
    for (int pass = 1; pass < m_passes; ++pass)
        AlgoLibrary::CalcWindowMeans(image, image, pixel_function, width, height, window(m_later_radius), m_scratch);
    return false;
}

}  // namespace GaussianFixed
