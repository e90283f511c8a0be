#pragma once

#include <cassert>
#include <cstddef>
#include <cstdint>
#include <type_traits>
#include <vector>

#include "PeopleCounter/analytics/traffic_controller/src/primitives/fast_uint_divider.h"
#include "PeopleCounter/analytics/traffic_controller/src/primitives/fixed_point.h"
#include "PeopleCounter/analytics/traffic_controller/src/primitives/gaussian_blur.h"

namespace GaussianFixed {

using Fixed = numeric::Fixed<8u, 24u>;

// The recursive Gaussian of events_detector_utils::GaussianBlur in 8.24 fixed point: every product
// is a signed 64-bit product shifted right by 24.
class GaussianBlurFixedGray : public events_detector_utils::IGaussianBlur {
public:
    bool InitProc(int a, int b) override;
    bool ProcessGray(unsigned char* image, int width, int height) override;

    struct MyFilterData {
        int a = 0;  // horizontal size x 100
        int b = 0;  // vertical size x 100
        events_detector_utils::DericheCoefficients<Fixed> horizontal;
        events_detector_utils::DericheCoefficients<Fixed> vertical;
    };

    const MyFilterData& FilterData() const { return m_data; }

    // The coefficients for the size parameter x, itself first cut to 8.24 fixed point.
    static events_detector_utils::DericheCoefficients<Fixed> FindConstants(double x);

private:
    void BuildTables();
    void RunLine(const events_detector_utils::DericheCoefficients<Fixed>& c, int length);

    bool m_initialised = false;
    MyFilterData m_data;
    // Line buffers (samples x 2^24), sized to the longest line of the image on first use.
    std::vector<int64_t> m_line;
    std::vector<int64_t> m_causal;
    std::vector<int64_t> m_anticausal;
};

// Walks the rows of an image: one object per row.
class LineAccessor {
public:
    LineAccessor(unsigned char* image, int width, int height) : m_image(image), m_width(width), m_height(height) {}

    int cur_object_length() const { return m_width; }
    int count() const { return m_height; }
    std::ptrdiff_t step() const { return 1; }
    void set_object(int index) { m_current = m_image + static_cast<std::ptrdiff_t>(index) * m_width; }
    unsigned char* first() const { return m_current; }
    unsigned char* last() const { return m_current + (m_width - 1); }

    // Writes a filtered line back into the current row.
    void fill_from(const std::vector<unsigned char>& buffer)
    {
        assert(buffer.size() == static_cast<std::size_t>(cur_object_length()));
        for (int i = 0; i < m_width; ++i) m_current[i] = buffer[i];
    }

private:
    unsigned char* m_image;
    unsigned char* m_current = nullptr;
    int m_width;
    int m_height;
};

// Walks the columns of an image: one object per column.
class ColAccessor {
public:
    ColAccessor(unsigned char* image, int width, int height) : m_image(image), m_width(width), m_height(height) {}

    int cur_object_length() const { return m_height; }
    int count() const { return m_width; }
    std::ptrdiff_t step() const { return m_width; }
    void set_object(int index) { m_current = m_image + index; }
    unsigned char* first() const { return m_current; }
    unsigned char* last() const { return m_current + static_cast<std::ptrdiff_t>(m_height - 1) * m_width; }

    // Writes a filtered line back into the current column.
    void fill_from(const std::vector<unsigned char>& buffer)
    {
        assert(buffer.size() == static_cast<std::size_t>(cur_object_length()));
        for (int i = 0; i < m_height; ++i) m_current[static_cast<std::ptrdiff_t>(i) * m_width] = buffer[i];
    }

private:
    unsigned char* m_image;
    unsigned char* m_current = nullptr;
    int m_width;
    int m_height;
};

// Reads sample i of the current line of an accessor; samples outside the line read as 0.
template <typename TAccessor>
class SafeAcessor {
public:
    explicit SafeAcessor(const TAccessor& accessor)
        : m_first(accessor.first()),
          m_last(accessor.last()),
          m_step(accessor.step()),
          m_length(accessor.cur_object_length())
    {
    }

    uint32_t operator[](int i) const { return (i >= 0 && i < m_length) ? m_first[i * m_step] : 0u; }
    int length() const { return m_length; }

private:
    const unsigned char* m_first;
    const unsigned char* m_last;
    std::ptrdiff_t m_step;
    int m_length;
};

// A line of raw samples with stride; samples outside read as 0.
class StridedLine {
public:
    StridedLine(const unsigned char* first, std::ptrdiff_t step, int length)
        : m_first(first), m_step(step), m_length(length)
    {
    }

    uint32_t operator[](int i) const { return (i >= 0 && i < m_length) ? m_first[i * m_step] : 0u; }
    int length() const { return m_length; }

private:
    const unsigned char* m_first;
    std::ptrdiff_t m_step;
    int m_length;
};

// The largest radius the one-dimensional kernels accept: the triangle's weighted sums, at most
// 255 (r + 1)^2 with (r + 1)^2 <= 2^24, stay within 32 bits, also inside the vectorised division.
constexpr int kMax1DRadius = 4000;

// Box kernel: out[i] = (sum of x[i - r .. i + r]) / (2r + 1), truncated.
struct BoxFilter1D {
    bool Init(int r);
    template <typename TLine>
    void FilterLine(const TLine& line, unsigned char* out) const;
    // Filters every column of src (width x height) into dst, all columns at once, row after row;
    // zero_row holds width zeros and stands for the rows beyond the image.
    void FilterColumns(const unsigned char* src, unsigned char* dst, int width, int height,
                       const unsigned char* zero_row, std::vector<uint32_t>& state) const;

    int radius = 0;
    FastUintDivider<32> divider;
};

// Triangle kernel: out[i] = (sum of (r + 1 - |d|) x[i + d]) / (r + 1)^2, truncated.
struct LinearApprox1D {
    bool Init(int r);
    template <typename TLine>
    void FilterLine(const TLine& line, unsigned char* out) const;
    void FilterColumns(const unsigned char* src, unsigned char* dst, int width, int height,
                       const unsigned char* zero_row, std::vector<uint32_t>& state) const;

    FastUintDivider<32> divider;
    int radius = 0;
    uint32_t square = 1;  // (r + 1)^2
};

// Exponential kernel: weights 9^(n - |d|) 8^|d| for |d| <= n = min(r, 16), divided by their total.
struct ExpApprox1D {
    static constexpr int kMaxTerms = 16;

    bool Init(int r);
    template <typename TLine>
    void FilterLine(const TLine& line, unsigned char* out) const;
    void FilterColumns(const unsigned char* src, unsigned char* dst, int width, int height,
                       const unsigned char* zero_row, std::vector<uint64_t>& state) const;

    // floor(sum / total), clamped to 255.
    unsigned char Normalise(uint64_t sum) const;

    int n = 0;
    uint64_t nine_pow_n = 1;  // 9^n
    uint64_t total = 1;       // the kernel's total weight
    int shift = 0;            // 3n: weight 8^n as a shift
};

// Runs one kernel over every line of an accessor, through the line buffer.
template <typename TKernel, typename TAccessor>
void Blur1DLines(const TKernel& kernel, TAccessor accessor, std::vector<unsigned char>& buffer)
{
    buffer.resize(static_cast<std::size_t>(accessor.cur_object_length()));
    for (int i = 0; i < accessor.count(); ++i) {
        accessor.set_object(i);
        kernel.FilterLine(SafeAcessor<TAccessor>(accessor), buffer.data());
        accessor.fill_from(buffer);
    }
}

// Separable blur by a one-dimensional kernel: rows with the horizontal radius, then columns with
// the vertical radius; a radius below 1 skips its pass. Samples beyond a line count as 0.
template <typename TKernel>
class GaussianBlurWith1DProcessor : public events_detector_utils::IGaussianBlur {
public:
    // a and b are the horizontal and vertical radius in pixels; a radius above kMax1DRadius is
    // refused (false).
    bool InitProc(int a, int b) override
    {
        if (a > kMax1DRadius || b > kMax1DRadius)
            return false;
        m_radius_x = a;
        m_radius_y = b;
        return true;
    }

    bool ProcessGray(unsigned char* image, int width, int height) override;

    int RadiusX() const { return m_radius_x; }
    int RadiusY() const { return m_radius_y; }

private:
    std::vector<unsigned char> m_line;
    int m_radius_x = 0;
    int m_radius_y = 0;
    // The vectorised passes: the transposed image, the output image, a row of zeros and the
    // per-line running sums.
    std::vector<unsigned char> m_columns_out;
    std::vector<unsigned char> m_zero_row;
    std::vector<unsigned char> m_transposed;
    std::vector<typename std::conditional<std::is_same<TKernel, ExpApprox1D>::value, uint64_t, uint32_t>::type>
        m_column_state;
};

extern template class GaussianBlurWith1DProcessor<BoxFilter1D>;
extern template class GaussianBlurWith1DProcessor<LinearApprox1D>;
extern template class GaussianBlurWith1DProcessor<ExpApprox1D>;

// Window means applied 1, 2 or 3 times; the radii of the passes add up to InitProc's first
// argument (the first pass takes the remainder).
class GaussianBlurWith2DWindowMeans : public events_detector_utils::IGaussianBlur {
public:
    explicit GaussianBlurWith2DWindowMeans(int passes);

    bool InitProc(int a, int b) override;
    bool ProcessGray(unsigned char* image, int width, int height) override;

    int Passes() const { return m_passes; }
    int FirstRadius() const { return m_first_radius; }
    int LaterRadius() const { return m_later_radius; }

private:
    int m_passes;
    int m_later_radius = 0;
    int m_first_radius = 0;
    std::vector<char> m_scratch;
};

}  // namespace GaussianFixed
