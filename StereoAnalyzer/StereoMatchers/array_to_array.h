#pragma once

#include <cstddef>
#include <cstring>
#include <iterator>
#include <type_traits>

// Row walkers over two 2-D arrays. A position is a raw element pointer or a cv::MatIterator_;
// steps and the row width count elements. Every row start is computed from the start position and
// the row index, so no position is ever moved outside its array.
namespace array_to_array {

namespace detail {

// The start of row `row` of `rows`, counted from the bottom when `bottom_up` is set.
template <typename Pos>
Pos RowStart(Pos start, bool bottom_up, int row, int rows, int step)
{
    const int index = bottom_up ? rows - 1 - row : row;
    return start + static_cast<std::ptrdiff_t>(index) * step;
}

}  // namespace detail

// Applies `op` to `width` elements of each of `rows` source rows and writes the results from the
// matching destination row start on. With `bottom_up` set, source row i lands in destination row
// rows - 1 - i. Each element is read before the destination element at the same position is
// written, so source and destination may be the same array (same element type, same steps).
template <typename SrcPos, typename DstPos, typename Op>
void Transform2DArrayTo2DArray(bool bottom_up, SrcPos src, int src_step, int width, int rows, int dst_step, DstPos dst,
                               Op op)
{
    for (int row = 0; row < rows; ++row) {
        SrcPos s = detail::RowStart(src, false, row, rows, src_step);
        DstPos d = detail::RowStart(dst, bottom_up, row, rows, dst_step);
        if constexpr (std::is_pointer_v<SrcPos> && std::is_pointer_v<DstPos>) {
            for (int col = 0; col < width; ++col) d[col] = op(s[col]);
        } else {
            for (int col = 0; col < width; ++col, ++s, ++d) *d = op(*s);
        }
    }
}

// Copies rows of one element type unchanged. Between two pointers each row is one block move that
// tolerates overlapping memory.
template <typename SrcPos, typename DstPos>
void Copy2DArrayTo2DArray(bool bottom_up, SrcPos src, int src_step, int width, int rows, int dst_step, DstPos dst)
{
    if constexpr (std::is_pointer_v<SrcPos> && std::is_pointer_v<DstPos>) {
        using Element = std::remove_cv_t<std::remove_pointer_t<SrcPos>>;
        static_assert(std::is_same_v<Element, std::remove_pointer_t<DstPos>>, "a copy keeps the element type");
        if (width < 1)
            return;
        for (int row = 0; row < rows; ++row) {
            std::memmove(detail::RowStart(dst, bottom_up, row, rows, dst_step),
                         detail::RowStart(src, false, row, rows, src_step),
                         static_cast<std::size_t>(width) * sizeof(Element));
        }
    } else {
        Transform2DArrayTo2DArray(bottom_up, src, src_step, width, rows, dst_step, dst,
                                  [](const auto& value) { return value; });
    }
}

}  // namespace array_to_array
