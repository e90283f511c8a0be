#pragma once

#include <algorithm>
#include <cstddef>

#include "CommonUtilities/algorithm_support/mem_manager.h"
#include "PeopleCounter/analytics/traffic_controller/src/primitives/gray_image.h"
#include "PeopleCounter/analytics/traffic_controller/src/primitives/kiv_types.h"

// Marks written into the extremum image.
constexpr int kMarkLocalMaximum = 0x100011;
constexpr int kMarkSuppressed = 0x100;        // known to be smaller than a neighbour; not examined
constexpr int kMarkHasLarger = 0x200;         // a neighbour under examination was smaller than it
constexpr int kMarkProtectedBits = 0x10000F;  // a mark with any of these bits is never changed

namespace AlgoLibrary {

// A rectangle (right and bottom exclusive) inside an image of the given size.
template <typename TRect>
struct RectangularFilterRegion {
    TRect rect;
    int width;
    int height;
};

}  // namespace AlgoLibrary

namespace detail {

// The rows and, per row, the columns that MarkExtremumsEx visits.
template <typename TRect>
inline void VisitRows(const AlgoLibrary::RectangularFilterRegion<TRect>& region, int border, int& first, int& last)
{
    first = std::max(border, region.rect.top);
    last = std::min(region.height - border - 1, region.rect.bottom - 1);
}

template <typename TRect>
inline void VisitColumns(const AlgoLibrary::RectangularFilterRegion<TRect>& region, int /*y*/, int border, int& first,
                         int& last)
{
    first = std::max(border, region.rect.left);
    last = std::min(region.rect.right - 1, region.width - border - 1);
}

template <typename TRegion>
inline auto VisitRows(const TRegion& region, int border, int& first, int& last) -> decltype(region.row_span(0), void())
{
    first = std::max(border, region.first_row());
    last = std::min(region.height() - border - 1, region.last_row());
}

template <typename TRegion>
inline auto VisitColumns(const TRegion& region, int y, int border, int& first, int& last)
    -> decltype(region.row_span(0), void())
{
    const auto span = region.row_span(y);
    first = std::max(border, span.first);
    last = std::min(span.second, region.width() - border - 1);
}

// The scan of one pixel at offset p of a width-wide image: see MarkExtremumsEx.
void ScanPixel(const unsigned char* image, int* marks, int width, std::ptrdiff_t p, int radius);

}  // namespace detail

// Marks local maxima of `image` in `marks` by a scan that suppresses smaller neighbours as it
// goes: a pixel becomes kMarkLocalMaximum when its (2r + 1)^2 window holds nothing larger. Only
// pixels of the region at least `border` from the image edges are examined; a border below r is
// raised to r so that every window stays inside the image. Returns true.
template <bool kMinimums, bool kSuppress, typename TRegion>
bool MarkExtremumsEx(const avector<unsigned char>& image, CGrayImage<int>& marks, const TRegion& region, int radius,
                     int border)
{
    static_assert(!kMinimums && kSuppress, "only the suppressing maximum scan exists");
    const int width = marks.width;
    const int height = marks.height;
    if (width <= 0 || height <= 0 || image.size() < static_cast<std::size_t>(width) * static_cast<std::size_t>(height))
        return true;
    border = std::max({border, radius, 0});
    int first_row, last_row;
    detail::VisitRows(region, border, first_row, last_row);
    last_row = std::min(last_row, height - border - 1);
    for (int y = first_row; y <= last_row; ++y) {
        int first_col, last_col;
        detail::VisitColumns(region, y, border, first_col, last_col);
        last_col = std::min(last_col, width - border - 1);
        for (int x = first_col; x <= last_col; ++x)
            detail::ScanPixel(image.data(), marks.pixels.data(), width, static_cast<std::ptrdiff_t>(y) * width + x,
                              radius);
    }
    return true;
}

namespace AlgoLibrary {

// The full sliding maximum of a line: output j (0 .. n + s - 2) is the maximum of the samples
// j - s + 1 .. j that lie inside 0 .. n - 1, by a monotonic queue of indices (which grows to n).
void RunningMaximum(const unsigned char* src, unsigned char* dst, int n, int s, avector<int>& queue,
                    std::ptrdiff_t src_step, std::ptrdiff_t dst_step);

}  // namespace AlgoLibrary

// Marks the pixels that equal the maximum of their window, found by running maxima.
class CMarkExtremums {
public:
    explicit CMarkExtremums(AlgoLibrary::MemManager::MemoryManager& manager);

    // Window (2r + 1)^2 wholly inside the image: pixels at least r from every edge whose value is
    // not 0 and equals their window's maximum become kMarkLocalMaximum; other marks stay.
    void MarkExtremumsRunningWindow(const avector<unsigned char>& image, int width, int height, CGrayImage<int>& marks,
                                    int radius);

    // The same with windows clipped at the image edges, for pixels at least `border` from every
    // edge.
    void MarkExtremumsRunningWindowEntireImage(const avector<unsigned char>& image, int width, int height,
                                               CGrayImage<int>& marks, int radius, int border);

private:
    // maxima[y * width + x] = maximum of the window of radius r around (x, y), clipped at the
    // edges. Scalar: row then column running maxima; vectorised: maxima of doubling spans.
    // Returns row 0 of those maxima (stride = width).
    const unsigned char* WindowMaxima(const unsigned char* image, int width, int height, int radius);
    const unsigned char* WindowMaximaQueue(const unsigned char* image, int width, int height, int radius);
    const unsigned char* WindowMaximaDoubling(const unsigned char* image, int width, int height, int radius);
    // Marks the pixels of rows and columns border .. size - border - 1 that equal their maxima.
    static void Mark(const unsigned char* image, const unsigned char* maxima, int width, int height,
                     CGrayImage<int>& marks, int border);

    avector<int> m_queue;
    avector<unsigned char> m_row_maxima;
    avector<unsigned char> m_col_maxima;
};
