#include "StereoAnalyzer/StereoPeopleCounter/polygon_with_monotonic_edges.h"

#include <algorithm>
#include <climits>
#include <cstdlib>

#include "CommonUtilities/algorithm_support/kiv_exception.h"

namespace stereo {

void PolygonWithMonotonicAlongXEdges<cv::Point_<int>>::WidenSpan(int x, int y)
{
    auto& span = m_row_spans[y - m_smallest_y];
    span.first = std::min(span.first, x);
    span.second = std::max(span.second, x);
}

void PolygonWithMonotonicAlongXEdges<cv::Point_<int>>::Init(const std::vector<cv::Point_<int>>& vertices)
{
    KIV_CHECK(vertices.size() >= 3, "PolygonInit_200811_130101") << "Too few vertices for polygon";
    m_vertices = vertices;
    int smallest = INT_MAX, largest = INT_MIN;
    for (const auto& v : m_vertices) {
        smallest = std::min(smallest, v.y);
        largest = std::max(largest, v.y);
    }
    m_smallest_y = smallest;
    m_row_spans.assign(static_cast<size_t>(largest - smallest + 1), std::make_pair(INT_MAX, INT_MIN));
    for (size_t i = 0; i < m_vertices.size(); ++i) {
        const cv::Point_<int> from = m_vertices[i], to = m_vertices[(i + 1) % m_vertices.size()];
        // Bresenham: step along the longer axis, the error term decides the steps of the other.
        const int dx = to.x - from.x, dy = to.y - from.y;
        const int adx = std::abs(dx), ady = std::abs(dy);
        const int sx = dx > 0 ? 1 : (dx < 0 ? -1 : 0), sy = dy > 0 ? 1 : (dy < 0 ? -1 : 0);
        const bool along_x = adx >= ady;
        const int main_length = along_x ? adx : ady, other_length = along_x ? ady : adx;
        int x = from.x, y = from.y, error = main_length / 2;
        WidenSpan(x, y);
        for (int step = 0; step < main_length; ++step) {
            error += other_length;
            if (error >= main_length) {
                error -= main_length;
                (along_x ? y : x) += along_x ? sy : sx;
            }
            (along_x ? x : y) += along_x ? sx : sy;
            WidenSpan(x, y);
        }
    }
    m_pixel_count = 0;
    for (const auto& span : m_row_spans) m_pixel_count += span.second - span.first + 1;
    StartWalk();
}

void PolygonWithMonotonicAlongXEdges<cv::Point_<int>>::StartWalk()
{
    m_walk_row = 0;
    m_walk_y = m_smallest_y;
    m_walk_x = m_row_spans.empty() ? 0 : m_row_spans[0].first;
}

bool PolygonWithMonotonicAlongXEdges<cv::Point_<int>>::NextPixel(cv::Point_<int>& pixel)
{
    while (m_walk_row < static_cast<int>(m_row_spans.size()) && m_walk_x > m_row_spans[m_walk_row].second) {
        ++m_walk_row;
        ++m_walk_y;
        if (m_walk_row < static_cast<int>(m_row_spans.size()))
            m_walk_x = m_row_spans[m_walk_row].first;
    }
    if (m_walk_row >= static_cast<int>(m_row_spans.size()))
        return false;
    pixel = cv::Point_<int>(m_walk_x++, m_walk_y);
    return true;
}

}  // namespace stereo
