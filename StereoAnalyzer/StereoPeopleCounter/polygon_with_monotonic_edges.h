#pragma once

#include <opencv2/core.hpp>
#include <utility>
#include <vector>

namespace stereo {

template <typename P>
class PolygonWithMonotonicAlongXEdges;

// A convex polygon prepared for row-wise pixel walks: for every row between its lowest and highest
// vertex, the smallest and largest x of its pixels (the edges walked as integer lines).
template <>
class PolygonWithMonotonicAlongXEdges<cv::Point_<int>> {
public:
    // Vertices in order around the polygon; throws exc::KIVException for fewer than 3.
    void Init(const std::vector<cv::Point_<int>>& vertices);

    const std::vector<cv::Point_<int>>& Vertices() const { return m_vertices; }
    const std::vector<std::pair<int, int>>& RowSpans() const { return m_row_spans; }
    int SmallestY() const { return m_smallest_y; }
    int PixelCount() const { return m_pixel_count; }

    // Visits the pixels row by row, left to right.
    void StartWalk();
    bool NextPixel(cv::Point_<int>& pixel);

private:
    void WidenSpan(int x, int y);

    std::vector<cv::Point_<int>> m_vertices;
    std::vector<std::pair<int, int>> m_row_spans;
    int m_smallest_y = 0;
    int m_pixel_count = 0;
    // Walk position.
    int m_walk_row = 0;
    int m_walk_x = 0;
    int m_walk_y = 0;
};

}  // namespace stereo
