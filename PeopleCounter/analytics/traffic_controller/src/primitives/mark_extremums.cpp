#include "PeopleCounter/analytics/traffic_controller/src/primitives/mark_extremums.h"

#include <cstring>
#include <opencv2/core.hpp>
#include <opencv2/core/hal/intrin.hpp>

#include "CommonUtilities/algorithm_support/kernel_path.h"

namespace detail {

void ScanPixel(const unsigned char* image, int* marks, int width, std::ptrdiff_t p, int radius)
{
    const int v = image[p];
    int& mark = marks[p];
    if (v == 0 || (mark & kMarkSuppressed))
        return;
    if (radius >= 0) {
        for (int dy = -radius; dy <= radius; ++dy) {
            const std::ptrdiff_t row = p + static_cast<std::ptrdiff_t>(dy) * width;
            for (int dx = -radius; dx <= radius; ++dx) {
                const std::ptrdiff_t q = row + dx;
                const int u = image[q];
                int& neighbour = marks[q];
                if (u < v) {
                    if (!(neighbour & kMarkProtectedBits))
                        neighbour |= kMarkSuppressed;
                } else if (u > v) {
                    if (!(neighbour & kMarkProtectedBits))
                        neighbour |= kMarkHasLarger;
                    return;
                }
            }
        }
    }
    if (!(mark & kMarkProtectedBits))
        mark = kMarkLocalMaximum;
}

}  // namespace detail

namespace AlgoLibrary {

void RunningMaximum(const unsigned char* src, unsigned char* dst, int n, int s, avector<int>& queue,
                    std::ptrdiff_t src_step, std::ptrdiff_t dst_step)
{
    if (n <= 0 || s <= 0)
        return;
    if (s == 1) {
        if (src_step == 1 && dst_step == 1)
            std::memcpy(dst, src, static_cast<std::size_t>(n));
        else
            for (int j = 0; j < n; ++j) dst[j * dst_step] = src[j * src_step];
        return;
    }
    if (queue.size() < static_cast<std::size_t>(n))
        queue.resize(static_cast<std::size_t>(n));
    int* indices = queue.data();
    int head = 0;  // front of the queue
    int tail = 0;  // one past its back
    const int outputs = n + s - 1;
    for (int j = 0; j < outputs; ++j) {
        if (head < tail && indices[head] <= j - s)
            ++head;
        if (j < n) {
            const unsigned char sample = src[j * src_step];
            if (head < tail && sample > src[indices[tail - 1] * src_step]) {
                while (head < tail && src[indices[tail - 1] * src_step] <= sample) --tail;
            }
            indices[tail++] = j;
        }
        dst[j * dst_step] = src[indices[head] * src_step];
    }
}

}  // namespace AlgoLibrary

CMarkExtremums::CMarkExtremums(AlgoLibrary::MemManager::MemoryManager& manager)
    : m_queue(avector<int>::allocator_type(manager)),
      m_row_maxima(avector<unsigned char>::allocator_type(manager)),
      m_col_maxima(avector<unsigned char>::allocator_type(manager))
{
}

const unsigned char* CMarkExtremums::WindowMaximaQueue(const unsigned char* image, int width, int height, int radius)
{
    const int s = 2 * radius + 1;
    const std::size_t row_length = static_cast<std::size_t>(width) + 2 * static_cast<std::size_t>(radius);
    m_row_maxima.resize(static_cast<std::size_t>(height) * row_length);
    m_col_maxima.resize(static_cast<std::size_t>(height + 2 * radius) * static_cast<std::size_t>(width));
    for (int y = 0; y < height; ++y)
        AlgoLibrary::RunningMaximum(image + static_cast<std::ptrdiff_t>(y) * width,
                                    m_row_maxima.data() + y * row_length, width, s, m_queue, 1, 1);
    // Entry x + r of a row holds the maximum of the window centred on column x.
    for (int x = 0; x < width; ++x)
        AlgoLibrary::RunningMaximum(m_row_maxima.data() + x + radius, m_col_maxima.data() + x, height, s, m_queue,
                                    static_cast<std::ptrdiff_t>(row_length), width);
    return m_col_maxima.data() + static_cast<std::size_t>(radius) * width;
}

namespace {

// line[i] = max(line[i], line[i + k]) for i = 0 .. count - 1, ascending (so in place).
void MaxWithShifted(unsigned char* line, int count, int k, AlgoLibrary::KernelPath path)
{
    int i = 0;
#if CV_SIMD
    if (path == AlgoLibrary::KernelPath::kVector) {
        const int step = cv::v_uint8::nlanes;
        for (; i + step <= count; i += step)
            cv::v_store(line + i, cv::v_max(cv::vx_load(line + i), cv::vx_load(line + i + k)));
    }
#else
    (void)path;
#endif
    for (; i < count; ++i) line[i] = std::max(line[i], line[i + k]);
}

// out[i] = max(a[i], b[i]) for i = 0 .. count - 1.
void MaxOfTwo(const unsigned char* a, const unsigned char* b, unsigned char* out, int count,
              AlgoLibrary::KernelPath path)
{
    int i = 0;
#if CV_SIMD
    if (path == AlgoLibrary::KernelPath::kVector) {
        const int step = cv::v_uint8::nlanes;
        for (; i + step <= count; i += step) cv::v_store(out + i, cv::v_max(cv::vx_load(a + i), cv::vx_load(b + i)));
    }
#else
    (void)path;
#endif
    for (; i < count; ++i) out[i] = std::max(a[i], b[i]);
}

}  // namespace

const unsigned char* CMarkExtremums::WindowMaximaDoubling(const unsigned char* image, int width, int height, int radius)
{
    // After the level of span k, entry i holds the maximum of entries i .. i + 2k - 1 of the
    // zero-padded line; two overlapping spans of the largest power of two K <= s cover a window.
    // Padding with 0 leaves the maxima of clipped windows unchanged (all samples are >= 0).
    const int s = 2 * radius + 1;
    int span = 1;
    while (2 * span <= s) span *= 2;
    const int padded_width = width + 2 * radius;
    const int padded_height = height + 2 * radius;
    const std::size_t w = static_cast<std::size_t>(width);
    m_row_maxima.resize(static_cast<std::size_t>(padded_width) + static_cast<std::size_t>(height) * w);
    m_col_maxima.resize(static_cast<std::size_t>(padded_height) * w);
    unsigned char* line = m_row_maxima.data();
    unsigned char* result = line + padded_width;
    unsigned char* columns = m_col_maxima.data();
    const AlgoLibrary::KernelPath path = AlgoLibrary::KernelPath::kVector;

    std::memset(columns, 0, static_cast<std::size_t>(radius) * w);
    std::memset(columns + static_cast<std::size_t>(radius + height) * w, 0, static_cast<std::size_t>(radius) * w);
    for (int y = 0; y < height; ++y) {
        // The levels overwrite the padding, so it is cleared for every row.
        std::memset(line, 0, static_cast<std::size_t>(radius));
        std::memcpy(line + radius, image + y * w, w);
        std::memset(line + radius + width, 0, static_cast<std::size_t>(radius));
        for (int k = 1; k < span; k *= 2) MaxWithShifted(line, padded_width - 2 * k + 1, k, path);
        MaxOfTwo(line, line + (s - span), columns + static_cast<std::size_t>(radius + y) * w, width, path);
    }
    for (int k = 1; k < span; k *= 2) MaxWithShifted(columns, (padded_height - 2 * k + 1) * width, k * width, path);
    for (int y = 0; y < height; ++y)
        MaxOfTwo(columns + y * w, columns + (y + s - span) * w, result + y * w, width, path);
    return result;
}

const unsigned char* CMarkExtremums::WindowMaxima(const unsigned char* image, int width, int height, int radius)
{
#if CV_SIMD
    if (AlgoLibrary::ActiveKernelPath() == AlgoLibrary::KernelPath::kVector)
        return WindowMaximaDoubling(image, width, height, radius);
#endif
    return WindowMaximaQueue(image, width, height, radius);
}

void CMarkExtremums::Mark(const unsigned char* image, const unsigned char* maxima, int width, int height,
                          CGrayImage<int>& marks, int border)
{
    for (int y = border; y < height - border; ++y) {
        const unsigned char* in = image + static_cast<std::ptrdiff_t>(y) * width;
        const unsigned char* max = maxima + static_cast<std::ptrdiff_t>(y) * width;
        int* out = marks.Row(y);
        for (int x = border; x < width - border; ++x)
            if (in[x] != 0 && in[x] == max[x])
                out[x] = kMarkLocalMaximum;
    }
}

void CMarkExtremums::MarkExtremumsRunningWindow(const avector<unsigned char>& image, int width, int height,
                                                CGrayImage<int>& marks, int radius)
{
    MarkExtremumsRunningWindowEntireImage(image, width, height, marks, radius, radius);
}

void CMarkExtremums::MarkExtremumsRunningWindowEntireImage(const avector<unsigned char>& image, int width, int height,
                                                           CGrayImage<int>& marks, int radius, int border)
{
    const std::size_t pixels =
        static_cast<std::size_t>(std::max(width, 0)) * static_cast<std::size_t>(std::max(height, 0));
    if (width <= 0 || height <= 0 || radius < 0 || image.size() < pixels || marks.width != width ||
        marks.height != height)
        return;
    const unsigned char* maxima = WindowMaxima(image.data(), width, height, radius);
    Mark(image.data(), maxima, width, height, marks, std::max(border, 0));
}
